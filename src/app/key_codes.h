// The key codes of the key path: Windows virtual-key codes on every
// platform (the desktop and headless front-ends translate theirs).  Shared by
// the key handling and the accelerator table.
#pragma once

enum : int {
    VKEY_TAB = 9,
    VKEY_RETURN = 13,
    VKEY_SHIFT = 16,
    VKEY_CONTROL = 17,
    VKEY_MENU = 18,  // Alt
    VKEY_ESCAPE = 27,
    VKEY_PRIOR = 33,  // Page Up
    VKEY_NEXT = 34,   // Page Down
    VKEY_END = 35,
    VKEY_HOME = 36,
    VKEY_LEFT = 37,
    VKEY_UP = 38,
    VKEY_RIGHT = 39,
    VKEY_DOWN = 40,
    VKEY_DELETE = 46,
    VKEY_APPS = 93,
    VKEY_F1 = 112,
    VKEY_F4 = 115,
    VKEY_F5 = 116,
    VKEY_F6 = 117,
    VKEY_F7 = 118,
    VKEY_F8 = 119,
    VKEY_F12 = 123,
    VKEY_LSHIFT = 160,
    VKEY_RSHIFT = 161,
    VKEY_LCONTROL = 162,
    VKEY_RCONTROL = 163,
    VKEY_LMENU = 164,
    VKEY_RMENU = 165,
};
