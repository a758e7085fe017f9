// The start-up sequence's failure exits and its normal end, through a
// front-end double.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/client.h"
#include "net/conndlg.h"
#include "platform/audio_sink.h"
#include "platform/machine_probe.h"

namespace {
namespace fs = std::filesystem;

struct FrontEndDouble : FrontEnd {
    bool windowClassOk = true;
    std::vector<std::string> fatal;
    bool dialogShown = false, loopRan = false;
    bool createMainWindow() override { return windowClassOk; }
    void runConnectionDialog(ConnDialog* d) override {
        dialogShown = true;
        connDlgCancel(d);  // the player cancels
    }
    int runMessageLoop() override {
        loopRan = true;
        return quitStatus;
    }
    void closeMainWindow() override {}
    void fatalError(const std::string& text) override { fatal.push_back(text); }
    void requestQuit(int status) override { quitStatus = status; }
    bool runOnUiThread(const std::function<void()>& task) override {
        task();
        return true;
    }
    bool isUiThread() const override { return true; }
    int quitStatus = -1;
};

struct SinkDouble : AudioSink {
    bool works = true;
    bool open(AudioPull) override { return works; }
    bool realTime() const override { return false; }
};

class ClientMain : public ::testing::Test {
protected:
    void SetUp() override {
        old = fs::current_path();
        dir = fs::temp_directory_path() /
              ("kordo-client-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        options.programFolder = dir.string();
        options.probe = &probe;
        options.audioSink = &sink;
        options.selectSpeech = [] {};
    }
    void TearDown() override {
        fs::current_path(old);
        fs::remove_all(dir);
    }
    // A configuration that a save would change: the out-of-range volume is
    // replaced at start-up, so the file shows whether the run saved.
    static constexpr const char* kUnsaved = "music.volume=1.5\r\nserver=A,h,1\r\n";
    void seedConfig() {
        std::ofstream f(dir / "config-debug.ini", std::ios::binary);
        f << kUnsaved;
    }
    std::string configText() {
        std::ifstream f(dir / "config-debug.ini", std::ios::binary);
        std::stringstream text;
        text << f.rdbuf();
        return text.str();
    }
    fs::path old, dir;
    FrontEndDouble fe;
    SinkDouble sink;
    MachineProbe probe;  // no disk, no adapter: the identifier is still defined
    ClientOptions options;
};

TEST_F(ClientMain, WindowClassFailureEndsWithStatusOneAndSavesNothing) {
    fe.windowClassOk = false;
    EXPECT_EQ(clientMain(fe, options), 1);
    EXPECT_EQ(fe.fatal, std::vector<std::string>{"Couldn't register window class"});
    EXPECT_FALSE(fe.dialogShown);
    // The default configuration is written when none exists.
    EXPECT_NE(configText().find("music.on=0\r\n"), std::string::npos);
    // An existing one is left as it was.
    seedConfig();
    EXPECT_EQ(clientMain(fe, options), 1);
    EXPECT_EQ(configText(), kUnsaved);
}

TEST_F(ClientMain, NoAudioDeviceEndsWithStatusTwoAndSavesNothing) {
    sink.works = false;
    seedConfig();
    EXPECT_EQ(clientMain(fe, options), 2);
    EXPECT_EQ(fe.fatal, std::vector<std::string>{"Unable to open audio device"});
    EXPECT_FALSE(fe.dialogShown);
    EXPECT_FALSE(fe.loopRan);
    EXPECT_EQ(configText(), kUnsaved);
}

TEST_F(ClientMain, CancelledDialogEndsWithStatusZeroAndSavesTheConfiguration) {
    {
        std::ofstream f(dir / "config-debug.ini", std::ios::binary);
        f << "music.volume=1.5\r\nsound.volume=-0.1\r\nserver=A,h,1\r\n";
    }
    EXPECT_EQ(clientMain(fe, options), 0);
    EXPECT_TRUE(fe.dialogShown);
    EXPECT_TRUE(fe.fatal.empty());
    // Out-of-range volumes were replaced at start-up and saved so.
    EXPECT_NE(configText().find("sound.volume=1\r\nmusic.volume=0.5\r\n"), std::string::npos)
        << configText();
    bool log = false;
    for (auto& e : fs::directory_iterator(dir))
        log |= e.path().filename().string().rfind("session-", 0) == 0;
    EXPECT_TRUE(log);
}

TEST(SessionLog, NameAndStartText) {
    // 2026-03-04 05:06:07 in local time.
    std::tm tm{};
    tm.tm_year = 126;
    tm.tm_mon = 2;
    tm.tm_mday = 4;
    tm.tm_hour = 5;
    tm.tm_min = 6;
    tm.tm_sec = 7;
    tm.tm_isdst = -1;
    int64_t t = static_cast<int64_t>(std::mktime(&tm));
    EXPECT_EQ(sessionLogName(t), "session-2026-03-04.log");
    EXPECT_EQ(sessionLogStartText(t), "Log started on 04.03.2026 05:06:07");
}
}  // namespace
