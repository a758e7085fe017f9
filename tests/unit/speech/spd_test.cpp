// The Linux back-ends against a private speech-dispatcher whose only output
// module is a recorder: every message it would speak is appended, with the
// rate it would use, to a file ("RATE|TEXT" per line).
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
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
    EXPECT_TRUE(speechSpeaksMenus());
    sayString("muet", false);
    sapiSwitch();
    sayString("parle", false);
    const std::string switchedOn = "Voix SAPI activ\u00E9e";  // UTF-8
    EXPECT_EQ(texts(heardSettled(2)), (std::vector<std::string>{switchedOn, "parle"}));
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
    bool menus = speechSpeaksMenus();
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
    // The seam alone, with a recording double for the display; the BrlAPI
    // adapter itself is run against BRLTTY below.
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

TEST_F(speechDispatcher, AnInterruptLeavesOtherClientsSpeechAlone) {
    const std::string spdSay = "/usr/bin/spd-say";
    if (!fs::exists(spdSay)) GTEST_SKIP() << "spd-say is not installed";
    auto reader = spdOpenScreenReader(nullptr);
    ASSERT_TRUE(reader);
    setSpeechBackend(reader.get());
    sayString("ligne 1", false);
    sayString("ligne 2", false);
    // Another client (the screen reader itself, say) queues three messages
    // at the client's priority; spd-say leaves them queued when it exits.
    for (const char* t : {"autre 1", "autre 2", "autre 3"})
        ASSERT_TRUE(privspd::run({spdSay, "-P", "message", t}, spd.dir + "/spd-say.log"));
    ASSERT_TRUE(waitFor([] { return !heard().empty(); }, 5000ms));
    sayString("stop", true);
    std::vector<std::string> got = texts(heardSettled(4));
    setSpeechBackend(nullptr);
    // Cancelling everyone's speech (spd_cancel_all) would lose the other
    // client's queued lines too.
    std::vector<std::string> others;
    for (const std::string& t : got)
        if (t.rfind("autre ", 0) == 0) others.push_back(t);
    EXPECT_EQ(others, (std::vector<std::string>{"autre 1", "autre 2", "autre 3"}));
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), "stop");
}

