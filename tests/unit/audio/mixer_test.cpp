// The mixer rendered into memory: pan law, volume, pitch, take-over of the
// longest-playing playback, stale handles, pause and slides.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <utility>
#include <filesystem>
#include <random>
#include <numbers>
#include <thread>

#include "audio/memory/memory_sink.h"
#include "audio/mixer.h"
#include "audio/null/null_sink.h"
#include "measure.h"

namespace {

// A half-scale sine in the samples' 16-bit form.
Pcm sine(double hz, int frames, int channels = 1, int rate = 44100) {
    Pcm p;
    p.channels = channels;
    p.rate = rate;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            p.data.push_back(int16_t(std::lround(16384.0 * std::sin(2 * std::numbers::pi * hz * i / rate))));
    return p;
}

struct AudioMixerTest : ::testing::Test {
    void SetUp() override {
        mixReset();
        ASSERT_TRUE(audioOpen(&sink));
    }
    void TearDown() override { mixReset(); }
    MemorySink sink;
};

TEST_F(AudioMixerTest, BalancePanAndVolumeScaleEachSide) {
    MixSample s = mixSampleFromPcm(sine(440, 44100));
    struct Case {
        float vol, pan, gainL, gainR;
    } cases[] = {
        {1, 0, 1, 1}, {1, -1, 1, 0}, {1, 1, 0, 1}, {1, 0.5f, 0.5f, 1},
        {0.5f, 0, 0.5f, 0.5f}, {2, -0.5f, 2, 1},  // 2 x 0.5 amplitude stays below clipping
        {1, 5, 0, 1}, {-1, 0, 0, 0},                     // beyond the range: heard at the limits
    };
    MixChannel ref = mixSampleGetChannel(s);
    mixPlay(ref, false);
    Energy e0 = energyOf(sink.render(8192));
    mixStop(ref);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "vol " << c.vol << " pan " << c.pan);
        MixChannel ch = mixSampleGetChannel(s);
        ASSERT_TRUE(mixSetAttribute(ch, MixAttrib::Vol, c.vol));
        ASSERT_TRUE(mixSetAttribute(ch, MixAttrib::Pan, c.pan));
        mixPlay(ch, false);
        Energy e = energyOf(sink.render(8192));
        EXPECT_NEAR(e.l / e0.l, c.gainL * c.gainL, 0.01);
        EXPECT_NEAR(e.r / e0.r, c.gainR * c.gainR, 0.01);
        mixStop(ch);
    }
}

TEST_F(AudioMixerTest, StereoSampleKeepsItsSides) {
    Pcm p = sine(440, 22050, 2);
    for (size_t i = 1; i < p.data.size(); i += 2) p.data[i] = 0;  // left only
    MixChannel ch = mixSampleGetChannel(mixSampleFromPcm(std::move(p)));
    mixPlay(ch, false);
    Energy e = energyOf(sink.render(8192));
    EXPECT_GT(e.l, 100.0);
    EXPECT_EQ(e.r, 0.0);
}

TEST_F(AudioMixerTest, FrequencyAttributeResamples) {
    MixSample s = mixSampleFromPcm(sine(1000, 44100, 1, 22050));  // 1000 Hz at 22050 Hz = 2000 Hz heard at 44100
    for (float rate : {0.0f, 22050.0f, 11025.0f, 33075.0f}) {
        MixChannel ch = mixSampleGetChannel(s);
        ASSERT_TRUE(mixSetAttribute(ch, MixAttrib::Freq, rate));
        float got = 0;
        mixGetAttribute(ch, MixAttrib::Freq, &got);
        EXPECT_EQ(got, rate == 0 ? 22050.0f : rate);
        mixPlay(ch, false);
        EXPECT_NEAR(dominantHz(sink.render(8192)), 1000.0 * got / 22050.0, got / 22050.0 * 5);
        mixStop(ch);
    }
}

TEST_F(AudioMixerTest, OutputIsClipped) {
    MixSample s = mixSampleFromPcm(sine(440, 44100));
    for (int i = 0; i < 8; ++i) mixPlay(mixSampleGetChannel(s), false);
    for (float v : sink.render(4096)) ASSERT_LE(std::fabs(v), 1.0f);
}

