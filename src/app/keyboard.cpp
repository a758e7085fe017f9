#include "app/keyboard.h"

#include <optional>

#include "app/commands.h"
#include "history/chat.h"
#include "history/history.h"
#include "menu/menus.h"
#include "net/agc.h"
#include "net/replies.h"
#include "speech/speech.h"

namespace {

KeyboardState keyboard;

// The history distance that means "to the first or last message"; the
// history clamps it.
constexpr int kHistoryEnds = 1000000000;

bool anyModifier() {
    return keyboard.shiftDown || keyboard.ctrlDown || keyboard.altDown;
}

void report(int key) {
    sendKeyDown(key, keyboard.shiftDown, keyboard.ctrlDown, keyboard.altDown);
}

// Ctrl+arrow target in menu `m`.  Ctrl+Down goes to the last item of the
// selected column.  The textbook target n - w + (s mod w) is that item only
// when the last row is full: with a short last row, n - w is not where that
// row starts, and the target falls in another column (8 items of width 3,
// column 2: 8 - 3 + 2 = 7, which is in column 1), or before the first item
// when there are fewer items than the width.  So the column is taken on the
// last row, and one row up when the short row has no item there.  Every
// target is then kept on an existing item.
int ctrlArrowTarget(int key, const MenuView& m) {
    const int n = m.nItems, w = m.width, s = m.selection;
    if (n <= 0) return 0;
    int t = 0;
    if (w > 1) {
        switch (key) {
            case VKEY_LEFT:
                t = (s / w) * w;
                break;
            case VKEY_RIGHT:
                t = (s / w + 1) * w - 1;
                break;
            case VKEY_UP:
                t = s % w;
                break;
            default: {
                t = ((n - 1) / w) * w + s % w;
                if (t >= n) t -= w;
                break;
            }
        }
    } else {
        t = (key == VKEY_LEFT || key == VKEY_UP) ? 0 : n - 1;
    }
    if (t < 0) t = 0;
    if (t > n - 1) t = n - 1;
    return t;
}

// Arrow keys in the list with a menu shown.
void arrowInMenu(int key, const MenuView& m) {
    if (keyboard.shiftDown && (m.flags & MENU_KEY_CONTEXT)) {
        report(key);
        return;
    }
    if (keyboard.ctrlDown) {
        menuMove(ctrlArrowTarget(key, m), true, true);
        return;
    }
    // Up and Down step a whole row, whatever the width: in a menu of width
    // 0 they move by 0, which announces the selected item again (a negative
    // width steps the other way and meets the bounds as any move does).
    int d = key == VKEY_LEFT ? -1 : key == VKEY_RIGHT ? 1 : key == VKEY_UP ? -m.width : m.width;
    menuMove(d, true, false);
}

void selectAllChat() {
    uiViews().chatSelectRange(0, static_cast<int>(uiViews().chatText().size()));
}

// Tab's key-up: history -> list -> chat -> history, Shift+Tab the other way.
void focusMove(UiControl from) {
    const bool shift = keyboard.shiftDown;
    if ((from == UiControl::Chat && shift) || (from == UiControl::History && !shift)) {
        uiViews().setFocus(UiControl::List);
        if (speechSpeaksMenus() && currentMenuView()) menuMove(0, true, false);
    } else if ((from == UiControl::History && shift) || (from == UiControl::List && !shift)) {
        uiViews().setFocus(UiControl::Chat);
        selectAllChat();
        // The control's name without the label's mnemonic marker, which a
        // voice would read out ("et Chat").
        if (speechSpeaksMenus()) sayString("Chat", true);
    } else {
        uiViews().setFocus(UiControl::History);
        // Said in every speech mode: a screen reader reads the history
        // control's whole text otherwise.
        sayString("Historique", true);
    }
}

bool isShift(int k) {
    return k == VKEY_SHIFT || k == VKEY_LSHIFT || k == VKEY_RSHIFT;
}
bool isCtrl(int k) {
    return k == VKEY_CONTROL || k == VKEY_LCONTROL || k == VKEY_RCONTROL;
}
bool isAlt(int k) {
    return k == VKEY_MENU || k == VKEY_LMENU || k == VKEY_RMENU;
}

bool held(const HeldKeys& keys, int a, int b, int c) {
    return keys.down[static_cast<size_t>(a)] || keys.down[static_cast<size_t>(b)] ||
           keys.down[static_cast<size_t>(c)];
}

}  // namespace

