// The audio output seam: a device that plays interleaved stereo float frames
// at 44100 Hz and pulls them from the mixer as it needs them.
//
// Ports: SDL2 (Linux), WASAPI/waveOut (Windows), a null sink that keeps real
// time without a device, and a memory sink that tests drive by hand.
#pragma once

#include <functional>

// Fills `out` with `frames` frames of interleaved stereo float (L, R, ...),
// values nominally in -1..1.  Called on the sink's own thread (the device
// callback) or, for the memory sink, on the thread that asks it to render.
// Returns false once nothing has sounded for a while and nothing plays:
// a real-time sink may then rest (stop pulling, stop its device, wake no
// more) until resume().
using AudioPull = std::function<bool(float* out, int frames)>;

struct AudioSink {
    virtual ~AudioSink() = default;
    static constexpr int kRate = 44100;
    static constexpr int kChannels = 2;
    // Starts pulling from `pull`.  False when no device can be opened; the
    // sink is then closed and may be opened again later.
    virtual bool open(AudioPull pull) {
        (void)pull;
        return false;
    }
    // Stops pulling; once it returns `pull` is never called again.
    virtual void close() {}
    // Something starts sounding: a sink resting since a pull returned false
    // pulls again within a few milliseconds.  A call made after such a pull
    // began (and before the sink rested) cancels that rest, so no start is
    // lost.  Any thread; cheap while the sink pulls.
    virtual void resume() {}
    // True for sinks that play in real time.  A sink that renders on demand
    // (tests) returns false, and the mixer then waits for streamed music to
    // be decoded instead of letting it underrun.
    virtual bool realTime() const { return true; }
};
