#include "menu/menus.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "audio/sound.h"
#include "net/agc.h"
#include "net/replies.h"
#include "platform/diag.h"
#include "platform/fields.h"
#include "platform/ui.h"
#include "speech/speech.h"

namespace {

// The unit's state, one record, guarded by `lock` as the header says.
// menuReset() closes every menu without touching the list (resetCore,
// tests).
struct MenuStackState {
    std::mutex lock;
    // Entries 0 .. nOpenedMenus - 1 are the open menus, oldest first.
    std::array<std::unique_ptr<menu>, kMaxOpenMenus> menustack;
    int nOpenedMenus = 0;
    // menustack[nOpenedMenus - 1], or null.
    menu* curmenu = nullptr;
};

MenuStackState menus;

using Lock = std::lock_guard<std::mutex>;

// Runs a menu operation as the header describes: on the UI thread under the
// lock, or on this thread when there is no main window.
template <class F>
void runMenuOp(F&& body) {
    auto locked = [&] {
        Lock g(menus.lock);
        body();
    };
    if (uiThread().isUiThread()) {
        locked();
        return;
    }
    if (!uiCall(locked)) locked();
}

// A list call; direct on the UI thread, skipped when there is no window.
template <class F>
void onUi(F&& f) {
    if (uiThread().isUiThread())
        f();
    else
        uiCall(f);
}

// Keeps the selection on an item: -1 for an empty menu, else clamped to the
// nearest item.
void clampSelection(menu* m) {
    if (m->nItems <= 0)
        m->selection = -1;
    else
        m->selection = std::clamp(m->selection, 0, m->nItems - 1);
}

void refillList() {
    onUi([] {
        uiViews().listReset();
        menu* m = menus.curmenu;
        if (!m) return;
        for (int i = 0; i < m->nItems; ++i) {
            const std::optional<std::string>& label = m->items[static_cast<size_t>(i)].label;
            uiViews().listAdd(label ? *label : std::string());
            int pos = uiViews().listCount() - 1;
            if (pos != i) {
                diagf("ListError1=%d,%d,%d,'%s'\r\n", pos, i, 0, label ? label->c_str() : "");
                uiDialogs().beep(2094, 60);
                break;
            }
        }
    });
}

void moveLocked(int n, bool b, bool absolute) {
    menu* m = menus.curmenu;
    if (!m) return;
    if (m->nItems <= 0) {
        // Nothing to select or announce; a real move still meets the bounds.
        if (!absolute && n != 0) playSound("menubounds", 0);
        onUi([] { uiViews().listSelect(-1); });
        return;
    }
    clampSelection(m);
    int64_t k = absolute ? int64_t{n} : int64_t{m->selection} + n;
    bool refused = false;
    if (absolute) {
        k = std::clamp<int64_t>(k, 0, m->nItems - 1);
    } else if (k < 0 || k >= m->nItems) {
        refused = true;
    } else if (m->width >= 2 && std::llabs(n) < m->width && k / m->width != m->selection / m->width) {
        refused = true;
    }
    if (refused)
        playSound("menubounds", 0);
    else
        m->selection = static_cast<int32_t>(k);
    const menuitem& it = m->items[static_cast<size_t>(m->selection)];
    const MenuGrid grid{m->width, m->selection};
    if (it.sound) playSound(*it.sound, 0, &grid);
    int sel = m->selection;
    onUi([sel] { uiViews().listSelect(sel); });
    if (it.label && (speechSpeaksMenus() || refused)) sayString(*it.label, b);
}

void openLocked(std::string_view s) {
    if (menus.nOpenedMenus >= kMaxOpenMenus) {
        playSound("menubounds", 0);
        return;
    }
    std::unique_ptr<menu> m = menu_create(s);
    clampSelection(m.get());
    menus.curmenu = m.get();
    menus.menustack[static_cast<size_t>(menus.nOpenedMenus++)] = std::move(m);
    refillList();
    moveLocked(0, false, false);
}

void closeLocked(int n) {
    n = std::clamp(n, 0, menus.nOpenedMenus);
    for (int i = 0; i < n; ++i)
        menu_free(std::move(menus.menustack[static_cast<size_t>(--menus.nOpenedMenus)]));
    menus.curmenu = menus.nOpenedMenus > 0
                        ? menus.menustack[static_cast<size_t>(menus.nOpenedMenus - 1)].get()
                        : nullptr;
    refillList();
    moveLocked(0, true, false);
}

void updateItemLocked(std::string_view s) {
    menu* m = menus.curmenu;
    if (!m) return;
    int c = menu_updateitem(m, s);
    if (c == kMenuItemUnchanged) return;
    clampSelection(m);
    // r: the list's answer, negative when it refused the change.
    int r = 0;
    if (c > 0) {
        std::string label = m->items.back().label.value_or(std::string());
        onUi([&] {
            int before = uiViews().listCount();
            uiViews().listAdd(label);
            r = uiViews().listCount() == before + 1 ? before : -1;
        });
    } else if (c < 0) {
        int line = -c - 1;
        onUi([&] {
            int before = uiViews().listCount();
            uiViews().listDelete(line);
            r = uiViews().listCount() == before - 1 ? before - 1 : -1;
        });
    } else {
        // One row changed (menu_updateitem made it the selection): only
        // that row is replaced, so a long menu is not refilled per line.
        int line = m->selection;
        std::string label = m->items[static_cast<size_t>(line)].label.value_or(std::string());
        onUi([&] { uiViews().listSetItem(line, label); });
    }
    int count = -1;
    onUi([&] { count = uiViews().listCount(); });
    if (count != m->nItems) {
        refillList();
    } else if (r < 0) {
        onUi([] { uiDialogs().beep(1047, 60); });
        diagf("ListError2=%d,%d,%d\r\n", c, r, 0);
        refillList();
    }
    moveLocked(0, false, false);
}

void updateMenuLocked(std::string_view s) {
    int32_t id = menufields(s).nextInt();
    menu* found = nullptr;
    for (int i = 0; i < menus.nOpenedMenus && !found; ++i)
        if (menus.menustack[static_cast<size_t>(i)]->id == id)
            found = menus.menustack[static_cast<size_t>(i)].get();
    if (!found) {
        openLocked(s);
        return;
    }
    int32_t old = found->selection;
    menu_update(found, s);
    if (found->selection < 0)
        found->selection = (old >= 0 && old < found->nItems) ? old : found->nItems - 1;
    clampSelection(found);
    refillList();
    moveLocked(0, false, false);
}

MenuView viewOf(const menu& m) {
    return MenuView{m.id, m.nItems, m.width, m.selection, m.flags};
}

// Upper-case fold of a CP1252 byte for type-ahead: ASCII letters, the
// accented letters of 0xE0-0xFE (but the division sign) and the four
// letters of 0x8A-0x9F that have a case pair.
unsigned char foldCase(unsigned char c) {
    if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 32);
    switch (c) {
        case 0x9A:
            return 0x8A;  // s caron
        case 0x9C:
            return 0x8C;  // oe
        case 0x9E:
            return 0x8E;  // z caron
        case 0xFF:
            return 0x9F;  // y diaeresis
        default:
            return c;
    }
}

}  // namespace