const KeyboardState& keyboardView() {
    return keyboard;
}

void listClicked(ListButton button) {
    keyboard.listClicked = static_cast<int>(button);
}

void fillKeymap() {
    auto& km = keyboard.keymap;
    km.fill(0);
    for (int k : {10, 13, 32, 46, 93}) km[static_cast<size_t>(k)] = 1;
    for (int k = 48; k <= 57; ++k) km[static_cast<size_t>(k)] = 1;
    for (int k = 65; k <= 90; ++k) km[static_cast<size_t>(k)] = 1;
    for (int k = 96; k <= 135; ++k) km[static_cast<size_t>(k)] = 1;
    // F4-F8 and F12 are accelerator commands; the control still sees their
    // key-down after the command ran, and must not report it.
    for (int k = 115; k <= 119; ++k) km[static_cast<size_t>(k)] = 0;
    km[123] = 0;
}

bool isModifierKey(int vk) {
    return isShift(vk) || isCtrl(vk) || isAlt(vk);
}

bool routeKey(const KeyEvent& ev) {
    if (ev.modifiers) {
        keyboard.shiftDown = ev.modifiers->shift;
        keyboard.ctrlDown = ev.modifiers->ctrl;
        keyboard.altDown = ev.modifiers->alt;
    }
    if (!ev.loopRouted) {
        const bool modifier = isModifierKey(ev.vk);
        const bool systemKey = !modifier && keyboard.altDown && !keyboard.ctrlDown;
        const int cmd = ev.down && !modifier ? accelCommand(ev.vk, keyboard.shiftDown,
                                                            keyboard.ctrlDown, keyboard.altDown)
                                             : 0;
        if (cmd) {
            runCommand(cmd);
            if (ev.windowGone && ev.windowGone()) return true;
        }
        if (systemKey) return true;
    }
    return ev.down ? handleKeyDown(ev.vk, ev.control) : handleKeyUp(ev.vk, ev.control);
}

void heldKeysUpdate(HeldKeys* keys, int vk, bool down) {
    if (vk >= 0 && vk <= 255) keys->down[static_cast<size_t>(vk)] = down;
}

KeyModifiers heldModifiers(const HeldKeys& keys) {
    return KeyModifiers{held(keys, VKEY_SHIFT, VKEY_LSHIFT, VKEY_RSHIFT),
                        held(keys, VKEY_CONTROL, VKEY_LCONTROL, VKEY_RCONTROL),
                        held(keys, VKEY_MENU, VKEY_LMENU, VKEY_RMENU)};
}

