// Keyboard handling as the player meets it: which key does what in which
// control, what goes to the server, the focus cycle and what is spoken.
#include "app/keyboard.h"

#include <set>

#include "app/commands.h"
#include "app_session.h"

namespace {

using Lines = std::vector<std::string>;
constexpr int kNoMenu = -1;
constexpr int kAny = -99;  // not checked

enum Mods { None = 0, Shift = 1, Ctrl = 2, Alt = 4 };

class Keys : public AppSession {
protected:
    // Opens a menu and forgets what opening it showed and played.
    void open(int id, int width, int n, int sel, int flags) {
        menuOpen(menuText(id, width, n, sel, flags));
        ui.take();
    }
    // Releases every modifier (Alt's key-up clears Ctrl too), then presses
    // those of `mods`, as the control would see them.
    void setMods(int mods) {
        onUi([&] {
            handleKeyUp(VKEY_SHIFT, UiControl::List);
            handleKeyUp(VKEY_MENU, UiControl::List);
            if (mods & Shift) handleKeyDown(VKEY_SHIFT, UiControl::List);
            if (mods & Ctrl) handleKeyDown(VKEY_CONTROL, UiControl::List);
            if (mods & Alt) handleKeyDown(VKEY_MENU, UiControl::List);
        });
    }
    bool down(int key, UiControl c) {
        bool r = false;
        onUi([&] { r = handleKeyDown(key, c); });
        return r;
    }
    bool up(int key, UiControl c) {
        bool r = false;
        onUi([&] { r = handleKeyUp(key, c); });
        return r;
    }
    int histPos() { return historyCounts().position; }
};

constexpr UiControl H = UiControl::History, L = UiControl::List, C = UiControl::Chat;

TEST_F(Keys, KeyDownTable) {
    struct Case {
        const char* what;
        int menuFlags;  // kNoMenu: none shown; else menu 12, 5 items, item 3 selected
        int mods;
        int key;
        UiControl control;
        bool consumed;
        Lines lines;
        int selection;  // menu selection after, -2 closed; kAny
        int histPos;    // history position after (starts at 2); kAny
    };
    const Case cases[] = {
        {"Enter chooses", 0, None, 13, L, true, {"select 12|3|ok"}, -2, 2},
        {"Shift+Enter in a flag 8 menu", 8, Shift, 13, L, true, {"kem 269|12|3|ok"}, 3, 2},
        {"Enter without menu", kNoMenu, None, 13, L, true, {"key 13"}, kAny, 2},
        {"Ctrl+Enter without menu", kNoMenu, Ctrl, 13, L, true, {"key 525"}, kAny, 2},
        {"Enter in history, no link", kNoMenu, None, 13, H, true, {"key 13"}, kAny, 2},
        {"Ctrl+Enter in history", kNoMenu, Ctrl, 13, H, true, {}, kAny, 2},
        {"Enter in chat sends it", 0, Shift, 13, C, true, {"input 60003|salut"}, 3, 2},
        {"Escape cancels the menu", 0, None, 27, L, true, {"select 12|-1|-1"}, -2, 2},
        {"Escape without menu", kNoMenu, None, 27, L, true, {}, kAny, 2},
        {"Escape in history", 0, None, 27, H, true, {}, 3, 2},
        {"Escape in chat", 0, None, 27, C, true, {}, 3, 2},
        {"Tab key-down", 0, None, 9, L, true, {}, 3, 2},
        {"Page Up in list", 0, None, 33, L, true, {}, 3, 1},
        {"Ctrl+Page Up in list", 0, Ctrl, 33, L, true, {}, 3, 0},
        {"Page Down in chat", kNoMenu, None, 34, C, true, {}, kAny, 3},
        {"Shift+Page Down in chat", kNoMenu, Shift, 34, C, true, {}, kAny, 4},
        {"Page Up in history scrolls the view", 0, Ctrl, 33, H, false, {}, 3, 2},
        {"Home in list moves in the history", 0, None, 36, L, true, {}, 3, 0},
        {"Ctrl+Home in list moves in the menu", 0, Ctrl, 36, L, true, {}, 0, 2},
        {"End in list", 0, None, 35, L, true, {}, 3, 4},
        {"Ctrl+End in list", 0, Ctrl, 35, L, true, {}, 4, 2},
        {"Ctrl+End without menu", kNoMenu, Ctrl, 35, L, true, {}, kAny, 4},
        {"Home in chat", 0, None, 36, C, false, {}, 3, 2},
        {"End in history", 0, None, 35, H, false, {}, 3, 2},
        {"Left in list", 0, None, 37, L, true, {}, 2, 2},
        {"Down in list", 0, None, 40, L, true, {}, 4, 2},
        {"Right without menu", kNoMenu, None, 39, L, false, {}, kAny, 2},
        {"Up in chat recalls", kNoMenu, None, 38, C, true, {}, kAny, 2},
        {"Down in chat recalls", kNoMenu, None, 40, C, true, {}, kAny, 2},
        {"Up in history", 0, None, 38, H, false, {}, 3, 2},
        {"Shift+Right reports in flag 8", 8, Shift, 39, L, true, {"kem 295|12|3|ok"}, 3, 2},
        {"Shift+Right moves without flag 8", 0, Shift, 39, L, true, {}, 4, 2},
        // Any other key.
        {"Shift+A without menu", kNoMenu, Shift, 'A', L, false, {"key 321"}, kAny, 2},
        {"F1 in history", kNoMenu, None, 112, H, false, {"key 112"}, kAny, 2},
        {"keypad 5", kNoMenu, None, 101, L, false, {"key 101"}, kAny, 2},
        {"letter left to type-ahead (flag 2)", 2, None, 'A', L, false, {}, 3, 2},
        {"digit left to type-ahead (flag 2)", 2, None, '7', L, false, {}, 3, 2},
        {"Shift+letter in flag 2 reported", 2, Shift, 'A', L, false, {"key 321"}, 3, 2},
        {"letter reported without flag 2", 0, None, 'A', L, false, {"key 65"}, 3, 2},
        {"letter with flags 2 and 8", 10, Shift, 'B', L, false, {"kem 322|12|3|ok"}, 3, 2},
        {"typing in chat", kNoMenu, Shift, 'A', C, false, {}, kAny, 2},
        {"Ctrl+letter in chat", kNoMenu, Ctrl, 'A', C, false, {"key 577"}, kAny, 2},
        {"Alt+digit in chat", kNoMenu, Alt, '1', C, false, {"key 1073"}, kAny, 2},
        {"space", kNoMenu, None, 32, H, false, {"key 32"}, kAny, 2},
        {"Applications key", kNoMenu, None, 93, L, false, {"key 93"}, kAny, 2},
        {"Delete", kNoMenu, None, 46, L, false, {"key 46"}, kAny, 2},
        {"Backspace not in the table", kNoMenu, None, 8, L, false, {}, kAny, 2},
        {"punctuation not in the table", kNoMenu, None, 186, L, false, {}, kAny, 2},
        {"key code beyond 255", kNoMenu, None, 300, L, false, {}, kAny, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        menuReset();
        historyReset();
        for (int i = 0; i < 5; ++i) historyAdd("m" + std::to_string(i), 0);
        historyMove(3);  // from before the first message to the third
        if (c.menuFlags != kNoMenu) open(12, 1, 5, 3, c.menuFlags);
        ui.setChat("salut");
        setMods(c.mods);
        EXPECT_EQ(down(c.key, c.control), c.consumed);
        EXPECT_EQ(sent(), c.lines);
        if (c.selection != kAny) {
            EXPECT_EQ(selection(), c.selection);
        }
        if (c.histPos != kAny) {
            EXPECT_EQ(histPos(), c.histPos);
        }
        ui.take();
    }
}

TEST_F(Keys, FunctionKeysOfCommandsAreNeverReported) {
    for (int key = 112; key <= 135; ++key) {
        SCOPED_TRACE(key);
        bool command = (key >= 115 && key <= 119) || key == 123;
        EXPECT_FALSE(down(key, L));
        EXPECT_EQ(sent(), command ? Lines{} : Lines{"key " + std::to_string(key)});
    }
}

TEST_F(Keys, ModifiersAreTrackedFromKeyDownAndKeyUp) {
    struct Case {
        int key;
        bool isDown;
        bool shift, ctrl, alt;  // after
    };
    // One sequence: each step starts where the previous one left off.
    const Case steps[] = {
        {16, true, true, false, false},  {162, true, true, true, false}, {165, true, true, true, true},
        {160, false, false, true, true}, {18, false, false, false, false},  // Alt up clears Ctrl too
        {161, true, true, false, false}, {163, true, true, true, false}, {17, false, true, false, false},
        {164, true, true, false, true},  {16, false, false, false, true},
    };
    for (UiControl c : {H, L, C}) {
        keyboardReset();
        for (const Case& s : steps) {
            SCOPED_TRACE(s.key);
            EXPECT_FALSE(s.isDown ? down(s.key, c) : up(s.key, c));
            EXPECT_EQ(keyboardView().shiftDown, s.shift);
            EXPECT_EQ(keyboardView().ctrlDown, s.ctrl);
            EXPECT_EQ(keyboardView().altDown, s.alt);
        }
    }
    setMods(Shift | Ctrl | Alt);
    mainWindowLostFocus();
    EXPECT_FALSE(keyboardView().shiftDown);
    EXPECT_FALSE(keyboardView().ctrlDown);
    EXPECT_TRUE(keyboardView().altDown);
    EXPECT_TRUE(sent().empty());
}

TEST_F(Keys, KeyUpTable) {
    open(1, 1, 3, 0, 0);
    for (int key = 33; key <= 40; ++key) {
        SCOPED_TRACE(key);
        EXPECT_TRUE(up(key, L));
        EXPECT_FALSE(up(key, H));
        EXPECT_FALSE(up(key, C));
    }
    for (int key : {13, 27, 65, 112, 46}) EXPECT_FALSE(up(key, L)) << key;
    EXPECT_TRUE(up(9, L));
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(selection(), 0);
}

TEST_F(Keys, ArrowMovesInAGrid) {
    // Width 3, 8 items: rows 0-2, 3-5, 6-7 (the last row is short).
    struct Case {
        int key, mods, from, to;
    };
    const Case cases[] = {
        {37, None, 4, 3},  {37, None, 3, 3},  // no step out of the row
        {39, None, 4, 5},  {39, None, 5, 5},  {39, None, 7, 7},  // past the last item
        {38, None, 4, 1},  {38, None, 1, 1},  {40, None, 4, 7},  {40, None, 5, 5},
        {37, Ctrl, 5, 3},  {39, Ctrl, 3, 5},  {39, Ctrl, 6, 7},  // row end beyond the items
        {38, Ctrl, 7, 1},  {40, Ctrl, 0, 6},  {40, Ctrl, 2, 5},  // column end on the short row
        {40, Ctrl, 4, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.key) + " from " + std::to_string(c.from));
        menuReset();
        open(5, 3, 8, c.from, 0);
        setMods(c.mods);
        EXPECT_TRUE(down(c.key, L));
        EXPECT_EQ(selection(), c.to);
    }
    EXPECT_TRUE(sent().empty());
}

TEST_F(Keys, ArrowMovesInAPlainListAndShortGrid) {
    struct Case {
        int width, n, key, mods, from, to;
    };
    const Case cases[] = {
        {1, 5, 37, Ctrl, 3, 0}, {1, 5, 38, Ctrl, 3, 0}, {1, 5, 39, Ctrl, 1, 4}, {1, 5, 40, Ctrl, 1, 4},
        {1, 5, 37, None, 3, 2}, {1, 5, 38, None, 3, 2},
        // Width 0: Up and Down move by 0 and announce the item again; a
        // negative width steps the other way.
        {0, 5, 40, None, 3, 3}, {0, 5, 38, None, 3, 3}, {0, 5, 39, None, 3, 4}, {0, 5, 37, None, 3, 2},
        {-1, 5, 38, None, 3, 4}, {-1, 5, 40, None, 3, 2}, {-2, 5, 38, None, 3, 3},
        // Fewer items than the width: Ctrl+Down stays in its column.
        {4, 3, 40, Ctrl, 1, 1}, {4, 3, 39, Ctrl, 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "/" + std::to_string(c.key) + " from " + std::to_string(c.from));
        menuReset();
        open(5, c.width, c.n, c.from, 0);
        setMods(c.mods);
        EXPECT_TRUE(down(c.key, L));
        EXPECT_EQ(selection(), c.to);
    }
    menuReset();
    open(5, 3, 8, 4, MENU_KEY_CONTEXT);
    setMods(Shift);
    for (int key : {37, 38, 39, 40}) EXPECT_TRUE(down(key, L));
    EXPECT_EQ(sent(), (Lines{"kem 293|5|4|v4", "kem 294|5|4|v4", "kem 295|5|4|v4", "kem 296|5|4|v4"}));
    setMods(Ctrl | Shift);  // flag 8 with Shift wins over Ctrl
    EXPECT_TRUE(down(37, L));
    EXPECT_EQ(sent(), (Lines{"kem 805|5|4|v4"}));
}

TEST_F(Keys, AMenuOfWidthZeroAnnouncesItsItemAgainOnUpAndDown) {
    ui.selfVoicing(true);
    open(5, 0, 5, 3, 0);
    for (int key : {38, 40}) {
        EXPECT_TRUE(down(key, L));
        EXPECT_EQ(ui.take(), (std::vector<std::string>{"sound s3", "list-select 3", "speak 1 L3"})) << key;
    }
}

// The one key path as each front-end feeds it.  A scenario is what the
// player's keyboard does: keys pressed and released in the main window or
// while another window has the keyboard, and the main window losing the
// focus.  Each platform turns it into key events its own way:
// - desktop (X11): every key event in the window, with the modifiers held
//   before it as the event's state;
// - headless: every key line while the window is active, with the
//   modifiers of the key lines so far, whichever window had them;
// - Win32: the message loop offers each key-down to the accelerator table
//   with the keyboard's state; keys pressed with Alt and without Ctrl are
//   system keys (WM_SYSKEYDOWN/UP) and never reach the controls; the others
//   reach routeKey as plain key messages, the flags following them.
enum class Fe { Desktop, Headless, Win32 };
enum class Where { Here, Elsewhere, FocusOut };
struct Step {
    Where where;
    int vk;
    bool down;
};
Step D(int vk) { return {Where::Here, vk, true}; }
Step U(int vk) { return {Where::Here, vk, false}; }
Step DE(int vk) { return {Where::Elsewhere, vk, true}; }
Step UE(int vk) { return {Where::Elsewhere, vk, false}; }
const Step kFocusOut{Where::FocusOut, 0, false};

class KeyPath : public Keys {
protected:
    void play(Fe fe, const std::vector<Step>& steps) {
        std::set<int> physical;  // keys down on the keyboard
        HeldKeys script;         // the headless front-end's view of them
        auto has = [&](std::initializer_list<int> keys) {
            for (int k : keys)
                if (physical.count(k)) return true;
            return false;
        };
        auto state = [&] {
            return KeyModifiers{has({16, 160, 161}), has({17, 162, 163}), has({18, 164, 165})};
        };
        for (const Step& s : steps) {
            if (s.where == Where::FocusOut) {
                onUi([] { mainWindowLostFocus(); });
                continue;
            }
            if (s.where == Where::Here) {
                const UiControl c = ui.focusedControl();
                if (fe == Fe::Desktop) {
                    onUi([&] { routeKey(KeyEvent{s.vk, s.down, c, state(), false, {}}); });
                } else if (fe == Fe::Headless) {
                    onUi([&] { routeKey(KeyEvent{s.vk, s.down, c, heldModifiers(script), false, {}}); });
                } else {
                    // Win32 decides on the state with the key itself down.
                    std::set<int> before = physical;
                    if (s.down) physical.insert(s.vk);
                    const KeyModifiers m = state();
                    physical = before;
                    const bool system = m.alt && !m.ctrl;
                    onUi([&] {
                        if (s.down)
                            if (int cmd = accelCommand(s.vk, m.shift, m.ctrl, m.alt)) runCommand(cmd);
                        if (!system) routeKey(KeyEvent{s.vk, s.down, c, std::nullopt, true, {}});
                    });
                }
            }
            heldKeysUpdate(&script, s.vk, s.down);
            if (s.down)
                physical.insert(s.vk);
            else
                physical.erase(s.vk);
        }
    }
};

TEST_F(KeyPath, EveryFrontEndOnTheSamePath) {
    struct Outcome {
        Lines lines;
        UiControl focus;
        int selection;
    };
    struct Row {
        const char* what;
        std::vector<Step> steps;
        Outcome desktop;
        std::optional<Outcome> headless{}, win32{};  // absent: as on the desktop
    };
    const Row rows[] = {
        // Alt+Tab to another window and back: the window manager takes the
        // Tab and Alt's release.  Down and Enter then choose the next item.
        {"Alt+Tab away and back, Down and Enter",
         {D(18), DE(9), UE(9), UE(18), kFocusOut, D(40), U(40), D(13)},
         {{"select 5|1|v1"}, L, -2}},
        // ... and C is a letter again, not Alt+C.
        {"Alt+Tab away and back, then C",
         {D(18), DE(9), UE(9), UE(18), kFocusOut, D(67), U(67)},
         {{"key 67"}, L, 0}},
        // Shift released in the other window.
        {"Shift released elsewhere", {D(16), kFocusOut, UE(16), D(65)}, {{"key 65"}, L, 0}},
        // Alt+C runs its command and is never reported; Alt+L comes back.
        {"Alt+C, Alt+L", {D(18), D(67), U(67), U(18)}, {{}, C, 0}},
        {"Alt held over two commands", {D(18), D(67), U(67), D(76), U(76), U(18), D(40)}, {{}, L, 1}},
        // AltGr is Ctrl+Alt: reported, no command.
        {"Ctrl+Alt+C", {D(17), D(18), D(67), U(67), U(18), U(17)}, {{"key 1603"}, L, 0}},
        {"Shift+A, Ctrl+Down", {D(16), D(65), U(65), U(16), D(17), D(40)}, {{"key 321"}, L, 2}},
        // Ctrl still held when Alt goes up: Win32's Alt key-up forgets Ctrl
        // (its Ctrl key-up may not come with AltGr); the platforms that
        // report the state know Ctrl is down.
        {"Ctrl held past Alt's release",
         {D(17), D(18), U(18), D(65)},
         {{"key 577"}, L, 0},
         std::nullopt,
         Outcome{{"key 65"}, L, 0}},
        // Shift+Tab from the list goes to the history.
        {"Shift+Tab", {D(16), D(9), U(9), U(16)}, {{}, H, 0}},
    };
    for (Fe fe : {Fe::Desktop, Fe::Headless, Fe::Win32}) {
        for (const Row& r : rows) {
            const char* where = fe == Fe::Desktop ? " (desktop)" : fe == Fe::Headless ? " (headless)" : " (Win32)";
            SCOPED_TRACE(std::string(r.what) + where);
            menuReset();
            keyboardReset();
            fillKeymap();
            open(5, 1, 3, 0, 0);
            ui.setFocus(L);
            ui.take();
            play(fe, r.steps);
            const Outcome* want = &r.desktop;
            if (fe == Fe::Headless && r.headless) want = &*r.headless;
            if (fe == Fe::Win32 && r.win32) want = &*r.win32;
            EXPECT_EQ(sent(), want->lines);
            EXPECT_EQ(ui.focusedControl(), want->focus);
            EXPECT_EQ(selection(), want->selection);
        }
    }
}

TEST_F(Keys, EnterInAnEmptyMenuDoesNotCancelIt) {
    menuOpen("9|1|0|0|0|0");
    EXPECT_TRUE(down(13, L));
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(openMenuCount(), 1);
    EXPECT_TRUE(down(27, L));
    EXPECT_EQ(sent(), (Lines{"select 9|-1|-1"}));
}

TEST_F(Keys, TabCyclesTheFocusAndSaysWhere) {
    struct Case {
        UiControl from;
        bool shift, selfVoicing, menu;
        UiControl to;
        std::vector<std::string> events;
    };
    const std::string chatSel = "chat-select 0 5";
    const Case cases[] = {
        {H, false, false, true, L, {}},
        {H, false, true, true, L, {"sound s1", "list-select 1", "speak 1 L1"}},
        {H, false, true, false, L, {}},
        {C, true, true, true, L, {"sound s1", "list-select 1", "speak 1 L1"}},
        {L, false, false, true, C, {chatSel}},
        {L, false, true, true, C, {chatSel, "speak 1 Chat"}},
        {H, true, true, false, C, {chatSel, "speak 1 Chat"}},
        {C, false, false, true, H, {"speak 1 Historique"}},
        {L, true, true, true, H, {"speak 1 Historique"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.from)) + (c.shift ? " shift" : "") +
                     (c.selfVoicing ? " voice" : ""));
        menuReset();
        if (c.menu) open(2, 1, 3, 1, 0);
        ui.setChat("salut");
        ui.setFocus(c.from);
        ui.selfVoicing(c.selfVoicing);
        setMods(c.shift ? Shift : None);
        EXPECT_TRUE(down(9, c.from));
        EXPECT_TRUE(up(9, c.from));
        EXPECT_EQ(ui.focusedControl(), c.to);
        EXPECT_EQ(ui.take(), c.events);
    }
    EXPECT_TRUE(sent().empty());
}

