// The stack of open menus, navigation in the current menu, and its
// presentation in the list control.
//
// Threads: server commands (menuOpen, menuUpdate, menuClose, menuMove3) come
// on the connection's dispatch thread, or on the UI thread within a run of
// lines handed to it; keys and list clicks (menuMove, menuSelect) on the UI
// thread.  Every operation runs its whole body on the UI thread (through the
// UI-thread call when called elsewhere) while holding the unit's lock, so no
// thread ever sees a half-updated menu and announcements keep the order of
// the commands.  When there is no main window the body runs on the calling
// thread instead (the model still follows the server; list calls are
// skipped).  The stack and its lock are private to this unit: other units
// read the menus through the copies below, each taken under the lock, from
// any thread.
//
// The lock is plain: nothing called while it is held calls back into this
// unit.  The sounds of a move get the menu's grid with the request (the
// sound unit never asks for it), and the front-ends run the selection step
// only for the player's own changes, never for the list calls made here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "audio/sound.h"
#include "menu/audiomenu.h"
#include "platform/caps.h"

// The current menu's numbers, copied under the lock: the copy stays whole
// whatever the dispatch thread does to the menu afterwards.
struct MenuView {
    int32_t id = 0;
    int32_t nItems = 0;
    int32_t width = 0;
    int32_t selection = -1;  // -1: no item selected
    int32_t flags = 0;       // MENU_* bits
};
// Nothing when no menu is open.
std::optional<MenuView> currentMenuView();
// How many menus are open (0 .. kMaxOpenMenus).
int openMenuCount();

// What a key report says of the current menu, for a menu with flag 8
// (MENU_KEY_CONTEXT): its id, its selection and that item's value (empty
// when it has none or nothing is selected).  A copy: the value outlives
// the lock.  Nothing when no menu is open or its flags lack 8.
struct MenuKeyContext {
    int32_t menuId = 0;
    int32_t selection = -1;
    std::string value;
};
std::optional<MenuKeyContext> menuKeyContext();

// Takes the list control's selection into the current menu, as it stands,
// without announcing it (the player changed the list; see selectionStep()).
// The current menu's numbers after the change; nothing when no menu is open.
std::optional<MenuView> menuTakeListSelection(int32_t selection);

// Type-ahead target for character `c` (CP1252) in the current menu: the
// first item after the selection, wrapping around, whose label begins with
// `c`, letter case ignored.  -1 when there is none (or no menu).  The
// front-end selects it in the list and then runs selectionStep().
int listTypeAheadTarget(char c);

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
