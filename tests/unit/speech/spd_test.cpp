// The Linux back-ends against a private speech-dispatcher whose only output
// module is a recorder: every message it would speak is appended, with the
// rate it would use, to a file ("RATE|TEXT" per line).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "speech/record/record_backend.h"
#include "speech/spd/spd_speech.h"
#include "speech/speech.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// libspeechd's spd_open2 loses a formatted error string when it cannot
// connect; the leak is the library's, once per failed connection.  The slow
// unwinder lets the suppression see past glibc's frames to spd_open2.
extern "C" const char* __lsan_default_suppressions() { return "leak:spd_open2\n"; }
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
// libspeechd is not instrumented: spd_close cancels and joins its event
// thread, then destroys the condition that thread waited on, which
// ThreadSanitizer cannot see as ordered.
extern "C" const char* __tsan_default_suppressions() {
    return "race:spd_close\nrace:libspeechd.so\n";
}

namespace {

// Polls `done` every 20 ms for at most `limit`.
template <typename F>
bool waitFor(F done, std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// Starts `argv` with stdout and stderr to `log`; returns the pid or -1.
pid_t spawn(const std::vector<std::string>& argv, const std::string& log) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    // The daemon runs without an idle timeout: make it go with this test
    // process even when the test dies before its tear-down.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    FILE* f = freopen(log.c_str(), "a", stdout);
    if (f) dup2(fileno(stdout), 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

void stop(pid_t& pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    bool gone = waitFor([&] { return waitpid(pid, nullptr, WNOHANG) == pid; }, 3000ms);
    if (!gone) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    pid = -1;
}

// One private daemon for the whole suite, in a temporary folder that also
// serves as HOME and XDG_RUNTIME_DIR so nothing of the user's is touched.
class speechDispatcher : public ::testing::Test {
protected:
    static inline std::string dir;
    static inline pid_t daemon = -1;
    static inline std::string skipReason;

    static std::string heardFile() { return dir + "/heard.txt"; }

    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/kordo-spd-XXXXXX";
        if (!mkdtemp(tmpl)) {
            skipReason = "no temporary folder";
            return;
        }
        dir = tmpl;
        std::ofstream(dir + "/recorder.conf")
            << "GenericExecuteSynth \"printf '%s|%s\\\\n' \\'$RATE\\' \\'$DATA\\' >> " << heardFile()
            << " && sleep 0.1\"\n"
            << "GenericLanguage \"fr\" \"fr\" \"utf-8\"\n"
            << "AddVoice \"fr\" \"MALE1\" \"recorder\"\n";
        std::ofstream(dir + "/speechd.conf") << "AddModule \"recorder\" \"sd_generic\" \"" << dir
                                             << "/recorder.conf\"\n"
                                             << "DefaultModule recorder\n"
                                             << "DefaultLanguage \"fr\"\n"
                                             // The recorder plays nothing, but the module
                                             // opens an output; libao needs no sound server.
                                             << "AudioOutputMethod \"libao\"\n";
        setenv("HOME", dir.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
        // No session bus: the accessibility property cannot say "enabled".
        setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir + "/no-bus").c_str(), 1);
        setenv("SPEECHD_ADDRESS", ("unix_socket:" + dir + "/sock").c_str(), 1);
        std::string exe = "/usr/bin/speech-dispatcher";
        if (!fs::exists(exe)) {
            skipReason = "speech-dispatcher is not installed";
            return;
        }
        daemon = spawn({exe, "-s", "-t", "0", "-C", dir, "-S", dir + "/sock", "-P", dir + "/pid"},
                       dir + "/daemon.log");
        bool up = waitFor(
            [&] {
                return fs::exists(dir + "/sock") || waitpid(daemon, nullptr, WNOHANG) == daemon;
            },
            10000ms);
        if (!up || !fs::exists(dir + "/sock")) {
            skipReason = "speech-dispatcher did not start (see " + dir + "/daemon.log)";
            stop(daemon);
        }
    }

    static void TearDownTestSuite() {
        speechReset();
        stop(daemon);
        if (!dir.empty() && skipReason.empty()) fs::remove_all(dir);
    }

    void SetUp() override {
        if (!skipReason.empty()) GTEST_SKIP() << skipReason;
        speechReset();
        fs::remove(heardFile());
    }
    void TearDown() override { speechReset(); }

    static std::vector<std::string> heard() {
        std::ifstream in(heardFile());
        std::vector<std::string> lines;
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    }

    // Waits until the recorder has `n` lines and nothing more arrives for
    // 400 ms (more than one message's time), then returns them.
    static std::vector<std::string> heardSettled(size_t n) {
        waitFor([&] { return heard().size() >= n; }, 10000ms);
        size_t last = heard().size();
        for (;;) {
            std::this_thread::sleep_for(400ms);
            size_t now = heard().size();
            if (now == last) break;
            last = now;
        }
        return heard();
    }

    static std::vector<std::string> texts(const std::vector<std::string>& lines) {
        std::vector<std::string> out;
        for (const std::string& l : lines) out.push_back(l.substr(l.find('|') + 1));
        return out;
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
    EXPECT_EQ(texts(heardSettled(2)),
              (std::vector<std::string>{"Voix SAPI activ\xC3\xA9" "e", "parle"}));
}

TEST_F(speechDispatcher, AnOrcaProcessSelectsTheScreenReader) {
    // A stand-in named "orca": a copy of sleep, so the kernel names it so.
    std::string orca = dir + "/orca";
    fs::copy_file("/bin/sleep", orca, fs::copy_options::overwrite_existing);
    pid_t pid = spawn({orca, "30"}, dir + "/orca.log");
    ASSERT_GT(pid, 0);
    bool seen = waitFor([] { return orcaProcessRunning(); }, 3000ms);
    installSystemSpeech();
    bool detected = autodetectScreenReader();
    int current = speechCurrent();
    bool menus = speakMenuOnItemChange;
    stop(pid);
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
    setenv("SPEECHD_ADDRESS", ("unix_socket:" + dir + "/nobody").c_str(), 1);
    installSystemSpeech();
    bool found = autodetectScreenReader();
    setenv("SPEECHD_ADDRESS", saved.c_str(), 1);
    EXPECT_FALSE(found);
    EXPECT_EQ(speechCurrent(), 0);
    sayString("rien", true);
}

}  // namespace