TEST_F(AudioMixerTest, FullSampleTakesOverTheLongestPlayingThenTheOldest) {
    MixSample s = mixSampleFromPcm(sine(440, 44100 * 4));
    for (bool playing : {true, false}) {
        SCOPED_TRACE(playing ? "playing" : "never started (tie: oldest)");
        std::vector<MixChannel> chans;
        for (int i = 0; i < kMixMaxPlaybacks; ++i) {
            chans.push_back(mixSampleGetChannel(s));
            ASSERT_NE(chans.back(), 0u);
            if (playing) {
                mixPlay(chans.back(), false);
                sink.render(16);  // earlier ones have played longer
            }
        }
        EXPECT_EQ(mixActiveChannels(), kMixMaxPlaybacks);
        MixChannel extra = mixSampleGetChannel(s);
        ASSERT_NE(extra, 0u);
        EXPECT_EQ(mixActiveChannels(), kMixMaxPlaybacks);
        // The first one was taken over: its handle is stale, the slot reused.
        EXPECT_FALSE(mixSetAttribute(chans[0], MixAttrib::Vol, 0.1f));
        EXPECT_EQ(mixChannelState(chans[0]), MixState::Stopped);
        EXPECT_EQ(extra & 0xffff, chans[0] & 0xffff);
        for (size_t i = 1; i < chans.size(); ++i) ASSERT_TRUE(mixSetAttribute(chans[i], MixAttrib::Vol, 1));
        for (MixChannel c : chans) mixStop(c);
        mixStop(extra);
        EXPECT_EQ(mixActiveChannels(), 0);
    }
}

// Live playbacks are capped in total, not only per sample: past the cap a
// new playback takes over the longest-playing one of any sample.
TEST_F(AudioMixerTest, LivePlaybacksAreCappedAcrossSamples) {
    std::vector<MixSample> samples;
    for (int i = 0; i < 8; ++i) samples.push_back(mixSampleFromPcm(sine(440, 44100 * 10), kMixMaxPlaybacks));
    MixChannel first = 0, last = 0;
    for (MixSample s : samples)
        for (int i = 0; i < kMixMaxPlaybacks; ++i) {
            last = mixSampleGetChannel(s);
            ASSERT_NE(last, 0u);
            if (!first) first = last;
            mixPlay(last, false);
            if (i % 32 == 0) sink.render(256);
        }
    EXPECT_EQ(mixActiveChannels(), kMixMaxVoices);
    EXPECT_EQ(mixChannelState(first), MixState::Stopped);  // the longest playing was taken
    EXPECT_EQ(mixChannelState(last), MixState::Playing);
}

// Volumes far beyond the range never make the output NaN or infinite: a
// voice ramping to the largest float over a sample that starts at 0 gave
// 0 x inf, and two such voices in opposite phase inf - inf.
TEST_F(AudioMixerTest, OutputStaysFiniteAtAnyVolume) {
    MixSample s = mixSampleFromPcm(sine(440, 44100));
    Pcm inverted = sine(440, 44100);
    for (int16_t& x : inverted.data) x = int16_t(-x);
    MixSample t = mixSampleFromPcm(std::move(inverted));
    for (float vol : {3.4e38f, 1e30f, 1e20f}) {
        SCOPED_TRACE(vol);
        MixChannel a = mixSampleGetChannel(s), b = mixSampleGetChannel(t);
        ASSERT_TRUE(mixSetAttribute(a, MixAttrib::Vol, vol));
        ASSERT_TRUE(mixSetAttribute(b, MixAttrib::Vol, vol));
        float kept = 0;
        ASSERT_TRUE(mixGetAttribute(a, MixAttrib::Vol, &kept));
        EXPECT_LE(kept, kMixMaxVolume);
        mixPlay(a, false);
        mixPlay(b, false);
        std::vector<float> out = sink.render(4096);
        for (float x : out) ASSERT_TRUE(std::isfinite(x) && x >= -1.0f && x <= 1.0f);
        mixStop(a);
        mixStop(b);
    }
}

