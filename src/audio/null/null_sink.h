// An output without a device: a thread pulls blocks from the mixer at the
// pace a 44100 Hz device would, so timing, fades and streams behave as on a
// sound card.  What it pulls can be handed to a tap (the headless front-end
// writes it to a WAV file).
//
// While nothing sounds (a pull returned false) the thread rests: it sleeps
// until resume() or close(), with no tick.  On waking it hands the tap the
// silence of the rest, so that what the tap records keeps real time, and
// pulls at once.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/audio_sink.h"

struct NullSink : AudioSink {
    // `blockFrames`: frames pulled per period (the device buffer it mimics).
    explicit NullSink(int blockFrames = 512) : blockFrames_(blockFrames) {}
    ~NullSink() override { close(); }

    // Called on the sink's thread with every block pulled, and with the
    // silence of each rest, in order.  Set before open().
    std::function<void(const float* frames, int count)> tap;

    bool open(AudioPull pull) override;
    void close() override;
    void resume() override;

  private:
    void run();
    int blockFrames_;
    AudioPull pull_;
    std::thread thread_;
    std::mutex mu_;
    std::condition_variable cv_;  // the thread: stop_ or a resume()
    bool stop_ = false;           // guarded by mu_
    uint64_t resumes_ = 0;        // guarded by mu_: resume() calls so far
};
