// Mixer costs.
//
// BM_Mix128Voices: one 512-frame block with 128 playbacks of one sample at
// random volume, pan and rate.  "core%" is the share of one core the mix
// takes in real time (time per block / 11.6 ms of audio).
//
// BM_PlayToFirstFrame/<frames>/<sink>/<rested>: the play latency as the
// player meets it, from a "play " line handed to the dispatcher (as the
// receive thread hands each line it reads) to the pull that gives the first
// non-silent frame to a sink with a buffer of <frames> frames.  <sink> 0 is
// the null sink, pacing itself like a device; 1 is SDL's output on the
// driver SDL_AUDIODRIVER names (dummy when unset).  <rested> 1 waits before
// each trial until the output rests (nothing sounded for half a second), so
// the figure includes waking it: for SDL, opening the device again.  In
// between: the dispatcher's table, playSound, the hand-over to a UI thread
// that waits on a task queue (as the headless front-end's does) and back,
// and up to one buffer of output already mixed.  Mean in the time column;
// "max_ms" the worst trial, "buffer_ms" the sink's buffer.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <numbers>
#include <random>
#include <thread>

#include "app/dispatch.h"
#include "audio/memory/memory_sink.h"
#include "audio/mixer.h"
#include "audio/null/null_sink.h"
#ifdef KORDO_BENCH_SDL
#include "audio/sdl/sdl_sink.h"
#endif
#include "audio/sound.h"
#include "net/agc.h"
#include "platform/ui.h"
#include "platform/ui_queue.h"
#include "bench_ui.h"

namespace {

Pcm sine(int frames) {
    Pcm p;
    p.channels = 1;
    p.rate = kMixRate;
    p.data.resize(size_t(frames));
    for (int i = 0; i < frames; ++i)
        p.data[size_t(i)] = int16_t(std::lround(6554.0 * std::sin(2 * std::numbers::pi * 440 * i / kMixRate)));
    return p;
}

void BM_Mix128Voices(benchmark::State& state) {
    mixReset();
    MixSample s = mixSampleFromPcm(sine(kMixRate * 30));
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> vol(0, 1), pan(-1, 1), rate(kMixRate / 2.0f, kMixRate * 2.0f);
    auto fill = [&] {
        while (mixActiveChannels() < kMixMaxPlaybacks) {
            MixChannel c = mixSampleGetChannel(s);
            mixSetAttribute(c, MixAttrib::Vol, vol(rng));
            mixSetAttribute(c, MixAttrib::Pan, pan(rng));
            mixSetAttribute(c, MixAttrib::Freq, rate(rng));
            mixPlay(c, false);
        }
    };
    fill();
    constexpr int kFrames = 512;
    std::vector<float> out(kFrames * 2);
    int64_t n = 0;
    double cpu = 0;  // seconds of this thread's CPU spent mixing
    for (auto _ : state) {
        timespec a, b;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
        mixRender(out.data(), kFrames);
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
        cpu += double(b.tv_sec - a.tv_sec) + double(b.tv_nsec - a.tv_nsec) * 1e-9;
        benchmark::DoNotOptimize(out.data());
        if ((++n & 255) == 0) {
            state.PauseTiming();
            fill();
            state.ResumeTiming();
        }
    }
    state.counters["core%"] = cpu / (double(state.iterations()) * kFrames / kMixRate) * 100.0;
    mixReset();
}
BENCHMARK(BM_Mix128Voices)->Unit(benchmark::kMicrosecond);

// Passes an output's pulls through, noting when the first non-silent frame
// is pulled.
struct TappedSink : AudioSink {
    explicit TappedSink(AudioSink& inner) : inner_(inner) {}
    bool open(AudioPull pull) override {
        return inner_.open([this, pull = std::move(pull)](float* out, int frames) {
            const bool more = pull(out, frames);
            if (heardAt.load() == 0 && std::any_of(out, out + frames * 2, [](float v) { return v != 0.0f; }))
                heardAt = std::chrono::steady_clock::now().time_since_epoch().count();
            return more;
        });
    }
    void close() override { inner_.close(); }
    void resume() override { inner_.resume(); }
    std::atomic<int64_t> heardAt{0};

private:
    AudioSink& inner_;
};

void BM_PlayToFirstFrame(benchmark::State& state) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / "kordo-bench-sounds";
    fs::create_directories(dir);
    std::string cmd = "sox -q -n -r 44100 -c 1 " + (dir / "click.ogg").string() + " synth 0.01 sine 1000";
    if (std::system(cmd.c_str()) != 0) {
        state.SkipWithError("sox is needed to make the test sound");
        return;
    }
    const int frames = int(state.range(0));
    const bool sdl = state.range(1) == 1, rested = state.range(2) == 1;
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    soundReset();
    setSoundsFolder(dir.string());
    registerServerCommands();
    ThreadUi ui;
    getSound("click");  // decoded before timing, as "preload " would

    using clock = std::chrono::steady_clock;
    NullSink null(frames);
#ifdef KORDO_BENCH_SDL
    SdlSink sdlSink(frames);
    TappedSink sink(sdl ? static_cast<AudioSink&>(sdlSink) : null);
#else
    if (sdl) {
        state.SkipWithError("built without SDL's output");
        return;
    }
    TappedSink sink(null);
#endif
    if (!audioOpen(&sink)) {
        state.SkipWithError("no audio output opens");
        soundReset();
        return;
    }
    std::mt19937 rng(3);
    double worst = 0;
    for (auto _ : state) {
        const int pause = rested ? 700 : 0;  // past the half second after which the output rests
        std::this_thread::sleep_for(
            std::chrono::microseconds(pause * 1000 + std::uniform_int_distribution<int>(0, 20000)(rng)));
        sink.heardAt = 0;
        auto t0 = clock::now();
        // As the receive thread hands a line over; this row needs no connection.
        agc_recv(nullptr, "play click");
        while (sink.heardAt.load() == 0) std::this_thread::sleep_for(std::chrono::microseconds(50));
        double s = std::chrono::duration<double>(clock::duration(sink.heardAt.load()) - t0.time_since_epoch()).count();
        worst = std::max(worst, s);
        state.SetIterationTime(s);
        std::this_thread::sleep_for(std::chrono::milliseconds(15));  // let the click end
    }
    state.counters["max_ms"] = worst * 1000.0;
    state.counters["buffer_ms"] = double(frames) * 1000.0 / kMixRate;
    audioClose();
    setUi(nullptr);
    soundReset();
    fs::remove_all(dir);
}
BENCHMARK(BM_PlayToFirstFrame)
    ->Args({256, 0, 0})->Args({512, 0, 0})->Args({1024, 0, 0})->Args({2048, 0, 0})
    ->UseManualTime()->Iterations(60)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlayToFirstFrame)
    ->Args({512, 0, 1})->Args({512, 1, 0})->Args({512, 1, 1})
    ->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