TEST_F(speechDispatcher, TheServiceIsStartedOnDemand) {
    // No address: libspeechd uses the user's socket under XDG_RUNTIME_DIR and,
    // finding no daemon there, runs "speech-dispatcher --spawn", which reads
    // the user's configuration under XDG_CONFIG_HOME: a recorder of its own.
    std::string home = spd.dir + "/spawned";
    std::string heardHere = home + "/heard.txt";
    fs::create_directories(home + "/run");
    fs::permissions(home + "/run", fs::perms::owner_all, fs::perm_options::replace);
    privspd::writeRecorderConfig(home + "/config/speech-dispatcher", heardHere);
    // Should the test die before its end, the daemon leaves 5 s after its
    // last client.
    std::ofstream(home + "/config/speech-dispatcher/speechd.conf", std::ios::app) << "Timeout 5\n";
    std::string savedAddress = getenv("SPEECHD_ADDRESS");
    std::string savedRuntime = getenv("XDG_RUNTIME_DIR");
    std::string savedConfig = getenv("XDG_CONFIG_HOME");
    unsetenv("SPEECHD_ADDRESS");
    setenv("XDG_RUNTIME_DIR", (home + "/run").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
    std::unique_ptr<SpeechBackend> voice = spdOpenVoice();
    setenv("SPEECHD_ADDRESS", savedAddress.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
    setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
    ASSERT_TRUE(voice) << "no daemon was started (see " << home << "/run)";
    voice->speak("d\xE9marr\xE9", false);
    auto heardThere = [&] {
        std::ifstream in(heardHere);
        std::string l;
        std::getline(in, l);
        return l;
    };
    waitFor([&] { return !heardThere().empty(); }, 5000ms);
    voice.reset();
    // The spawned daemon is not this process's child: stop it by its pid
    // file, and wait (bounded) until it is gone or a zombie of init's.
    std::ifstream pidFile(home + "/run/speech-dispatcher/pid/speech-dispatcher.pid");
    pid_t pid = 0;
    if (pidFile >> pid && pid > 0) {
        kill(pid, SIGTERM);
        waitFor(
            [&] {
                std::ifstream st("/proc/" + std::to_string(pid) + "/stat");
                std::string pidField, comm, state;
                return !(st >> pidField >> comm >> state) || state == "Z";
            },
            3000ms);
    }
    EXPECT_EQ(texts({heardThere()}), (std::vector<std::string>{"d\u00E9marr\u00E9"}));
    EXPECT_TRUE(heard().empty()) << "the test's own daemon was reached";
}

TEST(brailleDisplay, LinesFillTheDisplayExactlyAndUnusableDisplaysAreRefused) {
    struct Line {
        std::string text;
        unsigned cells;
        std::string shown;  // UTF-8
    };
    const Line lines[] = {
        {"un", 5, "un   "},
        {"", 3, "   "},
        // Cut in characters, not in UTF-8 bytes; the euro sign is U+20AC.
        {"\xE9t\xE9 \x80 et la suite", 5, "\u00E9t\u00E9 \u20AC"},
        // A multi-line message reads on one line.
        {"ligne 1\r\nligne 2\tfin", 20, "ligne 1  ligne 2 fin"},
        {"abc", 0, ""},
    };
    for (const Line& l : lines)
        EXPECT_EQ(brailleLine(l.text, l.cells), l.shown) << "\"" << l.text << "\", " << l.cells;

    struct Display {
        const char* driver;
        unsigned columns, rows, cells;
    };
    const Display displays[] = {
        {"Virtual", 40, 1, 40},
        {"Virtual", 20, 2, 40},
        {"NoBraille", 40, 1, 0},
        {"Virtual", 1, 1, 0},
        {"Virtual", 0, 0, 0},
        {"Virtual", 40, 0, 0},
        // The product wraps to 131073 in 32 bits; no display is that large.
        {"Virtual", 65537, 65537, 0},
    };
    for (const Display& d : displays)
        EXPECT_EQ(brailleCells(d.driver, d.columns, d.rows), d.cells)
            << d.driver << " " << d.columns << "x" << d.rows;
}

// BRLTTY with its virtual braille driver, this test being the display at the
// other end of the driver's socket ("cells C R" in, one
// `Visual "<text>"` line out per change), and a BrlAPI server on a local
// socket numbered after this process so parallel runs do not meet.  BrlAPI
// clients of this process reach it through BRLAPI_HOST; CONTROLVT names the
// tty they ask for (the screen driver is none, so every tty is shown).
class Brltty {
  public:
    static std::string exe() {
        for (const char* p : {"/usr/bin/brltty", "/bin/brltty", "/sbin/brltty"})
            if (fs::exists(p)) return p;
        return "";
    }
    // Why BRLTTY cannot run here, or "" when it can.  Its BrlAPI sockets go
    // in a fixed system folder (the package makes it world-writable).
    static std::string unavailable() {
        if (exe().empty()) return "brltty is not installed";
        if (access("/var/lib/BrlAPI", W_OK) != 0) return "/var/lib/BrlAPI is not writable";
        return "";
    }

    // `columns` 0: the NoBraille driver, no display at all.
    Brltty(const std::string& dir, unsigned columns, unsigned rows) : dir_(dir) {
        std::string host = ":" + std::to_string(getpid());
        std::string apiSocket = "/var/lib/BrlAPI/" + std::to_string(getpid());
        std::string display = dir + "/vr.sock";
        fs::remove(display);
        std::vector<std::string> argv = {"/usr/bin/env", "LC_ALL=C.UTF-8",
                                         exe(),          "-n",
                                         "-e",           "-q",
                                         "-f",           "/dev/null",
                                         "-F",           "/dev/null",
                                         "-P",           dir + "/brltty.pid",
                                         "-W",           dir,
                                         "-U",           dir,
                                         "-x",           "no",
                                         "-s",           "no",
                                         "-A",           "host=" + host + ",auth=none"};
        if (columns == 0) {
            argv.insert(argv.end(), {"-b", "no"});
        } else {
            argv.insert(argv.end(), {"-b", "vr", "-d", "server:" + display});
        }
        pid_ = privspd::spawn(argv, dir + "/brltty.log");
        setenv("BRLAPI_HOST", host.c_str(), 1);
        setenv("CONTROLVT", "1", 1);
        if (!waitFor([&] { return fs::exists(apiSocket); }, 5000ms)) return;
        if (columns == 0) {
            ready_ = true;
            return;
        }
        if (!waitFor([&] { return fs::exists(display); }, 5000ms)) return;
        fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", display.c_str());
        if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return;
        std::string cells = "cells " + std::to_string(columns) + " " + std::to_string(rows) + "\n";
        if (::send(fd_, cells.data(), cells.size(), MSG_NOSIGNAL) != ssize_t(cells.size())) return;
        // BRLTTY shows its own screen ("no screen") once the display is set.
        ready_ = nextVisual(5000).has_value();
    }
    ~Brltty() {
        if (fd_ >= 0) close(fd_);
        privspd::stop(pid_);
        unsetenv("BRLAPI_HOST");
        unsetenv("CONTROLVT");
    }
    bool ready() const { return ready_; }

    // The text of the next `Visual` line the driver sends, waiting at most
    // timeoutMs; nullopt when none came.
    std::optional<std::string> nextVisual(int timeoutMs) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            size_t nl;
            while ((nl = pending_.find('\n')) != std::string::npos) {
                std::string line = pending_.substr(0, nl);
                pending_.erase(0, nl + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                const std::string head = "Visual \"";
                if (line.rfind(head, 0) != 0 || line.back() != '"') continue;
                std::string text;
                for (size_t i = head.size(); i + 1 < line.size(); ++i) {
                    if (line[i] == '\\' && i + 2 < line.size()) ++i;  // \\ and \"
                    text += line[i];
                }
                return text;
            }
            int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            end - std::chrono::steady_clock::now())
                                            .count());
            pollfd p{fd_, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, left) <= 0) return std::nullopt;
            char buf[4096];
            ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) return std::nullopt;
            pending_.append(buf, static_cast<size_t>(n));
        }
    }

  private:
    std::string dir_;
    pid_t pid_ = -1;
    int fd_ = -1;
    bool ready_ = false;
    std::string pending_;
};

