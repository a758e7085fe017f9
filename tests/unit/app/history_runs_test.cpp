// A flood of history lines from the server: a run of them that one receive
// brought in is handled in one hand-over to the UI thread, each message
// shown, logged and spoken in order, as it would be alone.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/dispatch.h"
#include "history/history.h"
#include "net/agc.h"
#include "support/event_ui.h"
#include "support/script_server.h"

namespace {

class CountingUi : public EventUi {
  public:
    bool runOnUiThread(const std::function<void()>& task) override {
        ++handOvers;
        return EventUi::runOnUiThread(task);
    }
    std::atomic<int> handOvers{0};
};

class HistoryRuns : public ::testing::Test {
  protected:
    void SetUp() override {
        historyReset();
        registerServerCommands();
        agc_init();
        std::thread t([&] { conn = server.acceptLogin(1); });
        ASSERT_EQ(agc_connect(&gch, "127.0.0.1", server.port(), "u", "p"), 1);
        t.join();
        ASSERT_TRUE(conn);
    }
    void TearDown() override {
        agc_deinit();
        gch = nullptr;
        conn.reset();
        historyReset();
    }
    // Sends `lines` in one write, then waits for the "pong" that follows
    // their handling.
    void flood(const std::string& lines) {
        ui.take();
        ui.handOvers = 0;
        ASSERT_TRUE(conn->send(lines + "ping\n"));
        ASSERT_EQ(conn->readLine(), "pong");
    }

    CountingUi ui;
    ScriptServer server;
    std::unique_ptr<ServerConn> conn;
};

TEST_F(HistoryRuns, ARunIsOneHandOverWithEveryMessageInOrder) {
    flood("say un\nsayi deux\nsaynh trois\nsayurg quatre\n");
    EXPECT_EQ(ui.handOvers.load(), 1);
    EXPECT_EQ(ui.take(), (std::vector<std::string>{
                             "history \r\nun", "speak 0 un", "history \r\ndeux", "speak 1 deux",
                             "speak 0 trois", "history \r\nquatre", "speak 0 quatre"}));
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
