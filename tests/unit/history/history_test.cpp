// The message history: which flags store, show, log and speak a message,
// the capacity rule, the reading position, the saved file and the log.
#include "history/history.h"

#include <gtest/gtest.h>

#include <algorithm>
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
        EXPECT_EQ(historyCounts().length, c.stored ? 1 : 0);
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
        if (caps.empty() || caps.back() != historyCounts().capacity) caps.push_back(historyCounts().capacity);
    }
    EXPECT_EQ(caps, (std::vector<int>{16, 25, 38, 58}));
    EXPECT_EQ(historyCounts().length, 40);
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
    EXPECT_EQ(historyCounts().position, 0);
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
    EXPECT_EQ(historyCounts().length, 3);
}

// The budget: what the list keeps and what the view shows, and what the
// budget counts for them.
std::string listedText() {
    std::string text;
    for (int i = 0; i < historyCounts().length; ++i) text += "\r\n" + historyAt(i);
    return text;
}
size_t historyCost() {
    size_t cost = 0;
    for (int i = 0; i < historyCounts().length; ++i) cost += 2 + historyAt(i).size() + kHistoryMessageCost;
    return cost;
}

// Past its budget the history drops its oldest messages, the list and the
// view alike, down to 7/8 of the budget; the newest message always stays,
// even alone over the budget; the log keeps everything.
TEST_F(History, PastTheBudgetTheOldestMessagesGoFromListAndView) {
    fs::path log = dir / "session.log";
    ASSERT_TRUE(historyOpenLog(log.string(), "L"));
    const size_t budget = 10 * (kHistoryMessageCost + 12);
    setHistoryBudget(budget);
    std::string logged = "L";
    for (int i = 0; i < 100; ++i) {
        std::string m = "message " + std::to_string(i);
        historyAdd(m, 0);
        logged += "\r\n" + m;
        ASSERT_LE(historyCost(), budget) << i;
        ASSERT_EQ(historyAt(historyCounts().length - 1), m);
        ASSERT_EQ(ui.historyText(), listedText()) << i;
    }
    EXPECT_GE(historyCost(), budget - budget / 8 - (kHistoryMessageCost + 12)) << "no more goes than needed";
    EXPECT_EQ(historyCounts().dropped + historyCounts().length, 100);
    // A few removals, each of several messages, not one per message.
    std::vector<std::string> events = ui.take();
    size_t trims = std::count_if(events.begin(), events.end(),
                                 [](const std::string& e) { return e.rfind("history-trim ", 0) == 0; });
    EXPECT_GT(trims, 0u);
    EXPECT_LT(trims, 100u / 3);

    const std::string huge(budget * 2, 'x');
    historyAdd(huge, 0);
    EXPECT_EQ(historyCounts().length, 1);
    EXPECT_EQ(ui.historyText(), "\r\n" + huge);
    historyAdd("after", 0);
    EXPECT_EQ(ui.historyText(), "\r\nafter");
    historyCloseLog();
    EXPECT_EQ(readFile(log), logged + "\r\n" + huge + "\r\nafter");
}

