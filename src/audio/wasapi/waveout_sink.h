// The Windows output through the waveOut interface: 44100 Hz stereo 16-bit,
// a ring of buffers refilled by a thread of the sink's own, which pulls from
// the mixer and converts its float frames (clipped) to 16-bit.
//
// waveOut is the interface every Windows since 95 has; WindowsSink
// (wasapi_sink.h) falls back to it when WASAPI cannot open.  A device lost
// while playing leaves this sink silent until it is opened again.  While
// nothing sounds (a pull returned false) no buffer is refilled and the
// thread sleeps until resume() or close().
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "platform/audio_sink.h"

struct WaveOutSink : AudioSink {
    // `bufferFrames` per buffer, `buffers` queued at once: about 23 ms x 4
    // of latency with the defaults.
    explicit WaveOutSink(int bufferFrames = 1024, int buffers = 4)
        : bufferFrames_(bufferFrames), bufferCount_(buffers) {}
    ~WaveOutSink() override { close(); }
    bool open(AudioPull pull) override;
    void close() override;
    void resume() override;

private:
    void run();
    // Fills and queues buffer i.  False when the device refused it.
    bool submit(int i);

    int bufferFrames_;
    int bufferCount_;
    HWAVEOUT device_ = nullptr;
    HANDLE event_ = nullptr;  // signalled by the device when a buffer is done
    HANDLE wake_ = nullptr;   // auto-reset: resume() or close()
    std::atomic<uint64_t> resumes_{0};  // resume() calls so far
    bool more_ = true;        // what the latest pull said (the sink's thread)
    std::vector<WAVEHDR> headers_;
    std::vector<std::vector<int16_t>> data_;
    std::vector<float> mix_;
    AudioPull pull_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
