// The Windows outputs.
//
// WasapiSink: WASAPI shared mode on the default render endpoint, 44100 Hz
// stereo float (the audio engine converts to the device's rate), event
// driven, on a thread of the sink's own that also owns every COM object.
// When the endpoint goes away (unplugged headset, changed default device),
// the thread opens the new default endpoint and goes on pulling.  While
// nothing sounds (a pull returned false) the stream is stopped and the
// thread sleeps on an event of its own until resume() or close().
//
// WindowsSink: WASAPI first; waveOut (waveout_sink.h) when WASAPI cannot
// open (Windows before Vista, no endpoint, a driver that refuses the format).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "audio/wasapi/waveout_sink.h"
#include "platform/audio_sink.h"

struct WasapiSink : AudioSink {
    ~WasapiSink() override;
    bool open(AudioPull pull) override;
    void close() override;
    void resume() override;

private:
    // The thread: opens the endpoint, reports through `opened`, then renders
    // until stop_, re-opening after a device loss.
    void run(std::shared_ptr<std::atomic<int>> opened);

    AudioPull pull_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> resumes_{0};  // resume() calls so far
    HANDLE wake_ = nullptr;             // auto-reset: resume() or close()
    std::thread thread_;
};

struct WindowsSink : AudioSink {
    ~WindowsSink() override { close(); }
    bool open(AudioPull pull) override;
    void close() override;
    void resume() override;
    // Which output is playing: "wasapi", "waveout" or "" when closed.
    const char* backend() const { return active_ ? active_name_ : ""; }

private:
    WasapiSink wasapi_;
    WaveOutSink waveOut_;
    AudioSink* active_ = nullptr;
    const char* active_name_ = "";
};
