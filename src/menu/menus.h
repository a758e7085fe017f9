// The stack of open menus, navigation in the current menu, and its
// presentation in the list control.
//
// Threads: server commands (menuOpen, menuUpdate, menuClose, menuMove3) come
// on the connection's dispatch thread, or on the UI thread within a run of
// lines handed to it; keys and list clicks (menuMove, menuSelect) on the UI
// thread.  Every operation runs its whole body on the UI thread (through the
// UI-thread call when called elsewhere) while holding `menus.lock`, so no
// thread ever sees a half-updated menu and announcements keep the order of
// the commands.  When there is no main window the body runs on the calling
// thread instead (the model still follows the server; list calls are
// skipped).  Other threads read the menus only under `menus.lock`.
//
// The lock is plain: nothing called while it is held calls back into this
// unit.  The sounds of a move get the menu's grid with the request (the
// sound unit never asks for it), and the front-ends run the selection step
// only for the player's own changes, never for the list calls made here.
#pragma once

#include <array>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "audio/sound.h"
#include "menu/audiomenu.h"

constexpr int kMaxOpenMenus = 16;

// The unit's state, one record, guarded by `lock` as said above.
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

// The line menuSelect sends for item n of `m` (selectReply; n < 0:
// cancellation).  An absent value gives an empty value field.
std::string menuSelectLine(const menu& m, int n);

// The current menu's width and selection, read under the lock; nothing when
// no menu is open.  For the positional pan of a server's sound.  Not to be
// called while holding the lock (the lock is not recursive).
std::optional<MenuGrid> curmenuGrid();

// Closes every menu without touching the list.
void menuReset();
