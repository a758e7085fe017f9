// The message history: which flags store, show, log and speak a message,
// the capacity rule, the reading position, the saved file and the log.
#include "history/history.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/core.h"
#include "support/event_ui.h"

namespace {

using Events = std::vector<std::string>;
namespace fs = std::filesystem;

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class History : public ::testing::Test {
protected:
    void SetUp() override {
        resetCore();
        dir = fs::temp_directory_path() / ("kordo-history-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        resetCore();
        fs::remove_all(dir);
    }
    EventUi ui;
    fs::path dir;
};

TEST_F(History, FlagsDecideWhatIsStoredShownLoggedAndSpoken) {
    struct Case {
        const char* sender;
        int flags;
        bool active, dialog;
        bool stored;
        Events heard;  // view and speech events, in order
    };
    const Case cases[] = {
        {"say", 1, true, false, true, {"history \r\nm", "speak 0 m"}},
        {"say, other program active", 1, false, false, true, {"history \r\nm"}},
        {"say, dialog open", 1, false, true, true, {"history \r\nm", "speak 0 m"}},
        {"sayi", 3, true, false, true, {"history \r\nm", "speak 1 m"}},
        {"saynh", 5, true, false, false, {"speak 0 m"}},
        {"saynh, other program active", 5, false, false, false, {}},
        {"sayurg, other program active", 9, false, false, true, {"history \r\nm", "speak 0 m"}},
        {"flag 8 without flag 1", 8, false, false, true, {"history \r\nm"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sender);
        historyReset();
        fs::path log = dir / "session.log";
        fs::remove(log);
        ASSERT_TRUE(historyOpenLog(log.string(), "Log started"));
        ui.active = c.active;
        ui.setInDialog(c.dialog);
        historyAdd("m", c.flags);
        historyCloseLog();
        EXPECT_EQ(ui.take(), c.heard);
        EXPECT_EQ(historyState.histLen, c.stored ? 1 : 0);
        EXPECT_EQ(readFile(log), c.stored ? "Log started\r\nm" : "Log started");
    }
}

TEST_F(History, ControlBytesBecomeLineBreaks) {
    historyAdd("one\x01\x02two", 1);
    EXPECT_EQ(historyAt(0), "one\r\ntwo");
    EXPECT_EQ(ui.historyText(), "\r\none\r\ntwo");
    EXPECT_EQ(ui.take(), (Events{"history \r\none\r\ntwo", "speak 0 one\r\ntwo"}));
}

TEST_F(History, CapacityGrowsByHalfPlusOne) {
    std::vector<int> caps;
    for (int i = 1; i <= 40; ++i) {
        historyAdd("m" + std::to_string(i), 0);
        if (caps.empty() || caps.back() != historyState.histCap) caps.push_back(historyState.histCap);
    }
    EXPECT_EQ(caps, (std::vector<int>{16, 25, 38, 58}));
    EXPECT_EQ(historyState.histLen, 40);
    EXPECT_EQ(historyAt(0), "m1");
    EXPECT_EQ(historyAt(39), "m40");
}

TEST_F(History, ReadingPositionStopsAtBothEnds) {
    historyMove(-1);
    historyMove(1);
    EXPECT_TRUE(ui.take().empty());  // nothing to read
    for (const char* m : {"a", "b", "c"}) historyAdd(m, 0);
    ui.take();
    struct Step {
        int n;
        const char* spoken;
    };
    const Step steps[] = {{1, "a"},          {-1, "a"},          {1, "b"}, {1000000000, "c"},
                          {1, "c"},          {-1000000000, "a"}, {2, "c"}, {INT32_MAX, "c"},
                          {INT32_MIN, "a"}};
    for (const Step& s : steps) {
        historyMove(s.n);
        EXPECT_EQ(ui.take(), (Events{std::string("speak 1 ") + s.spoken})) << s.n;
    }
    historyAdd("d", 0);  // new messages do not move the position
    EXPECT_EQ(historyState.histPos, 0);
}

TEST_F(History, ReadersKeepTheirPlaceInTheView) {
    historyAdd("first", 0);
    ui.setFocus(UiControl::History);
    ui.historySetSelection(2, 4);
    historyAdd("second", 0);
    EXPECT_EQ(ui.historySelection(), (std::pair<int, int>{2, 4}));
    ui.setFocus(UiControl::List);
    historyAdd("third", 0);
    int end = static_cast<int>(ui.historyText().size());
    EXPECT_EQ(ui.historySelection(), (std::pair<int, int>{end, end}));
}

TEST_F(History, SavingWritesTheViewAsShown) {
    historyAdd("message 1", 0);
    historyAdd("m\xE9ssage 2", 0);
    fs::path out = dir / "saved.txt";
    {
        std::ofstream old(out, std::ios::binary);
        old << "older and longer content";
    }
    historySave();  // cancelled: nothing written
    EXPECT_EQ(readFile(out), "older and longer content");
    ui.savePath = out.string();
    historySave();
    EXPECT_EQ(readFile(out), "\r\nmessage 1\r\nm\xE9ssage 2");
    ui.savePath = (dir / "no-such-dir" / "x.txt").string();
    historySave();  // cannot be created: silently nothing
    EXPECT_FALSE(fs::exists(dir / "no-such-dir"));
}

TEST_F(History, TheLogAppendsAcrossRuns) {
    fs::path log = dir / "session-2026-12-10.log";
    ASSERT_TRUE(historyOpenLog(log.string(), "Log started on 10.12.2026 08:00:00"));
    historyAdd("one", 0);
    historyCloseLog();
    ASSERT_TRUE(historyOpenLog(log.string(), "Log started on 10.12.2026 09:00:00"));
    historyAdd("two", 0);
    historyCloseLog();
    EXPECT_EQ(readFile(log),
              "Log started on 10.12.2026 08:00:00\r\noneLog started on 10.12.2026 09:00:00\r\ntwo");
    EXPECT_FALSE(historyOpenLog((dir / "missing" / "x.log").string(), "x"));
    historyAdd("three", 0);  // no log: the message is still kept
    EXPECT_EQ(historyState.histLen, 3);
}

// Messages from another thread wait for the UI thread and keep their order.
TEST_F(History, MessagesFromSeveralThreadsArriveWhole) {
    std::vector<std::thread> senders;
    for (int t = 0; t < 4; ++t)
        senders.emplace_back([t] {
            for (int i = 0; i < 100; ++i) historyAdd("t" + std::to_string(t) + "-" + std::to_string(i), 0);
        });
    for (auto& s : senders) s.join();
    ASSERT_EQ(historyState.histLen, 400);
    std::vector<int> next(4, 0);
    for (int i = 0; i < 400; ++i) {
        std::string m = historyAt(i);
        int t = m[1] - '0';
        EXPECT_EQ(m, "t" + std::to_string(t) + "-" + std::to_string(next[t]++));
    }
}

}  // namespace
