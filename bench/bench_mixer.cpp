// Mixer costs.
//
// BM_Mix128Voices: one 512-frame block with 128 playbacks of one sample at
// random volume, pan and rate.  "core%" is the share of one core the mix
// takes in real time (time per block / 11.6 ms of audio).
//
// BM_PlayToFirstFrame/<frames>: the play latency as the player meets it,
// from a "play " line handed to the dispatcher (as the receive thread hands
// each line it reads) to the pull that gives the first non-silent frame to
// a null sink with a buffer of <frames> frames, pacing itself like a device.
// In between: the dispatcher's table, playSound, the hand-over to a UI
// thread that waits on a task queue (as the headless front-end's does) and
// back, and up to one buffer of output already mixed.  Mean in the time
// column; "max_ms" the worst trial, "buffer_ms" the sink's buffer.
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

void BM_PlayToFirstFrame(benchmark::State& state) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / "kordo-bench-sounds";
    fs::create_directories(dir);
    std::string cmd = "sox -q -n -r 44100 -c 1 " + (dir / "click.ogg").string() + " synth 0.01 sine 1000";
    if (std::system(cmd.c_str()) != 0) {
        state.SkipWithError("sox is needed to make the test sound");
        return;
    }
    soundReset();
    setSoundsFolder(dir.string());
    registerServerCommands();
    ThreadUi ui;
    getSound("click");  // decoded before timing, as "preload " would

    using clock = std::chrono::steady_clock;
    std::atomic<int64_t> heardAt{0};
    NullSink sink(int(state.range(0)));
    sink.tap = [&](const float* f, int frames) {
        if (heardAt.load() != 0) return;
        if (std::any_of(f, f + frames * 2, [](float v) { return v != 0.0f; }))
            heardAt = clock::now().time_since_epoch().count();
    };
    audioOpen(&sink);
    std::mt19937 rng(3);
    double worst = 0;
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 20000)(rng)));
        heardAt = 0;
        auto t0 = clock::now();
        // As the receive thread hands a line over; this row needs no connection.
        agc_recv(nullptr, "play click");
        while (heardAt.load() == 0) std::this_thread::sleep_for(std::chrono::microseconds(50));
        double s = std::chrono::duration<double>(clock::duration(heardAt.load()) - t0.time_since_epoch()).count();
        worst = std::max(worst, s);
        state.SetIterationTime(s);
        std::this_thread::sleep_for(std::chrono::milliseconds(15));  // let the click end
    }
    state.counters["max_ms"] = worst * 1000.0;
    state.counters["buffer_ms"] = double(state.range(0)) * 1000.0 / kMixRate;
    audioClose();
    setUi(nullptr);
    soundReset();
    fs::remove_all(dir);
}
BENCHMARK(BM_PlayToFirstFrame)
    ->Arg(256)->Arg(512)->Arg(1024)->Arg(2048)
    ->UseManualTime()->Iterations(60)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