TEST_F(AudioMixerTest, EndedPlaybackIsFreedAndItsHandleGoesStale) {
    MixChannel ch = mixSampleGetChannel(mixSampleFromPcm(sine(440, 1000)));
    mixPlay(ch, false);
    sink.render(2048);
    EXPECT_EQ(mixActiveChannels(), 0);
    EXPECT_FALSE(mixPlay(ch, false));
    EXPECT_FALSE(mixSetAttribute(ch, MixAttrib::Pan, 0));
}

TEST_F(AudioMixerTest, PauseKeepsThePosition) {
    Pcm ramp;
    ramp.channels = 1;
    ramp.rate = 44100;
    for (int i = 0; i < 10000; ++i) ramp.data.push_back(int16_t(i));
    MixChannel ch = mixSampleGetChannel(mixSampleFromPcm(std::move(ramp)));
    mixPlay(ch, false);
    std::vector<float> a = sink.render(100);
    EXPECT_FLOAT_EQ(a[2 * 99], 99 / 32768.0f);
    mixPause(ch);
    for (float v : sink.render(1000)) ASSERT_EQ(v, 0.0f);
    EXPECT_EQ(mixChannelPlayedFrames(ch), 100);
    mixPlay(ch, false);
    EXPECT_FLOAT_EQ(sink.render(1)[0], 100 / 32768.0f);
    mixPlay(ch, true);  // restart goes back to the first frame
    EXPECT_FLOAT_EQ(sink.render(2)[2], 1 / 32768.0f);
}

TEST_F(AudioMixerTest, SlideIsLinearRunsWhilePausedAndMinusOneFrees) {
    MixSample s = mixSampleFromPcm(sine(440, 44100 * 3));
    MixChannel ch = mixSampleGetChannel(s);
    mixPlay(ch, false);
    ASSERT_TRUE(mixSlideAttribute(ch, MixAttrib::Vol, 0.5f, 1000));
    sink.render(22050);
    float v = 0;
    mixGetAttribute(ch, MixAttrib::Vol, &v);
    EXPECT_NEAR(v, 0.75f, 0.01f);
    mixPause(ch);
    sink.render(22050);  // the slide goes on while paused
    mixGetAttribute(ch, MixAttrib::Vol, &v);
    EXPECT_FLOAT_EQ(v, 0.5f);

    mixPlay(ch, false);
    ASSERT_TRUE(mixSlideAttribute(ch, MixAttrib::Vol, -1, 500));
    sink.render(22050 - 256);
    EXPECT_EQ(mixChannelState(ch), MixState::Playing);
    std::vector<float> end = sink.render(512);
    EXPECT_EQ(mixChannelState(ch), MixState::Stopped);
    EXPECT_EQ(mixActiveChannels(), 0);
    for (size_t i = 256 * 2; i < end.size(); ++i) ASSERT_EQ(end[i], 0.0f);
}

