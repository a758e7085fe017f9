#include "audio/null/null_sink.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "platform/thread_name.h"

bool NullSink::open(AudioPull pull) {
    close();
    if (!pull || blockFrames_ <= 0) return false;
    pull_ = std::move(pull);
    {
        std::lock_guard<std::mutex> lock(mu_);
        stop_ = false;
    }
    thread_ = std::thread([this] {
        setThreadName("kordo-sink");
        run();
    });
    return true;
}

void NullSink::close() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        stop_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
    pull_ = nullptr;
}

void NullSink::resume() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        ++resumes_;
    }
    cv_.notify_all();
}

void NullSink::run() {
    using clock = std::chrono::steady_clock;
    std::vector<float> buf(size_t(blockFrames_) * kChannels);
    auto start = clock::now();
    int64_t pulled = 0;  // frames since `start`, for a deadline that does not drift
    std::unique_lock<std::mutex> lock(mu_);
    while (!stop_) {
        const uint64_t seen = resumes_;
        lock.unlock();
        const bool more = pull_(buf.data(), blockFrames_);
        if (tap) tap(buf.data(), blockFrames_);
        pulled += blockFrames_;
        const auto due = start + std::chrono::microseconds(pulled * 1000000 / kRate);
        lock.lock();
        if (!more && resumes_ == seen) {
            cv_.wait(lock, [&] { return stop_ || resumes_ != seen; });
            if (stop_) break;
            // The rest, from the end of the last block to now, as silence.
            const auto now = clock::now();
            if (tap && now > due) {
                lock.unlock();
                int64_t left =
                    std::chrono::duration_cast<std::chrono::microseconds>(now - due).count() *
                    kRate / 1000000;
                std::fill(buf.begin(), buf.end(), 0.0f);
                while (left > 0) {
                    const int n = int(std::min<int64_t>(left, blockFrames_));
                    tap(buf.data(), n);
                    left -= n;
                }
                lock.lock();
            }
            start = now;
            pulled = 0;
            continue;
        }
        cv_.wait_until(lock, due, [&] { return stop_; });
    }
}