// The player's reading place moves with the text that stays: the reading
// position on its message, the view's selection on its characters.  A
// place that went lands on the oldest message, the start of the view.
TEST_F(History, TheReadingPlaceMovesWithTheTrim) {
    struct Case {
        const char* what;
        int pos;                 // reading position before
        int selStart, selEnd;    // view selection before (offsets in "\r\nm00\r\nm01...")
        const char* reads;       // what the next historyMove(0) speaks, "" none
        int wantStart, wantEnd;  // the selection after
    };
    // 20 messages "m00".."m19" of 5 view bytes each; the 21st drops the 3
    // oldest (15 bytes).
    const Case cases[] = {
        {"place kept", 10, 5 * 10 + 2, 5 * 10 + 5, "m10", 5 * 7 + 2, 5 * 7 + 5},
        {"place went", 1, 5 * 1 + 2, 5 * 4 + 2, "m03", 0, 5 * 1 + 2},
        {"before the first", -1, 0, 0, "", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        historyReset();
        ui.setHistory("", 0);
        ui.setFocus(UiControl::List);
        setHistoryBudget(20 * (kHistoryMessageCost + 5) + 50);
        for (int i = 0; i < 20; ++i) historyAdd((i < 10 ? "m0" : "m") + std::to_string(i), 0);
        ASSERT_EQ(historyCounts().length, 20);
        if (c.pos >= 0) historyMove(c.pos + 1);  // from before the first message
        ui.setFocus(UiControl::History);
        ui.historySetSelection(c.selStart, c.selEnd);
        ui.take();
        historyAdd("m20", 0);
        ASSERT_EQ(historyCounts().dropped, 3);
        EXPECT_EQ(ui.historyText(), listedText());
        EXPECT_EQ(ui.historySelection(), std::make_pair(c.wantStart, c.wantEnd));
        ui.take();
        if (*c.reads) {
            historyMove(0);
            EXPECT_EQ(ui.take(), (Events{std::string("speak 1 ") + c.reads}));
        } else {
            EXPECT_EQ(historyCounts().position, -1);
        }
    }
}

// A view that takes runs in one append: text of the run not shown yet is
// trimmed as well, so what is finally shown is what the list keeps.
TEST_F(History, ARunLongerThanTheBudgetShowsOnlyWhatIsKept) {
    ui.gathersRuns = true;
    setHistoryBudget(8 * (kHistoryMessageCost + 5));
    historyAdd("old", 0);
    uiCall([] {
        ASSERT_TRUE(historyRunBegin());
        for (int i = 0; i < 30; ++i) historyAdd("r" + std::to_string(100 + i), 0);
        historyRunEnd();
    });
    ASSERT_LT(historyCounts().length, 30);
    EXPECT_EQ(ui.historyText(), listedText());
    EXPECT_EQ(historyAt(historyCounts().length - 1), "r129");
}

// Runs that say another follows keep their view text for the next one, but
// only up to kMaxGatheredBytes: a flood reaches the view in bounded appends,
// in order, never one append for the whole flood.
TEST_F(History, AFloodOfRunsIsShownInBoundedAppends) {
    ui.gathersRuns = true;
    const std::string message(1000, 'x');
    const size_t perRun = 100, runs = 6;  // 100 KB a run, 600 KB in all
    uiCall([&] {
        for (size_t r = 0; r < runs; ++r) {
            ASSERT_TRUE(historyRunBegin());
            for (size_t i = 0; i < perRun; ++i) historyAdd(message, 0);
            historyRunEnd(true);  // another run follows at once
        }
    });
    std::string shown;
    size_t appends = 0;
    for (const std::string& e : ui.take()) {
        if (e.rfind("history ", 0) != 0) continue;
        const std::string text = e.substr(8);
        EXPECT_LE(text.size(), kMaxGatheredBytes + perRun * (message.size() + 2));
        shown += text;
        ++appends;
    }
    // 600 KB with a cap of 256 KB: shown after the third run and the sixth.
    EXPECT_EQ(appends, 2u);
    EXPECT_EQ(shown.size(), runs * perRun * (message.size() + 2));
    EXPECT_EQ(ui.historyText(), shown);
}

// Messages stored while there is no main window never reached the view:
// when they go, the view loses only what it showed of those that went.
TEST_F(History, MessagesTheViewNeverHadAreNotTrimmedFromIt) {
    setHistoryBudget(10 * (kHistoryMessageCost + 5));
    setUi(nullptr);
    for (int i = 0; i < 5; ++i) historyAdd("n" + std::to_string(10 + i), 0);
    setUi(&ui);
    for (int i = 0; i < 12; ++i) historyAdd("w" + std::to_string(10 + i), 0);
    ASSERT_GT(historyCounts().dropped, 5) << "the window's own messages were trimmed too";
    std::string shown;
    for (int i = 0; i < historyCounts().length; ++i)
        if (historyAt(i)[0] == 'w') shown += "\r\n" + historyAt(i);
    EXPECT_EQ(ui.historyText(), shown);
    EXPECT_EQ(ui.historyText(), listedText());
}

// Messages from another thread wait for the UI thread and keep their order.
TEST_F(History, MessagesFromSeveralThreadsArriveWhole) {
    std::vector<std::thread> senders;
    for (int t = 0; t < 4; ++t)
        senders.emplace_back([t] {
            for (int i = 0; i < 100; ++i) historyAdd("t" + std::to_string(t) + "-" + std::to_string(i), 0);
        });
    for (auto& s : senders) s.join();
    ASSERT_EQ(historyCounts().length, 400);
    std::vector<int> next(4, 0);
    for (int i = 0; i < 400; ++i) {
        std::string m = historyAt(i);
        int t = m[1] - '0';
        EXPECT_EQ(m, "t" + std::to_string(t) + "-" + std::to_string(next[t]++));
    }
}

}  // namespace
