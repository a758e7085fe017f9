#include "speech/speech.h"

#include <mutex>

#include "platform/speech_backend.h"

std::atomic<bool> speakMenuOnItemChange{false};

namespace {
// Serialises back-end calls so that a line from one thread is handed over
// whole before another thread's line, in the order sayString() was entered.
std::mutex speechMutex;
SpeechBackend* backend = nullptr;
}  // namespace

void sayString(const std::string& s, bool interrupt) {
    std::lock_guard<std::mutex> lock(speechMutex);
    if (backend) backend->speak(s, interrupt);
}

void setSpeechBackend(SpeechBackend* b) {
    std::lock_guard<std::mutex> lock(speechMutex);
    backend = b;
}

SpeechBackend* speechBackend() {
    std::lock_guard<std::mutex> lock(speechMutex);
    return backend;
}