// Samples are held as 16-bit PCM.  At the cap, a load evicts the least
// recently used samples (loaded or given a channel) that nothing plays; a
// sample that cannot fit even so is refused from its declared length,
// before decoding, and evicts nothing.
TEST_F(AudioMixerTest, FullSampleMemoryEvictsTheLeastRecentlyUsedIdleSamples) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("kordo-mixer-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    const std::string second = (dir / "second.ogg").string(), longer = (dir / "longer.ogg").string();
    ASSERT_TRUE(makeSound("sox -q -n -r 44100 -c 1 " + second + " synth 1 sine 440 gain -3"));
    ASSERT_TRUE(makeSound("sox -q -n -r 44100 -c 1 " + longer + " synth 2.5 sine 440 gain -3"));

    MixLoadResult a = mixSampleLoadFile(second, 0);
    ASSERT_EQ(a.status, MixLoad::Loaded);
    const size_t one = mixSampleBytes();
    EXPECT_EQ(one, 44100u * 2);  // a second of mono, 2 bytes a frame
    const size_t cap = 3 * one;
    MixSample b = mixSampleLoadFile(second, cap).sample, c = mixSampleLoadFile(second, cap).sample;
    ASSERT_NE(b, 0u);
    ASSERT_NE(c, 0u);
    MixChannel ch = mixSampleGetChannel(a.sample);  // a: the most recently used, played to its end
    mixPlay(ch, false);
    sink.render(44100 + 512);
    ASSERT_EQ(mixActiveChannels(), 0);
    ch = mixSampleGetChannel(b);  // b: playing
    mixPlay(ch, false);
    sink.render(1024);

    MixLoadResult d = mixSampleLoadFile(second, cap);
    EXPECT_EQ(d.status, MixLoad::Loaded);
    EXPECT_EQ(d.evicted, std::vector<MixSample>{c});
    EXPECT_FALSE(mixSampleTouch(c));
    EXPECT_EQ(mixSampleGetChannel(c), 0u);
    MixLoadResult e = mixSampleLoadFile(second, cap);
    EXPECT_EQ(e.evicted, std::vector<MixSample>{a.sample});
    EXPECT_EQ(mixSampleBytes(), cap);

    // 2.5 s would need d and e gone and half of b, which plays: refused.
    MixLoadResult f = mixSampleLoadFile(longer, cap);
    EXPECT_EQ(f.status, MixLoad::NoRoom);
    EXPECT_TRUE(f.evicted.empty());
    EXPECT_EQ(mixSampleBytes(), cap);
    for (MixSample kept : {b, d.sample, e.sample}) EXPECT_TRUE(mixSampleTouch(kept));
    EXPECT_EQ(mixSampleLoadFile(longer, 2 * one).status, MixLoad::NoRoom);  // larger than the cap itself

    // Once b has ended it may go too, and all three make the room.
    sink.render(44100);
    MixLoadResult g = mixSampleLoadFile(longer, cap);
    EXPECT_EQ(g.status, MixLoad::Loaded);
    EXPECT_EQ(g.evicted, (std::vector<MixSample>{b, d.sample, e.sample}));
    EXPECT_LE(mixSampleBytes(), cap);
    fs::remove_all(dir);
}

// Two client threads play, retune, slide and stop while a real-time sink
// pulls: every call must stay safe (run under ThreadSanitizer too).
TEST(AudioMixerThreads, CallsFromSeveralThreadsWhileTheSinkPulls) {
    mixReset();
    NullSink sink(256);
    ASSERT_TRUE(audioOpen(&sink));
    MixSample s = mixSampleFromPcm(sine(440, 4410), 16);
    auto worker = [s](int seed) {
        for (int i = 0; i < 300; ++i) {
            MixChannel c = mixSampleGetChannel(s);
            mixSetAttribute(c, MixAttrib::Pan, float((i + seed) % 3 - 1));
            mixSetAttribute(c, MixAttrib::Freq, float(22050 + 100 * i));
            mixPlay(c, false);
            if (i % 3 == 0) mixSlideAttribute(c, MixAttrib::Vol, -1, 20);
            if (i % 5 == 0) mixStop(c);
            float v;
            mixGetAttribute(c, MixAttrib::Vol, &v);
        }
    };
    std::thread a(worker, 0), b(worker, 1);
    a.join();
    b.join();
    EXPECT_LE(mixActiveChannels(), 16);  // one sample: never more than its playbacks
    audioClose();
    mixReset();
}
}  // namespace

