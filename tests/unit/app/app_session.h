// A logged-in loopback session for the application tests: the lines the
// client sends are read on the server side.  Each test starts with the core
// reset (no menu, no history, the modifiers up and the key report table
// filled) and the EventUi's screen reader installed, which does not speak
// menu items itself.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/core.h"
#include "app/keyboard.h"
#include "history/chat.h"
#include "history/history.h"
#include "menu/menus.h"
#include "net/agc.h"
#include "net/login.h"
#include "speech/speech.h"
#include "support/event_ui.h"
#include "support/script_server.h"

class AppSession : public ::testing::Test {
protected:
    void SetUp() override {
        resetCore();
        agc_init();
        std::thread t([&] { conn = server.acceptLogin(1); });
        ASSERT_EQ(loginConnect("127.0.0.1", server.port(), "u", "p"), 1);
        t.join();
        ASSERT_TRUE(conn);
    }
    void TearDown() override {
        agc_deinit();
        conn.reset();
        resetCore();
    }
    // Every line the client sent since the last call: a marker line is sent
    // after them and everything before it is returned, so "nothing sent" is
    // checked without waiting for a timeout.
    std::vector<std::string> sent() {
        agc_sendCurrent("--mark--\n");
        std::vector<std::string> out;
        for (;;) {
            std::optional<std::string> l = conn->readLine();
            if (!l || *l == "--mark--") break;
            out.push_back(*l);
        }
        return out;
    }
    // Runs f on the UI thread, where front-ends call the key handling.
    template <class F>
    void onUi(F&& f) {
        ASSERT_TRUE(ui.runOnUiThread(f));
    }
    int selection() {
        std::optional<MenuView> m = currentMenuView();
        return m ? m->selection : -2;
    }

    EventUi ui;
    ScriptServer server;
    std::unique_ptr<ServerConn> conn;
};

// Menu text: n items "L<i>" with value "v<i>" (item 3's value is "ok") and
// sound "s<i>".
inline std::string menuText(int id, int width, int n, int selection, int flags) {
    std::string s = std::to_string(id) + "|" + std::to_string(width) + "|" + std::to_string(n) + "|" +
                    std::to_string(selection) + "|" + std::to_string(flags) + "|0";
    for (int i = 0; i < n; ++i) {
        std::string k = std::to_string(i);
        s += "|L" + k + "|" + (i == 3 ? std::string("ok") : "v" + k) + "|s" + k + "|img";
    }
    return s;
}
