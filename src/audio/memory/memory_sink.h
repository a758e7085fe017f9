// An output that plays nothing until asked: render() pulls frames from the
// mixer on the calling thread, as fast as it can, into memory.  Streams are
// waited for rather than allowed to underrun (realTime() is false), so what
// is rendered is the same on every run.  For tests and benchmarks.
#pragma once

#include <mutex>
#include <vector>

#include "platform/audio_sink.h"

struct MemorySink : AudioSink {
    bool open(AudioPull pull) override;
    void close() override;
    bool realTime() const override { return false; }

    // Pulls `frames` stereo frames; empty when the sink is not open.
    std::vector<float> render(int frames);

private:
    std::mutex mu_;
    AudioPull pull_;
};
