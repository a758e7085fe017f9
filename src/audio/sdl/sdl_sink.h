// The Linux output: SDL2 core audio, 44100 Hz stereo float, pulled by
// SDL's audio thread.
#pragma once

#include <cstdint>

#include "platform/audio_sink.h"

struct SdlSink : AudioSink {
    // `bufferFrames`: the device buffer asked of SDL (a power of two).
    explicit SdlSink(int bufferFrames = 512) : bufferFrames_(bufferFrames) {}
    ~SdlSink() override { close(); }
    bool open(AudioPull pull) override;
    void close() override;

private:
    static void callback(void* self, uint8_t* stream, int len);
    int bufferFrames_;
    uint32_t device_ = 0;
    bool subsystem_ = false;
    AudioPull pull_;
};