std::string menuSelectLine(const menu& m, int n) {
    std::string_view value;
    if (n >= 0 && n < m.nItems && m.items[static_cast<size_t>(n)].value)
        value = *m.items[static_cast<size_t>(n)].value;
    return selectReply(m.id, n, value);
}

void menuOpen(std::string_view s) {
    runMenuOp([&] { openLocked(s); });
}

void menuUpdate(std::string_view s, bool partial) {
    runMenuOp([&] {
        if (partial)
            updateItemLocked(s);
        else
            updateMenuLocked(s);
    });
}

void menuClose(int n) {
    runMenuOp([&] { closeLocked(n); });
}

void menuMove(int n, bool b, bool absolute) {
    runMenuOp([&] { moveLocked(n, b, absolute); });
}

void menuMove3(std::string_view s) {
    runMenuOp([&] {
        if (!menus.curmenu) return;
        menufields f(s);
        std::optional<std::string_view> id = f.next();
        std::optional<std::string_view> pos = f.next();
        if (!id || !pos) return;
        if (readInt32(*id) != menus.curmenu->id) return;
        moveLocked(readInt32(*pos), true, true);
    });
}

void menuSelect(int n) {
    runMenuOp([&] {
        menu* m = menus.curmenu;
        if (!m) return;
        // An empty menu has nothing to choose; it can still be cancelled, or
        // the player would be stuck in it.
        if (n >= 0) {
            if (m->nItems <= 0) return;
            n = std::min(n, m->nItems - 1);
        }
        std::string line = menuSelectLine(*m, n);
        if (!(m->flags & MENU_STAYS_OPEN)) closeLocked(1);
        agc_sendCurrent(line);
    });
}

void updateListControl() {
    runMenuOp([] { refillList(); });
}

std::optional<MenuGrid> curmenuGrid() {
    Lock g(menus.lock);
    if (!menus.curmenu) return std::nullopt;
    return MenuGrid{menus.curmenu->width, menus.curmenu->selection};
}

std::optional<MenuView> currentMenuView() {
    Lock g(menus.lock);
    if (!menus.curmenu) return std::nullopt;
    return viewOf(*menus.curmenu);
}

int openMenuCount() {
    Lock g(menus.lock);
    return menus.nOpenedMenus;
}

std::optional<MenuKeyContext> menuKeyContext() {
    Lock g(menus.lock);
    const menu* m = menus.curmenu;
    if (!m || !(m->flags & MENU_KEY_CONTEXT)) return std::nullopt;
    MenuKeyContext context{m->id, m->selection, {}};
    if (m->selection >= 0 && m->selection < m->nItems) {
        const std::optional<std::string>& v = m->items[static_cast<size_t>(m->selection)].value;
        if (v) context.value = *v;
    }
    return context;
}

std::optional<MenuView> menuTakeListSelection(int32_t selection) {
    Lock g(menus.lock);
    if (!menus.curmenu) return std::nullopt;
    menus.curmenu->selection = selection;
    return viewOf(*menus.curmenu);
}

int listTypeAheadTarget(char c) {
    Lock g(menus.lock);
    const menu* m = menus.curmenu;
    if (!m || m->nItems <= 0) return -1;
    const unsigned char want = foldCase(static_cast<unsigned char>(c));
    const int n = m->nItems;
    const int start = (m->selection >= 0 && m->selection < n) ? m->selection : -1;
    for (int step = 1; step <= n; ++step) {
        int i = (start + step) % n;
        const std::optional<std::string>& label = m->items[static_cast<size_t>(i)].label;
        if (label && !label->empty() && foldCase(static_cast<unsigned char>((*label)[0])) == want)
            return i;
    }
    return -1;
}

void menuReset() {
    Lock g(menus.lock);
    for (auto& m : menus.menustack) m.reset();
    menus.nOpenedMenus = 0;
    menus.curmenu = nullptr;
}
