// kordo-headless --speech system: the real detection and the Speech
// Dispatcher back-ends, driven end to end.  A scripted server on 127.0.0.1
// sends the lines, the player's commands go in on the client's standard
// input, and a private speech-dispatcher records what is heard (see
// private_speechd.h).  Detection is tried with a stand-in process named
// "orca", with the accessibility bus's ScreenReaderEnabled property, and with
// neither.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "private_speechd.h"
#include "support/script_server.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using privspd::waitFor;

const std::string kSwitchedOn = "Voix SAPI activ\u00E9e";  // UTF-8, as heard

// GLib's D-Bus worker thread is not instrumented: under ThreadSanitizer its
// own synchronisation shows as races in the client that reads the property,
// so the bus is left out there, as the display tests leave GLib out of the
// sanitizer builds.
#if defined(__SANITIZE_THREAD__)
constexpr bool kBusCheckable = false;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kBusCheckable = false;
#else
constexpr bool kBusCheckable = true;
#endif
#else
constexpr bool kBusCheckable = true;
#endif

// kordo-headless in its own program folder, with pipes on its standard input
// and output.  Events are read on the test's thread with bounded waits.
class Headless {
  public:
    Headless(const std::string& folder, int port) {
        fs::create_directories(folder);
        std::ofstream(folder + "/config-debug.ini", std::ios::binary)
            << "language=fr\r\nserver.default=0\r\n"
            << "server=Test,127.0.0.1," << port
            << ",http://localhost/about.php,http://localhost/register.php,"
               "http://localhost/lostpassword.php,localhost,/autodl\r\n";
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            dup2(in[0], 0);
            dup2(out[1], 1);
            FILE* err = freopen((folder + "/stderr.txt").c_str(), "a", stderr);
            (void)err;
            execl(KORDO_HEADLESS, KORDO_HEADLESS, "--dir", folder.c_str(), "--speech", "system",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        in_ = in[1];
        out_ = out[0];
    }
    ~Headless() {
        if (in_ >= 0) close(in_);
        // End of input closes the main window; the client says "quit" and
        // leaves.  Bounded: a stuck client is killed.
        if (pid_ > 0) {
            bool gone = waitFor([&] { return waitpid(pid_, nullptr, WNOHANG) == pid_; }, 5000ms);
            if (!gone) privspd::stop(pid_);
        }
        if (out_ >= 0) close(out_);
    }

    void player(const std::string& command) {
        std::string line = command + "\n";
        ASSERT_EQ(write(in_, line.data(), line.size()), ssize_t(line.size()));
    }

    // Waits (5 s at most) for an event line containing `part`; the events
    // read meanwhile are kept in `events`.
    bool expect(const std::string& part) {
        auto end = std::chrono::steady_clock::now() + 5s;
        for (;;) {
            size_t nl;
            while ((nl = pending_.find('\n')) != std::string::npos) {
                events.push_back(pending_.substr(0, nl));
                pending_.erase(0, nl + 1);
                if (events.back().find(part) != std::string::npos) return true;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            pollfd p{out_, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
            char buf[4096];
            ssize_t n = read(out_, buf, sizeof buf);
            if (n <= 0) return false;
            pending_.append(buf, static_cast<size_t>(n));
        }
    }

    std::vector<std::string> events;

  private:
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
    std::string pending_;
};

// A private session bus with the accessibility bus launcher on it, whose
// ScreenReaderEnabled property is set as asked.  Points this process's
// DBUS_SESSION_BUS_ADDRESS (so the client's) at it while it lives.
class A11yBus {
  public:
    static bool available() {
        return fs::exists("/usr/bin/dbus-daemon") && fs::exists(kLauncher) &&
               fs::exists("/usr/bin/dbus-send");
    }

    A11yBus(const std::string& dir, bool screenReader) {
        saved_ = getenv("DBUS_SESSION_BUS_ADDRESS");
        std::string path = dir + "/bus";
        fs::remove(path);
        daemon_ = privspd::spawn(
            {"/usr/bin/dbus-daemon", "--session", "--nofork", "--address=unix:path=" + path},
            dir + "/bus.log");
        if (!waitFor([&] { return fs::exists(path); }, 5000ms)) return;
        setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + path).c_str(), 1);
        launcher_ = privspd::spawn({kLauncher, "--launch-immediately"}, dir + "/bus.log");
        std::vector<std::string> set = {
            "/usr/bin/dbus-send",
            "--session",
            "--print-reply",
            "--dest=org.a11y.Bus",
            "/org/a11y/bus",
            "org.freedesktop.DBus.Properties.Set",
            "string:org.a11y.Status",
            "string:ScreenReaderEnabled",
            screenReader ? "variant:boolean:true" : "variant:boolean:false"};
        // The launcher owns its name a moment after it starts.
        ready_ = waitFor([&] { return privspd::run(set, dir + "/bus.log"); }, 5000ms);
    }
    ~A11yBus() {
        privspd::stop(launcher_);
        privspd::stop(daemon_);
        setenv("DBUS_SESSION_BUS_ADDRESS", saved_.c_str(), 1);
    }
    bool ready() const { return ready_; }

  private:
    static constexpr const char* kLauncher = "/usr/libexec/at-spi-bus-launcher";
    std::string saved_;
    pid_t daemon_ = -1, launcher_ = -1;
    bool ready_ = false;
};

class headlessSystemSpeech : public ::testing::Test {
  protected:
    static inline privspd::PrivateSpeechd spd;

