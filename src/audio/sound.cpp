#include "audio/sound.h"

#include <mutex>

namespace {
std::mutex observerMutex;
PlayRequestObserver observer;
}  // namespace

void setPlayRequestObserver(PlayRequestObserver o) {
    std::lock_guard<std::mutex> lock(observerMutex);
    observer = std::move(o);
}

void playSound(std::string_view sz, int flags) {
    PlayRequestObserver o;
    {
        std::lock_guard<std::mutex> lock(observerMutex);
        o = observer;
    }
    if (o) o(sz, flags);
    // The mixer is not there yet: requests are only observed.
}
