// An output without a device: a thread pulls blocks from the mixer at the
// pace a 44100 Hz device would, so timing, fades and streams behave as on a
// sound card.  What it pulls can be handed to a tap (the headless front-end
// writes it to a WAV file).
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/audio_sink.h"

struct NullSink : AudioSink {
    // `blockFrames`: frames pulled per period (the device buffer it mimics).
    explicit NullSink(int blockFrames = 512) : blockFrames_(blockFrames) {}
    ~NullSink() override { close(); }

    // Called on the sink's thread with every block pulled, before the next
    // one.  Set before open().
    std::function<void(const float* frames, int count)> tap;

    bool open(AudioPull pull) override;
    void close() override;

private:
    void run();
    int blockFrames_;
    AudioPull pull_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
};