namespace {
using namespace std::chrono_literals;

// Keeps the mixer's pull to call it by hand, and counts resume() calls.
struct PullSink : AudioSink {
    bool open(AudioPull p) override {
        pull = std::move(p);
        return true;
    }
    void close() override { pull = nullptr; }
    void resume() override { ++resumes; }
    bool realTime() const override { return false; }
    // Pulls `frames` in blocks of 512; whether the last pull wants more.
    bool run(int frames) {
        std::vector<float> buf(512 * 2);
        bool more = true;
        for (int done = 0; done < frames; done += 512) more = pull(buf.data(), 512);
        return more;
    }
    AudioPull pull;
    int resumes = 0;
};

// The output may rest only after half a second with nothing playing or
// sliding: a sound that starts and ends within one pull counts as played,
// and every start or slide asks a resting output to resume.
TEST(AudioMixerRest, TheOutputRestsAfterHalfASecondOfNothing) {
    mixReset();
    PullSink sink;
    ASSERT_TRUE(audioOpen(&sink));
    EXPECT_TRUE(sink.run(21504)) << "0.49 s of nothing";
    EXPECT_FALSE(sink.run(1024)) << "past half a second";

    MixChannel shortOne = mixSampleGetChannel(mixSampleFromPcm(sine(440, 100)));
    ASSERT_TRUE(mixPlay(shortOne, false));
    EXPECT_EQ(sink.resumes, 1);
    EXPECT_TRUE(sink.run(512)) << "the sound ended within the pull";
    EXPECT_EQ(mixChannelState(shortOne), MixState::Stopped);
    EXPECT_TRUE(sink.run(21504));
    EXPECT_FALSE(sink.run(1024));

    // A paused channel whose volume slides still needs frames.
    MixChannel slid = mixSampleGetChannel(mixSampleFromPcm(sine(440, 44100)));
    ASSERT_TRUE(mixPlay(slid, false));
    ASSERT_TRUE(mixPause(slid));
    ASSERT_TRUE(mixSlideAttribute(slid, MixAttrib::Vol, 0.2f, 1000));
    EXPECT_EQ(sink.resumes, 3);
    EXPECT_TRUE(sink.run(44100)) << "sliding for a second";
    EXPECT_TRUE(sink.run(21504));
    EXPECT_FALSE(sink.run(1024)) << "the slide ended half a second ago";
    mixReset();
}

// The null sink rests until resume(): no pull meanwhile, then one at once;
// its tap gets the rest as silence, so a recording keeps real time.  A
// resume() that comes while the pull that said "rest" runs cancels the rest.
TEST(NullSinkRest, SleepsUntilResumedAndTheTapKeepsRealTime) {
    NullSink sink(256);
    std::mutex mu;
    std::condition_variable cv;
    int pulls = 0;
    bool wantMore = false;
    std::function<void()> duringPull;
    int64_t tapped = 0;
    sink.tap = [&](const float*, int n) {
        std::lock_guard<std::mutex> lock(mu);
        tapped += n;
    };
    const auto opened = std::chrono::steady_clock::now();
    ASSERT_TRUE(sink.open([&](float* out, int frames) {
        std::fill(out, out + frames * 2, 0.0f);
        std::function<void()> hook;
        bool more;
        {
            std::lock_guard<std::mutex> lock(mu);
            ++pulls;
            more = wantMore;
            hook = std::exchange(duringPull, nullptr);
            cv.notify_all();
        }
        if (hook) hook();
        return more;
    }));
    auto pullsNow = [&] {
        std::lock_guard<std::mutex> lock(mu);
        return pulls;
    };
    auto waitPulls = [&](int n) {
        std::unique_lock<std::mutex> lock(mu);
        return cv.wait_for(lock, 10s, [&] { return pulls >= n; });
    };
    ASSERT_TRUE(waitPulls(1));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(pullsNow(), 1) << "resting after a pull that said so";

    {
        std::lock_guard<std::mutex> lock(mu);
        wantMore = false;
        duringPull = [&] { sink.resume(); };  // a sound starts during the next pull
    }
    sink.resume();
    ASSERT_TRUE(waitPulls(3)) << "the resumed pull, then one more for the resume during it";
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(pullsNow(), 3);

    {
        std::lock_guard<std::mutex> lock(mu);
        wantMore = true;
    }
    sink.resume();
    ASSERT_TRUE(waitPulls(10));
    sink.close();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - opened).count();
    std::lock_guard<std::mutex> lock(mu);
    // Every frame from open to the last pull went to the tap, rests included
    // (within a few blocks of the wall clock).
    EXPECT_NEAR(double(tapped), seconds * 44100, 44100 * 0.05);
}
}  // namespace
