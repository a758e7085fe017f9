#include "audio/null/null_sink.h"

#include <chrono>
#include <vector>

bool NullSink::open(AudioPull pull) {
    close();
    if (!pull || blockFrames_ <= 0) return false;
    pull_ = std::move(pull);
    stop_ = false;
    thread_ = std::thread([this] { run(); });
    return true;
}

void NullSink::close() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    pull_ = nullptr;
}

void NullSink::run() {
    using clock = std::chrono::steady_clock;
    std::vector<float> buf(size_t(blockFrames_) * kChannels);
    const auto start = clock::now();
    int64_t pulled = 0;  // frames, for a deadline that does not drift
    while (!stop_.load()) {
        pull_(buf.data(), blockFrames_);
        if (tap) tap(buf.data(), blockFrames_);
        pulled += blockFrames_;
        auto due = start + std::chrono::microseconds(pulled * 1000000 / kRate);
        std::this_thread::sleep_until(due);
    }
}
