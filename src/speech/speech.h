// The one speech operation of the client.  Thread-safe: called from the UI,
// receive and connecting threads.
#pragma once

#include <atomic>
#include <string>

struct SpeechBackend;

// Speaks `s` (CP1252) through the selected back-end; silent when none.
void sayString(const std::string& s, bool interrupt);

// Installs the back-end that sayString() reaches (nullptr: silent).  The
// caller keeps ownership and keeps it alive while it is installed.
void setSpeechBackend(SpeechBackend* backend);
SpeechBackend* speechBackend();

// True when the client speaks menu items itself (a self-voicing back-end is
// in use); false under a screen reader, which follows the list.  Set by
// back-end selection; read on any thread.
extern std::atomic<bool> speakMenuOnItemChange;