bool handleKeyDown(int key, UiControl control) {
    if (isShift(key)) {
        keyboard.shiftDown = true;
        return false;
    }
    if (isCtrl(key)) {
        keyboard.ctrlDown = true;
        return false;
    }
    if (isAlt(key)) {
        keyboard.altDown = true;
        return false;
    }
    const bool inList = control == UiControl::List;
    const bool inChat = control == UiControl::Chat;
    const bool inHistory = control == UiControl::History;
    const bool ctrlOrShift = keyboard.ctrlDown || keyboard.shiftDown;

    switch (key) {
        case VKEY_RETURN:
            if (inList) {
                std::optional<MenuView> m = currentMenuView();
                if (m && !anyModifier()) {
                    // An empty menu has no item to choose; Enter must not
                    // turn into a cancellation (index -1) there.
                    if (m->selection >= 0) menuSelect(m->selection);
                } else {
                    report(VKEY_RETURN);
                }
            } else if (inHistory) {
                if (!anyModifier() && !openClickableLink()) report(VKEY_RETURN);
            } else {
                handleChatEnter();
            }
            return true;
        case VKEY_ESCAPE:
            if (inList && currentMenuView()) menuSelect(-1);
            return true;
        case VKEY_TAB:
            return true;  // the focus moves on key-up
        case VKEY_PRIOR:
        case VKEY_NEXT:
            if (inHistory) return false;  // the view scrolls as usual
            if (key == VKEY_PRIOR)
                historyMove(ctrlOrShift ? -kHistoryEnds : -1);
            else
                historyMove(ctrlOrShift ? kHistoryEnds : 1);
            return true;
        case VKEY_HOME:
        case VKEY_END: {
            if (!inList) return false;
            std::optional<MenuView> m = currentMenuView();
            if (keyboard.ctrlDown && m)
                menuMove(key == VKEY_HOME ? 0 : m->nItems - 1, true, true);
            else
                historyMove(key == VKEY_HOME ? -kHistoryEnds : kHistoryEnds);
            return true;
        }
        case VKEY_LEFT:
        case VKEY_RIGHT:
        case VKEY_UP:
        case VKEY_DOWN: {
            if (inList) {
                std::optional<MenuView> m = currentMenuView();
                if (!m) return false;
                arrowInMenu(key, *m);
                return true;
            }
            if (inChat && (key == VKEY_UP || key == VKEY_DOWN))
                return chatHistoryMove(key == VKEY_UP ? 1 : -1);
            return false;
        }
        default:
            break;
    }

    if (key < 0 || key > 255) return false;
    if (inList && !anyModifier() && ((key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9'))) {
        std::optional<MenuView> m = currentMenuView();
        if (m && (m->flags & MENU_LIST_KEYS)) return false;  // the list's type-ahead
    }
    if (inChat && !keyboard.ctrlDown && !keyboard.altDown) return false;  // typing
    if (keyboard.keymap[static_cast<size_t>(key)]) report(key);
    return false;
}

bool handleKeyUp(int key, UiControl control) {
    if (isShift(key)) {
        keyboard.shiftDown = false;
        return false;
    }
    if (isCtrl(key)) {
        keyboard.ctrlDown = false;
        return false;
    }
    if (isAlt(key)) {
        // Alt's key-up clears Ctrl too: with AltGr (Ctrl+Alt) the Ctrl
        // key-up is not always delivered to the control.
        keyboard.ctrlDown = false;
        keyboard.altDown = false;
        return false;
    }
    if (key >= VKEY_PRIOR && key <= VKEY_DOWN) return control == UiControl::List;
    if (key == VKEY_TAB) {
        focusMove(control);
        return true;
    }
    return false;
}

std::string keyReportLine(int key, bool shift, bool ctrl, bool alt) {
    const KeyReport report{key, shift, ctrl, alt};
    const std::optional<MenuKeyContext> menu = menuKeyContext();
    if (!menu) return keyReply(report, nullptr);
    const KeyMenuContext context{menu->menuId, menu->selection, menu->value};
    return keyReply(report, &context);
}

void sendKeyDown(int key, bool shift, bool ctrl, bool alt) {
    AGCHandle* h = agc_current();
    if (!h) return;
    agc_send(h, keyReportLine(key, shift, ctrl, alt));
}

bool listAcceptsChar() {
    std::optional<MenuView> m = currentMenuView();
    return m && (m->flags & MENU_LIST_KEYS);
}

void mainWindowLostFocus() {
    keyboard.shiftDown = false;
    keyboard.ctrlDown = false;
}

void keyboardReset() {
    keyboard = KeyboardState{};
    fillKeymap();
}

void selectionStep() {
    // The menu's lock is held only while the selection is taken: menuMove and
    // menuSelect take it themselves, and must be free to hand their work to
    // the UI thread when a test calls from elsewhere.  No menu shown: the
    // dispatch thread may close it at any time.
    std::optional<MenuView> m = menuTakeListSelection(uiViews().listSelection());
    if (!m) return;
    menuMove(0, false, false);
    m = menuTakeListSelection(uiViews().listSelection());
    if (!m) {
        keyboard.listClicked = 0;
        return;
    }
    if (keyboard.listClicked != 0 || (m->flags & MENU_CHOOSE_ON_CHANGE)) {
        if (keyboard.listClicked == 2 && (m->flags & MENU_KEY_CONTEXT))
            sendKeyDown(VKEY_APPS, false, false, false);
        else if (m->selection >= 0)  // -1: no item under the click; never a cancellation
            menuSelect(m->selection);
    }
    keyboard.listClicked = 0;
}
