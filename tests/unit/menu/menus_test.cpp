// The menu stack as the player meets it: what the list shows, which sounds
// play and what is spoken, in order; the lines sent for choices; and the
// receive thread and UI thread working on the menus at once.
#include "support/recording_diag.h"
#include "menu/menus.h"

#include <gtest/gtest.h>

#include <thread>

#include "app/core.h"
#include "net/agc.h"
#include "net/login.h"
#include "support/event_ui.h"
#include "support/script_server.h"

namespace {

using Events = std::vector<std::string>;

// Menu text of n items "L<i>" with value "v<i>" and sound "s<i>".
std::string menuText(int id, int width, int n, int selection, int flags) {
    std::string s = std::to_string(id) + "|" + std::to_string(width) + "|" + std::to_string(n) + "|" +
                    std::to_string(selection) + "|" + std::to_string(flags) + "|0";
    for (int i = 0; i < n; ++i) {
        std::string k = std::to_string(i);
        s += "|L" + k + "|v" + k + "|s" + k + "|img";
    }
    return s;
}

class MenuStack : public ::testing::Test {
protected:
    // The EventUi's screen reader, installed for each test, leaves menu
    // items to the list (speakMenuOnItemChange false) until a test says
    // otherwise.
    void SetUp() override { resetCore(); }
    void TearDown() override { resetCore(); }
    // Opens a menu and forgets the events of opening it.
    void open(int id, int width, int n, int selection, int flags = 0) {
        menuOpen(menuText(id, width, n, selection, flags));
        ui.take();
    }
    int selection() {
        std::optional<MenuView> m = currentMenuView();
        return m ? m->selection : -2;
    }
    EventUi ui;
};

TEST_F(MenuStack, OpeningFillsTheListThenAnnouncesTheSelectedItem) {
    menuOpen(menuText(4, 1, 3, 1, 0));
    EXPECT_EQ(ui.take(), (Events{"list-reset", "list-add L0", "list-add L1", "list-add L2", "sound s1",
                                 "list-select 1"}));
    ui.selfVoicing(true);
    menuOpen(menuText(5, 1, 2, 9, 0));  // selection beyond the items: the last one
    EXPECT_EQ(ui.take(), (Events{"list-reset", "list-add L0", "list-add L1", "sound s1", "list-select 1",
                                 "speak 0 L1"}));
    std::optional<MenuGrid> grid = curmenuGrid();
    ASSERT_TRUE(grid);
    EXPECT_EQ(grid->selection, 1);
}

TEST_F(MenuStack, MovesInListsAndGrids) {
    struct Case {
        const char* name;
        int width, nItems, from, n;
        bool absolute;
        int to;
        Events heard;
    };
    const Case cases[] = {
        {"down on the last item", 1, 3, 2, 1, false, 2,
         {"sound menubounds", "sound s2", "list-select 2", "speak 1 L2"}},
        {"up on the first item", 1, 3, 0, -1, false, 0,
         {"sound menubounds", "sound s0", "list-select 0", "speak 1 L0"}},
        {"plain move", 1, 3, 0, 1, false, 1, {"sound s1", "list-select 1"}},
        {"right at the end of a row", 3, 6, 2, 1, false, 2,
         {"sound menubounds", "sound s2", "list-select 2", "speak 1 L2"}},
        {"left at the start of a row", 3, 6, 3, -1, false, 3,
         {"sound menubounds", "sound s3", "list-select 3", "speak 1 L3"}},
        {"down a row", 3, 6, 1, 3, false, 4, {"sound s4", "list-select 4"}},
        {"down from the last row", 3, 6, 4, 3, false, 4,
         {"sound menubounds", "sound s4", "list-select 4", "speak 1 L4"}},
        {"width 0: a move of 0 re-announces", 0, 3, 1, 0, false, 1, {"sound s1", "list-select 1"}},
        {"absolute past a short last row", 3, 5, 1, 5, true, 4, {"sound s4", "list-select 4"}},
        {"absolute below 0", 3, 5, 2, -3, true, 0, {"sound s0", "list-select 0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        menuReset();
        open(1, c.width, c.nItems, c.from);
        menuMove(c.n, true, c.absolute);
        EXPECT_EQ(selection(), c.to);
        EXPECT_EQ(ui.take(), c.heard);
    }
}

TEST_F(MenuStack, AnItemWithoutSoundOrLabelIsMovedToSilently) {
    menuOpen("1|1|2|0|0|r|a|va|sa|-|null|vb|null|-");
    ui.take();
    ui.selfVoicing(true);
    menuMove(1, true, false);
    EXPECT_EQ(ui.take(), (Events{"list-select 1"}));
}

TEST_F(MenuStack, ClosingShowsAndAnnouncesTheMenuBelow) {
    menuClose(1);  // nothing open: the list is emptied, nothing else
    EXPECT_EQ(ui.take(), (Events{"list-reset"}));
    open(1, 1, 2, 1);
    open(2, 1, 1, 0);
    open(3, 1, 1, 0);
    ui.selfVoicing(true);
    menuClose(1);
    EXPECT_EQ(ui.take(), (Events{"list-reset", "list-add L0", "sound s0", "list-select 0", "speak 1 L0"}));
    menuClose(1000000);
    EXPECT_EQ(openMenuCount(), 0);
    EXPECT_FALSE(currentMenuView());
    EXPECT_EQ(ui.take(), (Events{"list-reset"}));
    EXPECT_TRUE(ui.listLines().empty());
}

TEST_F(MenuStack, ASeventeenthMenuIsNotOpened) {
    for (int i = 0; i < kMaxOpenMenus; ++i) open(i, 1, 1, 0);
    menuOpen(menuText(99, 1, 1, 0, 0));
    EXPECT_EQ(ui.take(), (Events{"sound menubounds"}));
    EXPECT_EQ(openMenuCount(), kMaxOpenMenus);
    EXPECT_EQ(currentMenuView()->id, kMaxOpenMenus - 1);
    menuUpdate(menuText(98, 1, 1, 0, 0), false);  // an unknown "umenu" opens: refused too
    EXPECT_EQ(openMenuCount(), kMaxOpenMenus);
}

TEST_F(MenuStack, ItemUpdatesChangeTheListAndAnnounce) {
    menuUpdate("0|x|vx|sx|-", true);  // no menu: nothing at all
    EXPECT_TRUE(ui.take().empty());

    open(1, 1, 3, 0);
    menuUpdate(" 3|new|vn|sn|-", true);
    EXPECT_EQ(ui.take(), (Events{"list-add new", "sound sn", "list-select 3"}));
    menuUpdate(" -4", true);  // delete the selected last item
    EXPECT_EQ(ui.take(), (Events{"list-del 3", "sound s2", "list-select 2"}));
    menuUpdate(" 1|re|vr|sr|-", true);
    EXPECT_EQ(ui.take(), (Events{"list-set 1 re", "sound sr", "list-select 1"}));
    menuUpdate(" -9", true);  // names no item: ignored
    EXPECT_TRUE(ui.take().empty());
    EXPECT_EQ(ui.listLines(), (std::vector<std::string>{"L0", "re", "L2"}));
}

// A change of one item of a long menu replaces that row alone: no refill,
// whatever row changes, and the player still hears the changed item.
TEST_F(MenuStack, AChangedItemReplacesOnlyItsRow) {
    open(1, 1, 25000, 0);
    struct Case {
        int index;
        const char* label;
    } cases[] = {{0, "first"}, {24999, "last"}, {12345, "middle"}, {12345, "again"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        menuUpdate(" " + std::to_string(c.index) + "|" + c.label + "|v|snd|-", true);
        EXPECT_EQ(ui.take(), (Events{"list-set " + std::to_string(c.index) + " " + c.label, "sound snd",
                                     "list-select " + std::to_string(c.index)}));
        EXPECT_EQ(ui.listLines()[size_t(c.index)], c.label);
        EXPECT_EQ(selection(), c.index);
    }
    EXPECT_EQ(ui.listLines().size(), 25000u);
}

// A server that sends more items than the cap, by any command, gets a list
// of kMaxMenuItems rows; appends past it are ignored without a sound.
TEST_F(MenuStack, NoServerCommandGrowsAMenuPastTheCap) {
    const std::string tooMany = menuText(1, 1, kMaxMenuItems + 2, 0, 0);
    menuOpen(tooMany);
    EXPECT_EQ(ui.listLines().size(), static_cast<size_t>(kMaxMenuItems));
    menuUpdate(menuText(1, 1, 2, 0, 0), false);
    menuUpdate(tooMany, false);
    EXPECT_EQ(ui.listLines().size(), static_cast<size_t>(kMaxMenuItems));
    ui.take();
    for (int i = 0; i < 3; ++i) menuUpdate(" 2147483647|x|v|s|-", true);
    EXPECT_TRUE(ui.take().empty());
    EXPECT_EQ(ui.listLines().size(), static_cast<size_t>(kMaxMenuItems));
    EXPECT_EQ(selection(), 0);
}

TEST_F(MenuStack, DeletingTheLastItemsLeavesNothingSelected) {
    open(1, 1, 1, 0);
    menuUpdate(" -1", true);
    EXPECT_EQ(ui.take(), (Events{"list-del 0", "list-select -1"}));
    EXPECT_EQ(selection(), -1);
    menuMove(1, true, false);
    EXPECT_EQ(ui.take(), (Events{"sound menubounds", "list-select -1"}));
}

TEST_F(MenuStack, ADeletionBeforeTheSelectionKeepsItOnAnItem) {
    open(1, 1, 3, 2);
    menuUpdate(" -1", true);  // the selection, 2, is now one past the last item
    EXPECT_EQ(selection(), 1);
    EXPECT_EQ(ui.take(), (Events{"list-del 0", "sound s2", "list-select 1"}));
}

TEST_F(MenuStack, WholeMenuUpdateKeepsOrRepairsTheSelection) {
    open(7, 1, 5, 3);
    menuUpdate(menuText(7, 1, 5, -1, 0), false);
    EXPECT_EQ(selection(), 3);
    EXPECT_EQ(ui.take(), (Events{"list-reset", "list-add L0", "list-add L1", "list-add L2", "list-add L3",
                                 "list-add L4", "sound s3", "list-select 3"}));
    menuUpdate(menuText(7, 1, 2, -1, 0), false);
    EXPECT_EQ(selection(), 1);
    menuUpdate(menuText(7, 1, 2, 0, 0), false);
    EXPECT_EQ(selection(), 0);
    EXPECT_EQ(openMenuCount(), 1);

    ui.take();
    menuUpdate(menuText(8, 1, 1, 0, 0), false);  // unknown id: opened, announced once
    EXPECT_EQ(openMenuCount(), 2);
    EXPECT_EQ(ui.take(), (Events{"list-reset", "list-add L0", "sound s0", "list-select 0"}));
}

TEST_F(MenuStack, ServerMovesOnlyTheCurrentMenu) {
    open(7, 1, 5, 0);
    open(8, 1, 5, 0);
    ui.selfVoicing(true);
    menuMove3("7|3");
    EXPECT_TRUE(ui.take().empty());
    menuMove3("8");
    EXPECT_TRUE(ui.take().empty());
    menuMove3("8|3");
    EXPECT_EQ(ui.take(), (Events{"sound s3", "list-select 3", "speak 1 L3"}));
    menuMove3("8|4000000000");
    EXPECT_EQ(selection(), 4);
}

TEST_F(MenuStack, AListThatRefusesLinesIsReported) {
    ui.refuseListAdds = true;
    RecordingDiag diag;
    // The diagnostic goes to the front-end's sink, never to standard output,
    // which is kordo-headless's event stream.
    testing::internal::CaptureStdout();
    menuOpen(menuText(1, 1, 2, 0, 0));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(diag.take(), "ListError1=-1,0,0,'L0'\r\n");
    EXPECT_EQ(ui.beeps(), (std::vector<std::pair<int, int>>{{2094, 60}}));
}

// A list out of step with its menu (one line too many) refuses an appended
// line: the count then matches the menu, but the change did not happen.
TEST_F(MenuStack, AChangeTheListRefusesIsReportedAndTheListRefilled) {
    open(1, 1, 2, 0);
    ui.injectListLine("stale");
    ui.refuseNextListAdd = true;
    RecordingDiag diag;
    testing::internal::CaptureStdout();
    menuUpdate(" 2|new|vn|sn|-", true);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(diag.take(), "ListError2=3,-1,0\r\n");
    EXPECT_EQ(ui.beeps(), (std::vector<std::pair<int, int>>{{1047, 60}}));
    EXPECT_EQ(ui.take(), (Events{"beep 1047", "list-reset", "list-add L0", "list-add L1",
                                 "list-add new", "sound sn", "list-select 2"}));
    EXPECT_EQ(ui.listLines(), (std::vector<std::string>{"L0", "L1", "new"}));
}

TEST_F(MenuStack, SelectLineCarriesTheValueWhole) {
    auto m = menu_create("3|1|2|0|0|r|a|null|s|-|b|" + std::string(5000, 'x') + "|s|-");
    EXPECT_EQ(menuSelectLine(*m, 0), "select 3|0|\n");
    EXPECT_EQ(menuSelectLine(*m, 1), "select 3|1|" + std::string(5000, 'x') + "\n");
    EXPECT_EQ(menuSelectLine(*m, -1), "select 3|-1|-1\n");
}

// Choices and cancellations go to a real loopback server.
class MenuChoice : public MenuStack {
protected:
    void SetUp() override {
        MenuStack::SetUp();
        agc_init();
        std::thread t([&] { conn = server.acceptLogin(1); });
        ASSERT_EQ(loginConnect("127.0.0.1", server.port(), "u", "p"), 1);
        t.join();
        ASSERT_TRUE(conn);
    }
    void TearDown() override {
        agc_deinit();
        conn.reset();
        MenuStack::TearDown();
    }
    ScriptServer server;
    std::unique_ptr<ServerConn> conn;
};

TEST_F(MenuChoice, ChoosingAndCancellingWithAndWithoutFlag1) {
    open(1, 1, 2, 1);
    open(2, 1, 3, 0, MENU_STAYS_OPEN);
    menuSelect(2);
    EXPECT_EQ(conn->readLine(), "select 2|2|v2");
    EXPECT_EQ(openMenuCount(), 2);
    ui.take();

    menuClose(1);
    ui.take();
    menuSelect(-1);  // no flag 1: the menu below is announced, then the line goes
    EXPECT_EQ(conn->readLine(), "select 1|-1|-1");
    EXPECT_EQ(openMenuCount(), 0);

    open(3, 1, 3, 0);
    ui.selfVoicing(true);
    open(4, 1, 2, 0);
    menuSelect(7);  // beyond the items: the last one
    EXPECT_EQ(conn->readLine(), "select 4|1|v1");
    EXPECT_EQ(ui.take(), (Events{"list-reset", "list-add L0", "list-add L1", "list-add L2", "sound s0",
                                 "list-select 0", "speak 1 L0"}));

    open(5, 1, 0, 0);  // empty: nothing to choose, but it can be cancelled
    menuSelect(0);
    menuSelect(-1);
    EXPECT_EQ(conn->readLine(), "select 5|-1|-1");
}

// The receive thread changes the menu while the player moves in it.
TEST_F(MenuStack, ReceiveAndUiThreadsSeeWholeMenus) {
    open(1, 1, 1, 0);
    std::thread receiver([] {
        for (int i = 1; i <= 200; ++i) menuUpdate(" " + std::to_string(i) + "|L" + std::to_string(i) + "|v|s|-", true);
    });
    for (int i = 0; i < 200; ++i) {
        menuMove(i % 2 ? 1 : -1, true, false);
        EXPECT_TRUE(curmenuGrid().has_value());
    }
    receiver.join();
    std::vector<std::string> expected;
    for (int i = 0; i <= 200; ++i) expected.push_back("L" + std::to_string(i));
    EXPECT_EQ(ui.listLines(), expected);
    EXPECT_EQ(currentMenuView()->nItems, 201);
}

}  // namespace
