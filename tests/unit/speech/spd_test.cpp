// The Linux back-ends against a private speech-dispatcher whose only output
// module is a recorder: every message it would speak is appended, with the
// rate it would use, to a file ("RATE|TEXT" per line).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "private_speechd.h"
#include "speech/spd/spd_speech.h"
#include "speech/speech.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// libspeechd's spd_open2 loses a formatted error string when it cannot
// connect; the leak is the library's, once per failed connection.  The slow
// unwinder lets the suppression see past glibc's frames to spd_open2.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:spd_open2\n";
}
extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}
// libspeechd is not instrumented: spd_close cancels and joins its event
// thread, then destroys the condition that thread waited on, which
// ThreadSanitizer cannot see as ordered.
extern "C" const char* __tsan_default_suppressions() {
    return "race:spd_close\nrace:libspeechd.so\n";
}

namespace {

using privspd::waitFor;

// One private daemon for the whole suite (see private_speechd.h).
class speechDispatcher : public ::testing::Test {
  protected:
    static inline privspd::PrivateSpeechd spd;

    static void SetUpTestSuite() { spd.start(); }

    static void TearDownTestSuite() {
        speechReset();
        spd.stop(false);
    }

    void SetUp() override {
        if (!spd.skipReason.empty()) GTEST_SKIP() << spd.skipReason;
        speechReset();
        spd.forget();
    }
    void TearDown() override { speechReset(); }

    static std::vector<std::string> heard() { return spd.heard(); }
    static std::vector<std::string> heardSettled(size_t n) { return spd.heardSettled(n); }
    static std::vector<std::string> texts(const std::vector<std::string>& lines) {
        return privspd::PrivateSpeechd::texts(lines);
    }
};

TEST_F(speechDispatcher, WithoutOrcaTheVoiceIsSelectedAndSilentUntilSwitchedOn) {
    ASSERT_FALSE(orcaProcessRunning());
    installSystemSpeech();
    ASSERT_TRUE(autodetectScreenReader());
    EXPECT_EQ(speechCurrent(), kSpeechVoice);
    EXPECT_TRUE(speakMenuOnItemChange);
    sayString("muet", false);
    sapiSwitch();
    sayString("parle", false);
    EXPECT_EQ(texts(heardSettled(2)), (std::vector<std::string>{"Voix SAPI activ\xC3\xA9"
                                                                "e",
                                                                "parle"}));
}

TEST_F(speechDispatcher, AnOrcaProcessSelectsTheScreenReader) {
    // A stand-in named "orca": a copy of sleep, so the kernel names it so.
    std::string orca = spd.dir + "/orca";
    fs::copy_file("/bin/sleep", orca, fs::copy_options::overwrite_existing);
    pid_t pid = privspd::spawn({orca, "30"}, spd.dir + "/orca.log");
    ASSERT_GT(pid, 0);
    bool seen = waitFor([] { return orcaProcessRunning(); }, 3000ms);
    installSystemSpeech();
    bool detected = autodetectScreenReader();
    int current = speechCurrent();
    bool menus = speakMenuOnItemChange;
    privspd::stop(pid);
    ASSERT_TRUE(seen);
    EXPECT_TRUE(detected);
    EXPECT_EQ(current, kSpeechScreenReader);
    EXPECT_FALSE(menus);
    sayString("lu", false);  // a screen reader needs no switch
    EXPECT_EQ(texts(heardSettled(1)), (std::vector<std::string>{"lu"}));
    EXPECT_TRUE(waitFor([] { return !orcaProcessRunning(); }, 3000ms));
}

TEST_F(speechDispatcher, ABurstIsHeardInFullAndInOrder) {
    auto reader = spdOpenScreenReader(nullptr);
    ASSERT_TRUE(reader);
    setSpeechBackend(reader.get());
    std::vector<std::string> sent;
    for (int i = 1; i <= 10; ++i) {
        sent.push_back("ligne " + std::to_string(i));
        sayString(sent.back(), false);
    }
    EXPECT_EQ(texts(heardSettled(10)), sent);
    setSpeechBackend(nullptr);
}

TEST_F(speechDispatcher, AnInterruptingLineCutsOffTheRest) {
    auto reader = spdOpenScreenReader(nullptr);
    ASSERT_TRUE(reader);
    setSpeechBackend(reader.get());
    for (int i = 1; i <= 10; ++i) sayString("ligne " + std::to_string(i), false);
    ASSERT_TRUE(waitFor([] { return !heard().empty(); }, 5000ms));
    sayString("stop", true);
    std::vector<std::string> got = texts(heardSettled(2));
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), "stop");
    EXPECT_LT(got.size(), 8u) << "queued lines were spoken after the interruption";
    EXPECT_EQ(got.front(), "ligne 1");
    setSpeechBackend(nullptr);
}

TEST_F(speechDispatcher, VoiceRateBoundsMapOntoTheServiceScale) {
    installSystemSpeech();
    ASSERT_TRUE(autodetectScreenReader());
    ASSERT_EQ(speechCurrent(), kSpeechVoice);
    for (int i = 0; i < 25; ++i) sapiSpeedChange(-5);  // well past 0
    sapiSpeedChange(+5);
    for (int i = 0; i < 25; ++i) sapiSpeedChange(+5);  // well past 100
    std::vector<std::string> got = heardSettled(1);
    ASSERT_FALSE(got.empty());
    // Interrupting announcements cut each other off; the last one stands and
    // carries the top of the scale.  The voice itself is still off.
    EXPECT_EQ(got.back(), "100.00|Plus vite");
    EXPECT_FALSE(sapiIsEnabled());
    sapiSpeedChange(-5);
    EXPECT_EQ(heardSettled(got.size() + 1).back(), "90.00|Moins vite");
}

TEST_F(speechDispatcher, BrailleGetsEveryLineSpokenByTheScreenReader) {
    // BRLTTY is not run here; a recording double stands for the display.
    struct Recorder : BrailleOutput {
        std::vector<std::string>* out;
        void write(const std::string& t) override { out->push_back(t); }
    };
    std::vector<std::string> lines;
    auto brl = std::make_unique<Recorder>();
    brl->out = &lines;
    auto reader = spdOpenScreenReader(std::move(brl));
    ASSERT_TRUE(reader);
    setSpeechBackend(reader.get());
    sayString("un", false);
    sayString("\xE9t\xE9", true);
    setSpeechBackend(nullptr);
    EXPECT_EQ(lines, (std::vector<std::string>{"un", "\xE9t\xE9"}));
}

TEST_F(speechDispatcher, UnreachableServiceMeansNoBackEndAndSilence) {
    std::string saved = getenv("SPEECHD_ADDRESS");
    setenv("SPEECHD_ADDRESS", ("unix_socket:" + spd.dir + "/nobody").c_str(), 1);
    installSystemSpeech();
    bool found = autodetectScreenReader();
    setenv("SPEECHD_ADDRESS", saved.c_str(), 1);
    EXPECT_FALSE(found);
    EXPECT_EQ(speechCurrent(), 0);
    sayString("rien", true);
}

}  // namespace
