// The Linux output: SDL2 core audio, 44100 Hz stereo float, pulled by
// SDL's audio thread.
//
// Resting: SDL's audio thread goes on waking at every period even while
// the device is paused, so a sink with nothing to play closes its device
// instead.  The callback cannot close it (closing joins the thread the
// callback runs on), so a thread of the sink's own does: it sleeps until
// the callback reports a pull that returned false, closes the device if no
// resume() came since, and opens it again at the next resume() (about
// 0.2 ms with the dummy driver, 2 to 10 ms with PulseAudio).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/audio_sink.h"

struct SdlSink : AudioSink {
    // `bufferFrames`: the device buffer asked of SDL (a power of two).
    explicit SdlSink(int bufferFrames = 512) : bufferFrames_(bufferFrames) {}
    ~SdlSink() override { close(); }
    bool open(AudioPull pull) override;
    void close() override;
    void resume() override;

  private:
    static void callback(void* self, uint8_t* stream, int len);
    // Opens and starts the device; false when none opens.  Caller holds devMu_.
    bool openDevice();
    // The resting thread (see above).
    void rest();

    int bufferFrames_;
    bool subsystem_ = false;
    AudioPull pull_;

    std::mutex devMu_;  // device_; never taken by the callback
    uint32_t device_ = 0;

    std::atomic<uint64_t> resumes_{0};  // resume() calls so far
    std::mutex mu_;                     // what follows; the callback takes it briefly
    std::condition_variable cv_;        // the resting thread
    bool restAsked_ = false;            // a pull returned false...
    uint64_t restSeen_ = 0;             // ...when resumes_ was this
    bool resting_ = false;              // the device is closed (or closing) for a rest
    bool wakeAsked_ = false;            // resume() came while resting
    bool stop_ = false;
    std::thread restThread_;
};
