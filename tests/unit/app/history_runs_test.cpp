// A flood of history lines from the server: a run of them that one receive
// brought in is handled in one hand-over to the UI thread, each message
// shown, logged and spoken in order, as it would be alone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/dispatch.h"
#include "net/agc.h"
#include "app_session.h"

namespace {

class HistoryRuns : public AppSession {
protected:
    void SetUp() override {
        AppSession::SetUp();
        registerServerCommands();
    }
    // Sends `lines` in one write, then waits for the "pong" that follows
    // their handling.
    void flood(const std::string& lines) {
        ui.take();
        ui.uiCalls = 0;
        ASSERT_TRUE(conn->send(lines + "ping\n"));
        ASSERT_EQ(conn->readLine(), "pong");
    }
};

TEST_F(HistoryRuns, ARunIsOneHandOverWithEveryMessageInOrder) {
    flood("say un\nsayi deux\nsaynh trois\nsayurg quatre\n");
    EXPECT_EQ(ui.uiCalls.load(), 1);
    EXPECT_EQ(ui.take(), (std::vector<std::string>{"history \r\nun", "speak 0 un", "history \r\ndeux",
                                                   "speak 1 deux", "speak 0 trois", "history \r\nquatre",
                                                   "speak 0 quatre"}));
    ASSERT_EQ(historyCounts().length, 3);
    EXPECT_EQ(historyAt(2), "quatre");
}

// A front-end whose view takes a run in one append (the Win32 edit
// control): the same text in one append after the run's speech, and the
// selection rule applied once: kept while the player reads the view, the
// view following the newest message otherwise.
TEST_F(HistoryRuns, AGatheringViewTakesTheRunInOneAppend) {
    ui.gathersRuns = true;
    ui.setHistory("\r\navant", 0);
    ui.historySetSelection(2, 4);
    ui.setFocus(UiControl::History);
    flood("say un\nsayi deux\nsaynh trois\nsayurg quatre\n");
    EXPECT_EQ(ui.uiCalls.load(), 1);
    EXPECT_EQ(ui.take(), (std::vector<std::string>{"speak 0 un", "speak 1 deux", "speak 0 trois",
                                                   "speak 0 quatre", "history \r\nun\r\ndeux\r\nquatre"}));
    EXPECT_EQ(ui.historyText(), "\r\navant\r\nun\r\ndeux\r\nquatre");
    EXPECT_EQ(ui.historySelection(), std::make_pair(2, 4)) << "the reader keeps the place";
    EXPECT_EQ(ui.historyScrolls(), 0);
    ASSERT_EQ(historyCounts().length, 3);
    EXPECT_EQ(historyAt(1), "deux");

    ui.setFocus(UiControl::List);
    flood("say cinq\nsay six\n");
    EXPECT_EQ(ui.take(), (std::vector<std::string>{"speak 0 cinq", "speak 0 six", "history \r\ncinq\r\nsix"}));
    EXPECT_EQ(ui.historyScrolls(), 1) << "one scroll to the newest message per run";
    // A single line is no run: shown as it comes.
    flood("say sept\n");
    EXPECT_EQ(ui.take(), (std::vector<std::string>{"history \r\nsept", "speak 0 sept"}));
}

// A flood cut into several runs reaches a gathering view in one append,
// after the last run.
TEST_F(HistoryRuns, AFloodOfRunsIsOneAppend) {
    ui.gathersRuns = true;
    std::string lines, shown;
    const size_t n = kMaxRunLines * 2 + 10;
    for (size_t i = 0; i < n; ++i) {
        lines += "say l" + std::to_string(i) + "\n";
        shown += "\r\nl" + std::to_string(i);
    }
    flood(lines);
    std::vector<std::string> events = ui.take();
    ASSERT_EQ(events.size(), n + 1);
    EXPECT_EQ(events.back(), "history " + shown);
    EXPECT_EQ(events[n - 1], "speak 0 l" + std::to_string(n - 1));
    EXPECT_EQ(ui.historyText(), shown);
    EXPECT_EQ(historyCounts().length, static_cast<int>(n));
}

// Menu and sound lines go in the run with the history lines around them, in
// their turn; a line whose work stays off the UI thread (music) ends it.
TEST_F(HistoryRuns, MenuAndSoundLinesGoInTheRunInTheirTurn) {
    const std::string menu = "menu " + menuText(5, 1, 2, 1, 0) + "\n";
    flood("say un\n" + menu + "play pas\nsay deux\nclose menu\nsay trois\n");
    EXPECT_EQ(ui.uiCalls.load(), 1) << "one hand-over for the whole run";
    const std::vector<std::string> inOrder = {
        "history \r\nun", "speak 0 un", "list-reset", "list-add L0", "list-add L1", "sound s1",
        "list-select 1", "sound pas", "history \r\ndeux", "speak 0 deux", "list-reset",
        "history \r\ntrois", "speak 0 trois"};
    EXPECT_EQ(ui.take(), inOrder);

    // A gathering view shows what the run gathered before each such line.
    ui.gathersRuns = true;
    flood("say quatre\nsay cinq\n" + menu + "say six\n");
    EXPECT_EQ(ui.uiCalls.load(), 1);
    EXPECT_EQ(ui.take(), (std::vector<std::string>{
                             "speak 0 quatre", "speak 0 cinq", "history \r\nquatre\r\ncinq",
                             "list-reset", "list-add L0", "list-add L1", "sound s1",
                             "list-select 1", "speak 0 six", "history \r\nsix"}));

    flood("say sept\nsay huit\nmusic theme\nsay neuf\nsay dix\n");
    EXPECT_EQ(ui.uiCalls.load(), 2) << "the music line ends the run";
}

// A flood cut into runs whose last run is one line of another kind: the
// text the flood gathered still reaches the view, before that line.
TEST_F(HistoryRuns, AFloodEndedByALoneSoundStillReachesTheView) {
    ui.gathersRuns = true;
    std::string lines, shown;
    for (size_t i = 0; i < kMaxRunLines; ++i) {
        lines += "say l" + std::to_string(i) + "\n";
        shown += "\r\nl" + std::to_string(i);
    }
    flood(lines + "play pas\n");
    EXPECT_EQ(ui.historyText(), shown);
    std::vector<std::string> events = ui.take();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(events.end() - 2, events.end()),
              (std::vector<std::string>{"history " + shown, "sound pas"}));
}

TEST_F(HistoryRuns, WithoutAMainWindowTheRunIsStoredAndNotShown) {
    ui.closeWindow();
    flood("say un\nsayurg deux\n");
    EXPECT_EQ(historyCounts().length, 2);
    EXPECT_EQ(historyAt(0), "un");
    EXPECT_EQ(historyAt(1), "deux");
    for (const std::string& e : ui.take()) EXPECT_NE(e.rfind("history ", 0), 0u) << e;
}

}  // namespace