TEST_F(speechDispatcher, TheScreenReaderWritesEachLineOnABrlttyDisplay) {
    if (std::string why = Brltty::unavailable(); !why.empty()) GTEST_SKIP() << why;
    Brltty brltty(spd.dir, 20, 1);
    ASSERT_TRUE(brltty.ready()) << "see " << spd.dir << "/brltty.log";
    std::unique_ptr<BrailleOutput> display = brlapiOpen();
    ASSERT_TRUE(display);
    auto reader = spdOpenScreenReader(std::move(display));
    ASSERT_TRUE(reader);
    setSpeechBackend(reader.get());
    sayString("\xE9t\xE9 \x80", false);
    // The whole display is the client's line, in UTF-8.
    EXPECT_EQ(brltty.nextVisual(3000), "\u00E9t\u00E9 \u20AC               ");
    EXPECT_EQ(texts(heardSettled(1)), (std::vector<std::string>{"\u00E9t\u00E9 \u20AC"}))
        << "the line is spoken as well";
    setSpeechBackend(nullptr);
}

TEST_F(speechDispatcher, NoBrailleWithoutAUsableBrlttyDisplay) {
    if (std::string why = Brltty::unavailable(); !why.empty()) GTEST_SKIP() << why;
    struct Case {
        const char* what;
        unsigned columns, rows;
    };
    for (const Case& c :
         {Case{"a display of one cell", 1, 1}, Case{"the NoBraille driver", 0, 0}}) {
        Brltty brltty(spd.dir, c.columns, c.rows);
        ASSERT_TRUE(brltty.ready()) << c.what << ": see " << spd.dir << "/brltty.log";
        EXPECT_FALSE(brlapiOpen()) << c.what;
    }
    // No BRLTTY at all: nothing listens on the socket BRLAPI_HOST names.
    setenv("BRLAPI_HOST", (":" + std::to_string(getpid())).c_str(), 1);
    EXPECT_FALSE(brlapiOpen()) << "no BRLTTY";
    unsetenv("BRLAPI_HOST");
}

}  // namespace
