// Sound effects and music: the operations the rest of the client calls.
// Names and specifications are CP1252 text from the server.
#pragma once

#include <functional>
#include <string>
#include <string_view>

// Plays a sound effect.  `sz` is the server's sound specification; `flags`
// bit 0 (1) urgent, bit 1 (2) background only.  Thread-safe: the body runs
// on the UI thread and the caller waits for it.
void playSound(std::string_view sz, int flags);

// Observer of every playSound request, called on the calling thread at entry
// with the arguments as given (tests, headless).  nullptr removes it.
using PlayRequestObserver = std::function<void(std::string_view sz, int flags)>;
void setPlayRequestObserver(PlayRequestObserver observer);
