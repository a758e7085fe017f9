#include "audio/memory/memory_sink.h"

bool MemorySink::open(AudioPull pull) {
    std::lock_guard<std::mutex> lock(mu_);
    pull_ = std::move(pull);
    return static_cast<bool>(pull_);
}

void MemorySink::close() {
    std::lock_guard<std::mutex> lock(mu_);
    pull_ = nullptr;
}

std::vector<float> MemorySink::render(int frames) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!pull_ || frames <= 0) return {};
    std::vector<float> out(size_t(frames) * kChannels);
    pull_(out.data(), frames);
    return out;
}