    static void SetUpTestSuite() { spd.start(); }
    static void TearDownTestSuite() { spd.stop(false); }

    void SetUp() override {
        if (!spd.skipReason.empty()) GTEST_SKIP() << spd.skipReason;
        spd.forget();
        folder_ = spd.dir + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }

    // Starts the client, logs in as the player would and waits until what
    // the client says on its way in has been said; then forgets it.
    void startAndLogIn() {
        client_ = std::make_unique<Headless>(folder_, server_.port());
        ASSERT_TRUE(client_->expect("dialog connection 0 Test"));
        client_->player("answer 0|joueur|secret");
        conn_ = server_.acceptLogin(1);
        ASSERT_TRUE(conn_);
        say("say connecte");
        ASSERT_TRUE(client_->expect("connecte"));
        spd.heardSettled(0);
        spd.forget();
    }

    void say(const std::string& line) { ASSERT_TRUE(conn_->send(line + "\n")); }

    // The texts heard once at least n lines came and the recorder settled.
    std::vector<std::string> heard(size_t n) {
        return privspd::PrivateSpeechd::texts(spd.heardSettled(n));
    }
    // The last line heard, with its rate ("RATE|TEXT"), once the recorder
    // settled; "" when nothing was heard.
    std::string lastHeardWithRate() {
        std::vector<std::string> lines = spd.heardSettled(1);
        return lines.empty() ? "" : lines.back();
    }

    static bool has(const std::vector<std::string>& v, const std::string& s) {
        return std::find(v.begin(), v.end(), s) != v.end();
    }

    // A burst of ten lines, all heard in order; then ten more cut off by an
    // interrupting line.
    void burstThenInterrupt() {
        std::vector<std::string> sent;
        for (int i = 1; i <= 10; ++i) {
            sent.push_back("ligne " + std::to_string(i));
            say("say " + sent.back());
        }
        EXPECT_EQ(heard(10), sent);
        spd.forget();
        for (int i = 1; i <= 10; ++i) say("say suite " + std::to_string(i));
        ASSERT_TRUE(waitFor([] { return !spd.heard().empty(); }, 5000ms));
        say("sayi stop");
        std::vector<std::string> got = heard(2);
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(got.front(), "suite 1");
        EXPECT_EQ(got.back(), "stop");
        EXPECT_LT(got.size(), 8u) << "queued lines were spoken after the interruption";
    }

    // A menu opens and the player moves to its second item; then a line marks
    // the end.  Returns what was heard.
    std::vector<std::string> menuMoveThenMark() {
        say("menu 5|1|3|0|0|x|Jouer|jouer|null|null|Options|opts|null|null|Quitter|quit|null|null");
        EXPECT_TRUE(client_->expect("list-select 0"));
        client_->player("keydown 40 list");
        EXPECT_TRUE(client_->expect("list-select 1"));
        say("say fin");
        return heard(1);
    }

