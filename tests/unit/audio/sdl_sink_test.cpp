// The SDL2 output itself, with no sound card: SDL's "dummy" driver plays
// into nothing at real-time pace, and a driver name SDL does not know stands
// for a machine where no device can be opened.  SDL reads SDL_AUDIODRIVER
// each time its audio subsystem starts, so one process tries both.
#include "audio/sdl/sdl_sink.h"

#include <SDL.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <thread>

#include "app/client.h"
#include "audio/mixer.h"
#include "net/conndlg.h"
#include "platform/machine_probe.h"

namespace {

namespace fs = std::filesystem;

void useDriver(const char* name) {
    setenv("SDL_AUDIODRIVER", name, 1);
}

// Waits up to 5 s for `done`.
template <typename Pred>
bool waitFor(Pred done) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

TEST(SdlSink, PullsBuffersOfTheAskedSizeUntilClosed) {
    useDriver("dummy");
    SdlSink sink(256);
    std::atomic<int> pulls{0}, badSizes{0};
    ASSERT_TRUE(sink.open([&](float* out, int frames) {
        if (frames != 256) ++badSizes;
        std::fill(out, out + frames * AudioSink::kChannels, 0.0f);
        ++pulls;
        return true;
    }));
    EXPECT_TRUE(waitFor([&] { return pulls.load() >= 3; }));
    sink.close();
    int after = pulls.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // > 4 buffers
    EXPECT_EQ(pulls.load(), after);
    EXPECT_EQ(badSizes.load(), 0);
    EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
}

// With nothing to play the device is closed (SDL's thread would go on
// waking even paused), and the next resume() opens it again.
TEST(SdlSink, RestsWithItsDeviceClosedUntilResumed) {
    useDriver("dummy");
    SdlSink sink(256);
    std::atomic<int> pulls{0};
    std::atomic<bool> more{false};
    ASSERT_TRUE(sink.open([&](float* out, int frames) {
        std::fill(out, out + frames * AudioSink::kChannels, 0.0f);
        ++pulls;
        return more.load();
    }));
    EXPECT_TRUE(waitFor([&] { return pulls.load() > 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the close is done
    int resting = pulls.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // > 15 buffers
    EXPECT_EQ(pulls.load(), resting) << "the device still pulls";

    more = true;
    sink.resume();
    EXPECT_TRUE(waitFor([&] { return pulls.load() >= resting + 5; })) << "not pulling again";
    sink.close();
    EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
}

// A sound asked for while the rested device is still closing (SDL's
// PulseAudio driver drains the stream as it closes, over a second and more)
// is not lost: a new device pulls.  SDL's dummy driver opens one device at a
// time, so here the new one opens once the old one is closed; drivers that
// open several (PulseAudio, ALSA) open it at once, which the mixer benchmark
// measures from rest.
TEST(SdlSink, AResumeDuringASlowCloseIsNotLost) {
    struct SlowClose : SdlSink {
        using SdlSink::SdlSink;
        std::atomic<int> closing{0}, closed{0};
        void closeDevice(uint32_t id) override {
            ++closing;
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            SdlSink::closeDevice(id);
            ++closed;
        }
    };
    useDriver("dummy");
    SlowClose sink(256);
    std::atomic<int> pulls{0};
    std::atomic<bool> more{false};
    ASSERT_TRUE(sink.open([&](float* out, int frames) {
        std::fill(out, out + frames * AudioSink::kChannels, 0.0f);
        ++pulls;
        return more.load();
    }));
    ASSERT_TRUE(waitFor([&] { return sink.closing.load() == 1; })) << "the output never rested";
    const int resting = pulls.load();
    EXPECT_EQ(sink.closed.load(), 0);
    more = true;
    sink.resume();
    EXPECT_TRUE(waitFor([&] { return pulls.load() >= resting + 3; })) << "the resume was lost";
    sink.close();
    EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
}

// The audio output leaves the process's termination signals alone: the
// client's own handling of SIGINT and SIGTERM (closing as the player does)
// needs them, and SDL's would swallow them into an event nobody reads.
TEST(SdlSink, LeavesTheTerminationSignalsToTheProgram) {
    useDriver("dummy");
    SdlSink sink;
    ASSERT_TRUE(sink.open([](float* out, int frames) {
        std::fill(out, out + frames * AudioSink::kChannels, 0.0f);
        return true;
    }));
    for (int sig : {SIGINT, SIGTERM}) {
        struct sigaction now {};
        ASSERT_EQ(sigaction(sig, nullptr, &now), 0);
        EXPECT_EQ(now.sa_handler, SIG_DFL) << "signal " << sig;
    }
    sink.close();
}

// The mixer behind the real output: a playing sound advances as SDL's
// thread pulls.
TEST(SdlSink, MixerPlaysThroughIt) {
    useDriver("dummy");
    Pcm pcm;
    pcm.channels = 1;
    pcm.rate = kMixRate;
    for (int i = 0; i < kMixRate; ++i)
        pcm.data.push_back(0.5f * float(std::sin(2 * std::numbers::pi * 440 * i / kMixRate)));
    MixChannel c = mixSampleGetChannel(mixSampleFromPcm(std::move(pcm)));
    ASSERT_TRUE(mixPlay(c, false));
    SdlSink sink;
    ASSERT_TRUE(audioOpen(&sink));
    EXPECT_TRUE(waitFor([&] { return mixChannelPlayedFrames(c) >= 2048; }));
    audioClose();
    mixReset();
}

// No device: open says so, leaves SDL's audio subsystem released and never
// pulls; the same sink opens once a device is there.
TEST(SdlSink, NoDeviceFailsCleanlyAndMayBeOpenedAgain) {
    useDriver("kordo-no-such-driver");
    SdlSink sink;
    std::atomic<int> pulls{0};
    auto pull = [&](float* out, int frames) {
        std::fill(out, out + frames * AudioSink::kChannels, 0.0f);
        ++pulls;
        return true;
    };
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_FALSE(sink.open(pull));
        EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
    }
    EXPECT_FALSE(audioOpen(&sink));
    EXPECT_EQ(pulls.load(), 0);

    useDriver("dummy");
    ASSERT_TRUE(sink.open(pull));
    EXPECT_TRUE(waitFor([&] { return pulls.load() > 0; }));
    sink.close();
}

// Start-up with the desktop client's output when no device opens: the
// player is told, and the client ends with status 2 before any dialog.
struct FrontEndDouble : FrontEnd {
    std::vector<std::string> fatal;
    bool dialogShown = false;
    bool createMainWindow() override { return true; }
    void runConnectionDialog(ConnDialog* d) override {
        dialogShown = true;
        connDlgCancel(d);
    }
    int runMessageLoop() override { return 0; }
    void closeMainWindow() override {}
    void fatalError(const std::string& text) override { fatal.push_back(text); }
    bool runOnUiThread(const std::function<void()>& task) override {
        task();
        return true;
    }
    bool isUiThread() const override { return true; }
};

TEST(SdlSink, StartUpWithoutADeviceEndsWithStatusTwo) {
    useDriver("kordo-no-such-driver");
    fs::path old = fs::current_path();
    fs::path dir =
        fs::temp_directory_path() /
        ("kordo-sdl-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
         std::to_string(getpid()));
    fs::create_directories(dir);
    FrontEndDouble fe;
    SdlSink sink;
    MachineProbe probe;
    ClientOptions options;
    options.programFolder = dir.string();
    options.probe = &probe;
    options.audioSink = &sink;
    options.selectSpeech = [] {};
    EXPECT_EQ(clientMain(fe, options), 2);
    EXPECT_EQ(fe.fatal, std::vector<std::string>{"Unable to open audio device"});
    EXPECT_FALSE(fe.dialogShown);
    fs::current_path(old);
    fs::remove_all(dir);
}

}  // namespace
