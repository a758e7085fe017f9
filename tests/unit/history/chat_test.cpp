// The chat line, its recall list, web links in the view, and the server
// rows wired to history, menus and the browser.
#include "history/chat.h"

#include <gtest/gtest.h>

#include "app/core.h"
#include "app/dispatch.h"
#include "history/history.h"
#include "menu/menus.h"
#include "net/agc.h"
#include "net/login.h"
#include "platform/shell.h"
#include "support/event_ui.h"
#include "support/script_server.h"

namespace {

using Events = std::vector<std::string>;

struct RecordingShell : ShellSeam {
    bool openAddress(const std::string& a) override {
        opened.push_back(a);
        return true;
    }
    std::vector<std::string> opened;
};

class Chat : public ::testing::Test {
protected:
    void SetUp() override {
        resetCore();
        setShell(&shellRec);
    }
    void TearDown() override {
        setShell(nullptr);
        resetCore();
    }
    void enter(const std::string& text) {
        ui.setChat(text);
        handleChatEnter();
    }
    EventUi ui;
    RecordingShell shellRec;
};

TEST_F(Chat, NothingIsSentWithoutAConnection) {
    EXPECT_FALSE(sendChat("hello"));
}

TEST_F(Chat, RecallKeepsOneLinePerFirstWordNewestFirst) {
    for (const char* line : {"@Bob salut", "/me waves", "@bob encore", "hello all", "@alice", "/ME again",
                             "@Carl ok"})
        enter(line);
    EXPECT_EQ(chatView().chatHistory, (std::vector<std::string>{"@Carl ok", "/me waves", "@Bob salut"}));
    EXPECT_EQ(ui.chatText(), "");
    ui.setChat("");
    ui.take();
    handleChatEnter();  // empty line: nothing at all
    EXPECT_TRUE(ui.take().empty());
}

TEST_F(Chat, TheThirtyThirdEntryDropsTheOldest) {
    for (int i = 0; i < 33; ++i) enter("@p" + std::to_string(i) + " x");
    ASSERT_EQ(chatView().chatHistory.size(), 32u);
    EXPECT_EQ(chatView().chatHistory.front(), "@p32 x");
    EXPECT_EQ(chatView().chatHistory.back(), "@p1 x");
}

TEST_F(Chat, RecallMovesSelectTheMessagePart) {
    chatHistoryMove(1);  // empty list: stays on the empty line
    EXPECT_EQ(ui.take(), (Events{"chat-text "}));
    enter("@Bob salut toi");
    enter("/tell Ann hi");
    ui.take();
    struct Step {
        int n;
        Events seen;
    };
    const Step steps[] = {
        {1, {"chat-text /tell Ann hi", "chat-select 6 12"}},
        {1, {"chat-text @Bob salut toi", "chat-select 5 14"}},
        {1, {"chat-text @Bob salut toi", "chat-select 5 14"}},  // no wrap past the oldest
        {-1, {"chat-text /tell Ann hi", "chat-select 6 12"}},
        {-1, {"chat-text "}},
        {-5, {"chat-text "}},
        {2, {"chat-text @Bob salut toi", "chat-select 5 14"}},
    };
    for (const Step& s : steps) {
        EXPECT_TRUE(chatHistoryMove(s.n));
        EXPECT_EQ(ui.take(), s.seen) << s.n;
    }
}

TEST_F(Chat, EnterOnAWebLinkInTheView) {
    const std::string view = "\r\nvoir http://kordo.example/aide et https://s.example/x\r\nhttp://fin";
    struct Case {
        const char* where;
        int caret;
        bool opens;
        const char* address;
    };
    const Case cases[] = {
        {"start of the link", 7, true, "http://kordo.example/aide"},
        {"inside the link", 20, true, "http://kordo.example/aide"},
        {"just after the link", 32, false, ""},  // on the space
        {"on a plain word", 3, false, ""},
        {"secure link", 40, false, ""},
        {"on the CR", 55, false, ""},
        {"end of the text", static_cast<int>(view.size()), true, "http://fin"},
        {"past the end", 10000, true, "http://fin"},
        {"negative caret", -5, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        shellRec.opened.clear();
        ui.setHistory(view, c.caret);
        EXPECT_EQ(openClickableLink(), c.opens);
        EXPECT_EQ(shellRec.opened, c.opens ? std::vector<std::string>{c.address} : std::vector<std::string>{});
    }
    ui.setHistory("http://start", 3);  // a word at the very start is taken whole
    EXPECT_TRUE(openClickableLink());
    EXPECT_EQ(shellRec.opened.back(), "http://start");
    ui.setHistory("", 0);
    EXPECT_FALSE(openClickableLink());
}

TEST_F(Chat, OnlyWebAddressesReachTheShell) {
    struct Case {
        const char* address;
        bool opened;
    };
    const Case cases[] = {
        {"http://kordo.example/", true}, {"https://kordo.example/compte", true}, {"HTTPS://X.EXAMPLE", true},
        {"file:///etc/passwd", false},   {"C:\\Windows\\system32\\cmd.exe", false}, {"", false},
        {"javascript:alert(1)", false},  {"http:/x", false},
    };
    for (const Case& c : cases) {
        shellRec.opened.clear();
        EXPECT_EQ(browserOpen(c.address), c.opened) << c.address;
        EXPECT_EQ(shellRec.opened.size(), c.opened ? 1u : 0u) << c.address;
    }
}

TEST_F(Chat, EnterSendsTheLineOnTheConnection) {
    agc_init();
    ScriptServer server;
    std::unique_ptr<ServerConn> conn;
    std::thread t([&] { conn = server.acceptLogin(1); });
    ASSERT_EQ(loginConnect("127.0.0.1", server.port(), "u", "p"), 1);
    t.join();
    ASSERT_TRUE(conn);
    enter("@Ann bonjour");
    enter("//who");
    EXPECT_EQ(conn->readLine(), "input 60003|@Ann bonjour");
    EXPECT_EQ(conn->readLine(), "who");
    agc_deinit();
}

// The dispatcher rows this module owns, fed as the receive thread would.
TEST_F(Chat, ServerRowsReachTheirHandlers) {
    registerServerCommands();
    for (const char* line : {"say bonjour", "sayi vite", "saynh pas garde", "sayurg alerte",
                             "menu 7|1|2|0|0|r|A|va|sa|-|B|vb|sb|-", "uitem 2|C|vc|sc|-", "umenu 7|1|1|0|0|r|Z|v|s|-",
                             "movem 7|0", "menu 8|1|1|0|0|r|X|v|s|-", "close menu", "menu 9|1|1|0|0|r|Y|v|s|-",
                             "close all menus", "browse http://kordo.example/", "browse file:///x"})
        agc_recv(nullptr, line);
    EXPECT_EQ(historyCounts().length, 3);
    EXPECT_EQ(historyAt(2), "alerte");
    EXPECT_EQ(ui.take(), (Events{"history \r\nbonjour", "speak 0 bonjour", "history \r\nvite", "speak 1 vite",
                                 "speak 0 pas garde", "history \r\nalerte", "speak 0 alerte",
                                 "list-reset", "list-add A", "list-add B", "sound sa", "list-select 0",
                                 "list-add C", "sound sc", "list-select 2",
                                 "list-reset", "list-add Z", "sound s", "list-select 0",
                                 "sound s", "list-select 0",
                                 "list-reset", "list-add X", "sound s", "list-select 0",
                                 "list-reset", "list-add Z", "sound s", "list-select 0",
                                 "list-reset", "list-add Y", "sound s", "list-select 0",
                                 "list-reset"}));
    EXPECT_EQ(shellRec.opened, (std::vector<std::string>{"http://kordo.example/"}));
}

}  // namespace
