// The Window-Eyes back-end: the screen reader's COM speech object (coclass
// Speak of its GWSPEAKLib type library), reached through its ISpeak
// interface.  Windows only.
#pragma once

#include <memory>

#include "platform/speech_backend.h"

// The ready back-end when Window-Eyes' speech object can be created, else
// nullptr.  Initialises COM on the calling thread (the UI thread, during
// detection).  The object is never released: it lives until the process
// ends, and the other threads' calls (dispatch, receive) reach it through it.
std::unique_ptr<SpeechBackend> windowEyesSpeech();
