// Clock and sleep seam.  The real clock reads the system time; the fake one
// lets tests run the reconnection waits (1, 3, 5, 11 s) and the 23-second
// guard without waiting: sleeping advances its time at once.
#pragma once

#include <atomic>
#include <cstdint>

struct Clock {
    virtual ~Clock() = default;
    // Seconds since 1970-01-01 UTC.
    virtual int64_t now() = 0;
    // Blocks the calling thread for `ms` milliseconds (fake: advances time).
    virtual void sleepMs(int64_t ms) = 0;
};

struct RealClock : Clock {
    int64_t now() override;
    void sleepMs(int64_t ms) override;
};

// Thread-safe fake: time only moves through sleepMs() and advanceMs().
struct FakeClock : Clock {
    explicit FakeClock(int64_t startSeconds = 1700000000) : ms_(startSeconds * 1000) {}
    int64_t now() override { return ms_.load() / 1000; }
    void sleepMs(int64_t ms) override;
    void advanceMs(int64_t ms) { ms_ += ms; }
    int64_t nowMs() const { return ms_.load(); }
    // Total milliseconds slept through this clock.
    int64_t sleptMs() const { return slept_.load(); }

private:
    std::atomic<int64_t> ms_;
    std::atomic<int64_t> slept_{0};
};

Clock& sysClock();
void setClock(Clock* c);  // nullptr restores the real clock
