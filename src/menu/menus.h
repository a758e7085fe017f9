// The stack of open menus, navigation in the current menu, and its
// presentation in the list control.
//
// Threads: server commands (menuOpen, menuUpdate, menuClose, menuMove3) come
// on the receive thread; keys and list clicks (menuMove, menuSelect) on the
// UI thread.  Every operation runs its whole body on the UI thread (through
// the UI-thread call when called elsewhere) while holding `menus.lock`, so no
// thread ever sees a half-updated menu and announcements keep the order of
// the commands.  When there is no main window the body runs on the calling
// thread instead (the model still follows the server; list calls are
// skipped).  Other threads read the menus only under `menus.lock`.
#pragma once

#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "menu/audiomenu.h"

constexpr int kMaxOpenMenus = 16;

// The unit's state, one record, guarded by `lock` as said above.
// menuReset() closes every menu without touching the list (resetCore,
// tests).
struct MenuStackState {
    // Recursive: a sound played while a menu operation runs on the UI thread
    // asks curmenuGridPosition() for its pan on that same thread.
    std::recursive_mutex lock;
    // Entries 0 .. nOpenedMenus - 1 are the open menus, oldest first.
    std::array<std::unique_ptr<menu>, kMaxOpenMenus> menustack;
    int nOpenedMenus = 0;
    // menustack[nOpenedMenus - 1], or null.
    menu* curmenu = nullptr;
};

extern MenuStackState menus;

// Opens menu text `s` on top of the stack.  A 17th menu is not opened: the
// stack and the list stay as they are and the player hears "menubounds".
void menuOpen(std::string_view s);
// partial: item text applied to the current menu ("uitem ").  Otherwise
// menu text replacing the open menu with its id, or opened as new ("umenu ").
void menuUpdate(std::string_view s, bool partial);
// Closes the top n menus (all when n exceeds their number).
void menuClose(int n);
// Moves the current menu's selection by n (or to n when absolute) and
// announces the item; b is the speech interrupt flag.
void menuMove(int n, bool b, bool absolute);
// "movem": "<id>|<position>"; moves only when id is the current menu's.
void menuMove3(std::string_view s);
// Reports item n as chosen (n >= 0) or the menu as cancelled (n < 0).
void menuSelect(int n);
// Refills the list from the current menu, on the UI thread.
void updateListControl();

// The line menuSelect sends for item n (n < 0: cancellation).  An absent
// value gives an empty value field; the line is never cut.
std::string menuSelectLine(const menu& m, int n);

// The current menu's width and selection, read under the lock; false when
// no menu is open.  Used by the sound module for positional pan.
bool curmenuGridPosition(int* width, int* selection);

// Closes every menu without touching the list.
void menuReset();
