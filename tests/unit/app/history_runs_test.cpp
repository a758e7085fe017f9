// A flood of history lines from the server: a run of them that one receive
// brought in is handled in one hand-over to the UI thread, each message
// shown, logged and spoken in order, as it would be alone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/dispatch.h"
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
    ASSERT_EQ(historyState.histLen, 3);
    EXPECT_EQ(historyAt(2), "quatre");
}

TEST_F(HistoryRuns, WithoutAMainWindowTheRunIsStoredAndNotShown) {
    ui.closeWindow();
    flood("say un\nsayurg deux\n");
    EXPECT_EQ(historyState.histLen, 2);
    EXPECT_EQ(historyAt(0), "un");
    EXPECT_EQ(historyAt(1), "deux");
    for (const std::string& e : ui.take()) EXPECT_NE(e.rfind("history ", 0), 0u) << e;
}

}  // namespace
