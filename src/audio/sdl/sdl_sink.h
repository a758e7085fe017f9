// The Linux output: SDL2 core audio, 44100 Hz stereo float, pulled by
// SDL's audio thread.
//
// Resting: SDL's audio thread goes on waking at every period even while
// the device is paused, so a sink with nothing to play closes its device
// instead.  The callback cannot close it (closing joins the thread the
// callback runs on), so a thread of the sink's own does: it sleeps until
// the callback reports a pull that returned false, and then, if no resume()
// came since, retires the device (its callback pulls no more) and hands it
// to a closing thread.  The next resume() opens a new device at once, in
// about 3 ms, without waiting for the old one's close: SDL's PulseAudio
// driver drains the stream as it closes, which took 1.7 s against a
// PulseAudio null sink, and a sound asked for meanwhile must not wait for it.
// Drivers that open one device at a time (SDL's dummy driver) refuse the new
// device while the old one closes: the wake then waits for that close.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
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

  protected:
    // Closes a retired device (SDL_CloseAudioDevice): on the closing thread,
    // or in close().  Tests make it slow.
    virtual void closeDevice(uint32_t id);

  private:
    // One opened device: its callback's userdata.  Retired under SDL's
    // device lock, so that once `retired` is set its callback is not inside
    // the pull and never enters it again; a retired device only plays
    // silence until it is closed.
    struct Device {
        SdlSink* sink = nullptr;
        uint32_t id = 0;
        std::atomic<bool> retired{false};  // set under SDL_LockAudioDevice(id)
    };
    static void callback(void* self, uint8_t* stream, int len);
    // Opens and starts a new current device; false when none opens.  The
    // resting thread, or open().
    bool openDevice();
    // The current device stops pulling and goes to the closing thread.
    void retireDevice();
    // openDevice(), and when it fails while retired devices are still
    // closing, once more after those closes.
    bool reopenDevice();
    // The resting and closing threads (see above).
    void rest();
    void closing();

    int bufferFrames_;
    bool subsystem_ = false;
    AudioPull pull_;

    // The current device: written by open(), close() and the resting thread
    // only, which never run at once (the resting thread starts after open()
    // and is joined first by close()).
    std::unique_ptr<Device> device_;

    std::atomic<uint64_t> resumes_{0};  // resume() calls so far
    std::mutex mu_;                     // what follows; the callback takes it briefly
    std::condition_variable cv_;        // the resting thread
    bool restAsked_ = false;            // a pull returned false...
    uint64_t restSeen_ = 0;             // ...when resumes_ was this
    bool resting_ = false;              // no current device, for a rest
    bool wakeAsked_ = false;            // resume() came while resting
    bool stop_ = false;
    std::thread restThread_;

    std::mutex closeMu_;
    std::condition_variable closeCv_;              // the closing thread
    std::condition_variable closedCv_;             // a wake waiting for the closes
    std::deque<std::unique_ptr<Device>> toClose_;  // guarded by closeMu_
    int closesUnderWay_ = 0;                       // guarded by closeMu_
    bool closeStop_ = false;                       // guarded by closeMu_
    std::thread closeThread_;
};
