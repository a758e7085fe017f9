#include "platform/clock.h"

#include <chrono>
#include <thread>

int64_t RealClock::now() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

void RealClock::sleepMs(int64_t ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void FakeClock::sleepMs(int64_t ms) {
    if (ms < 0) ms = 0;
    ms_ += ms;
    slept_ += ms;
    std::this_thread::yield();
}

namespace {
RealClock realClock;
std::atomic<Clock*> current{&realClock};
}  // namespace

Clock& sysClock() { return *current.load(std::memory_order_acquire); }

void setClock(Clock* c) { current.store(c ? c : &realClock, std::memory_order_release); }
