// The menu model: a server menu and its items, and the parser of the menu
// text ("menu ", "umenu ") and item text ("uitem ") the server sends.
//
// Pure: parsing takes the payload bytes (CP1252, everything after the
// keyword) and fills records; no I/O, no UI, no lock.  The menu stack
// (menus.h) says which thread may touch a menu.
//
// Field rules: fields are separated by "|"; runs of separators count as one
// and leading ones are skipped, so no field is ever empty.  A text field that
// is the word "null" in any letter case is absent.  An integer field reads
// leading blanks, a sign and decimal digits up to the first other byte (no
// digits: 0; values beyond 32 bits saturate).  Reading never goes past the
// payload: a missing integer field reads 0 and a missing text field reads
// absent.  A NUL byte ends the payload, as it would a C string on the wire.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/protocol.h"  // the menu flag bits
#include "platform/caps.h"

// A menu holds at most kMaxMenuItems items and kMaxMenuTextBytes of item
// text (platform/caps.h); past either, what would add is ignored.

struct menuitem {
    std::optional<std::string> label;  // shown in the list and spoken
    std::optional<std::string> value;  // reported in "select" and "kem" lines
    std::optional<std::string> sound;  // a sound description for playSound
};

struct menu {
    std::vector<menuitem> items;
    int32_t id = 0;
    // Always equal to items.size(); kept as a field because every user of the
    // model reads it by this name.  Only the menu_ functions change it.
    int32_t nItems = 0;
    int32_t width = 0;       // columns of a grid; below 2: no grid
    int32_t selection = 0;   // as the server sent it; the stack clamps it
    int32_t flags = 0;
    // Bytes of every item's label, value and sound together; at most
    // kMaxMenuTextBytes.  Only the menu_ functions change it.
    size_t textBytes = 0;
};

// The reading position of one parse.  menu_update and menu_updateitem make
// one; menu_readitem continues it.  Never shared between threads.
struct menufields {
    explicit menufields(std::string_view payload);
    // The next field, or nullopt when the payload is used up.
    std::optional<std::string_view> next();
    // The next field read by readInt32 (platform/fields.h); 0 when missing.
    int32_t nextInt();
    // True when no field is left.
    bool atEnd();

    std::string_view text;
    size_t pos = 0;
};

// A private copy of a text; absent for absent.
std::optional<std::string> copy(const char* s);
std::optional<std::string> copy(std::optional<std::string_view> s);

// A new menu filled from menu text `s`.
std::unique_ptr<menu> menu_create(std::string_view s);
// Replaces the whole content of `m` by menu text `s`; returns `m`.
//
// The announced item count is a promise the text may not keep: items are
// read while fields remain, up to that count, so a short text gives fewer
// items (the last one possibly with absent trailing fields) and a negative
// count gives none.  A huge count therefore cannot make us build millions of
// empty items from a short line.  Reading also stops at kMaxMenuItems items,
// and before an item that would take the texts past kMaxMenuTextBytes.
menu* menu_update(menu* m, std::string_view s);
// Reads label, value, sound and the ignored image field into `it`.  What
// `it` held is overwritten (the strings are owned, nothing leaks).
void menu_readitem(menuitem* it, menufields& f);
void menu_freeitem(menuitem* it);
void menu_freeitems(menu* m);
void menu_free(std::unique_ptr<menu> m);

// Change code of menu_updateitem when the text changed nothing: a deletion
// of an index that names no item, or a change the caps refuse.
constexpr int kMenuItemUnchanged = INT_MIN;
// Applies item text `s`: 0 when an item was replaced, index + 1 when an item
// was appended (always at the end), -(index + 1) when item `index` was
// deleted, kMenuItemUnchanged when a deletion named no item, or when an
// append to a menu of kMaxMenuItems items, or an append or replacement that
// would take its texts past kMaxMenuTextBytes, was ignored (the menu,
// selection included, is then as it was).
int menu_updateitem(menu* m, std::string_view s);