    std::string folder_;
    ScriptServer server_;
    std::unique_ptr<Headless> client_;
    std::unique_ptr<ServerConn> conn_;
};

TEST_F(headlessSystemSpeech, WithoutAScreenReaderTheVoiceSpeaksOnceSwitchedOn) {
    // The accessibility bus is there and says no screen reader runs (where
    // it cannot be, there is no bus: that says none as well).
    std::unique_ptr<A11yBus> bus;
    if (kBusCheckable && A11yBus::available()) {
        bus = std::make_unique<A11yBus>(spd.dir, false);
        ASSERT_TRUE(bus->ready()) << "see " << spd.dir << "/bus.log";
    }
    ASSERT_NO_FATAL_FAILURE(startAndLogIn());
    say("say muet");
    ASSERT_TRUE(client_->expect("muet"));  // in the history, not heard
    client_->player("command 1008");
    EXPECT_EQ(heard(1), (std::vector<std::string>{kSwitchedOn}));
    spd.forget();

    // The client speaks menu items itself.
    std::vector<std::string> got = menuMoveThenMark();
    EXPECT_TRUE(has(got, "Options")) << ::testing::PrintToString(got);
    spd.forget();

    ASSERT_NO_FATAL_FAILURE(burstThenInterrupt());

    // Rate commands, each announced with interrupt: the last one stands.
    // 0 and 100 on the client's scale are -100 and 100 on the service's; one
    // step back from a bound shows the bound held.
    spd.forget();
    for (int i = 0; i < 25; ++i) client_->player("command 1010");
    EXPECT_EQ(lastHeardWithRate(), "-100.00|Moins vite");
    spd.forget();
    client_->player("command 1009");
    EXPECT_EQ(lastHeardWithRate(), "-90.00|Plus vite");
    spd.forget();
    for (int i = 0; i < 25; ++i) client_->player("command 1009");
    EXPECT_EQ(lastHeardWithRate(), "100.00|Plus vite");
    spd.forget();
    client_->player("command 1010");
    EXPECT_EQ(lastHeardWithRate(), "90.00|Moins vite");

    // Switched off again: silent, and switching off says nothing.
    spd.forget();
    client_->player("command 1008");
    // Commands run in order: once the focus moved, the switch is off; only
    // then may the server's line come (it reaches the UI thread by another
    // path).
    client_->player("command 2021");
    ASSERT_TRUE(client_->expect("focus history"));
    say("say muet encore");
    ASSERT_TRUE(client_->expect("muet encore"));
    std::this_thread::sleep_for(400ms);
    EXPECT_TRUE(spd.heard().empty()) << ::testing::PrintToString(spd.heard());
}

TEST_F(headlessSystemSpeech, AnOrcaProcessSelectsTheScreenReader) {
    // A stand-in named "orca": a copy of sleep, so the kernel names it so.
    std::string orca = spd.dir + "/orca";
    fs::copy_file("/bin/sleep", orca, fs::copy_options::overwrite_existing);
    struct StandIn {
        pid_t pid;
        ~StandIn() { privspd::stop(pid); }
    } standIn{privspd::spawn({orca, "60"}, spd.dir + "/orca.log")};
    ASSERT_GT(standIn.pid, 0);
    ASSERT_NO_FATAL_FAILURE(startAndLogIn());
    // Heard with no switch; the menu is left to the screen reader, and the
    // voice's rate commands do nothing.
    client_->player("command 1009");
    std::vector<std::string> got = menuMoveThenMark();
    EXPECT_EQ(got, (std::vector<std::string>{"fin"}));
    spd.forget();
    ASSERT_NO_FATAL_FAILURE(burstThenInterrupt());
}

TEST_F(headlessSystemSpeech, TheScreenReaderEnabledPropertySelectsTheScreenReader) {
    if (!kBusCheckable) GTEST_SKIP() << "GLib is not instrumented for ThreadSanitizer";
    if (!A11yBus::available()) GTEST_SKIP() << "no dbus-daemon or at-spi-bus-launcher";
    A11yBus bus(spd.dir, true);
    ASSERT_TRUE(bus.ready()) << "see " << spd.dir << "/bus.log";
    ASSERT_NO_FATAL_FAILURE(startAndLogIn());
    std::vector<std::string> got = menuMoveThenMark();
    EXPECT_EQ(got, (std::vector<std::string>{"fin"}));
}

}  // namespace