TEST_F(Keys, TypeAheadInTheList) {
    EXPECT_FALSE(listAcceptsChar());
    EXPECT_EQ(listTypeAheadTarget('a'), -1);
    menuOpen("4|1|6|1|2|0|Alpha|a|-|-|beta|b|-|-|Avion|c|-|-|\xC9t\xE9|d|-|-|null|e|-|-|alors|f|-|-");
    EXPECT_TRUE(listAcceptsChar());
    struct Case {
        char c;
        int selection, target;
    };
    const Case cases[] = {
        {'a', 1, 2}, {'A', 2, 5}, {'a', 5, 0},  // wraps
        {'B', 1, 1},                            // the only match is the selection itself
        {'\xE9', 0, 3},                         // accented letters fold too
        {'z', 0, -1},
    };
    for (const Case& c : cases) {
        menuMove(c.selection, false, true);
        EXPECT_EQ(listTypeAheadTarget(c.c), c.target) << c.c << " from " << c.selection;
    }
    menuReset();
    menuOpen(menuText(1, 1, 2, 0, MENU_KEY_CONTEXT));
    EXPECT_FALSE(listAcceptsChar());
}

TEST_F(Keys, ReportLinesAreNeverCut) {
    std::string value(5000, 'v');
    menuOpen("3|1|2|1|8|0|a|null|-|-|b|" + value + "|-|-");
    EXPECT_EQ(keyReportLine(65, false, false, false), "kem 65|3|1|" + value + "\n");
    menuMove(0, false, true);
    EXPECT_EQ(keyReportLine(65, true, true, true), "kem 1857|3|0|\n");  // no value: empty field
}

TEST_F(Keys, NoConnectionDropsReports) {
    AGCHandle* h = agc_current();
    agc_setCurrent(nullptr);
    sendKeyDown(65, false, false, false);
    EXPECT_FALSE(down('A', L));
    agc_setCurrent(h);
    EXPECT_TRUE(sent().empty());
}

TEST_F(Keys, CtrlShiftDeleteForceClosesThenReportsDelete) {
    // The front-end's order: the accelerator table first, then the control.
    onUi([] {
        handleKeyDown(16, UiControl::List);
        handleKeyDown(17, UiControl::List);
    });
    const KeyboardState& k = keyboardView();
    int command = accelCommand(46, k.shiftDown, k.ctrlDown, k.altDown);
    EXPECT_EQ(command, 3001);
    onUi([&] { runCommand(command); });
    EXPECT_EQ(ui.beeps(), (std::vector<std::pair<int, int>>{{524, 60}, {392, 60}, {349, 60}, {262, 60}}));
    EXPECT_TRUE(conn->waitClosed());
    EXPECT_EQ(keyReportLine(46, true, true, false), "key 814\n");
    EXPECT_FALSE(down(46, L));  // reported on the closed connection: dropped there
}

}  // namespace
