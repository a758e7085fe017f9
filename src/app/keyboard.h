// Keyboard handling of the three controls of the main window: which keys move
// in the menu, in the message history or in the chat recall, which move the
// focus, and which are reported to the server.
//
// Keys are Windows virtual-key codes on every platform (front-ends translate
// theirs).  Everything here runs on the UI thread, called by the front-end's
// key handling of each control; the menu, history and chat operations it
// calls take their own locks.  The modifier flags are this module's own view
// of Shift, Ctrl and Alt, built from the key messages the controls see, not
// from the system's key state.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/ui.h"

// Virtual-key codes used by the keyboard logic and the accelerator table.
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
    VKEY_LSHIFT = 160,
    VKEY_RSHIFT = 161,
    VKEY_LCONTROL = 162,
    VKEY_RCONTROL = 163,
    VKEY_LMENU = 164,
    VKEY_RMENU = 165,
};

struct KeyboardState {
    bool shiftDown = false;
    bool ctrlDown = false;
    bool altDown = false;
    // Non-zero: the key is reported to the server when it has no other use.
    std::array<uint8_t, 256> keymap{};
    // Last mouse button pressed in the list: 0 none, 1 left, 2 right.  Set by
    // the front-end on a press in the list; consumed by selectionStep().
    int listClicked = 0;
};

extern KeyboardState keyboard;

// Fills keymap with the reported keys: 10, 13, 32, 46, digits, letters, 93
// and the numeric keypad and F1-F24 (96-135), leaving out F4-F8 and F12,
// which are accelerator commands.  Called once at start-up.
void fillKeymap();

// A key-down of `key` (0-255; other values are never consumed) in `control`.
// True: consumed, the control must not act on it.
bool handleKeyDown(int key, UiControl control);
// The same for key-up; Tab's key-up moves the focus.
bool handleKeyUp(int key, UiControl control);

// Reports a key to the server on the current connection: the key code with
// 256 for Shift, 512 for Ctrl and 1024 for Alt, as "kem <code>|<menu id>|
// <selection>|<value>" when the menu shown has flag 8, else "key <code>".  An
// item without a value (or no selected item) gives an empty value field.
// Nothing is sent without a connection.  The line is never cut.
void sendKeyDown(int key, bool shift, bool ctrl, bool alt);
// The line sendKeyDown sends, without touching the connection.
std::string keyReportLine(int key, bool shift, bool ctrl, bool alt);

// Whether a character typed in the list goes on to the list's type-ahead:
// only in a menu whose flags include 2.  Otherwise the front-end drops it.
bool listAcceptsChar();
// Type-ahead target for character `c` (CP1252) in the current menu: the
// first item after the selection, wrapping around, whose label begins with
// `c`, letter case ignored.  -1 when there is none (or no menu).  The
// front-end selects it in the list and then runs selectionStep().
int listTypeAheadTarget(char c);

// The main window lost the focus: Shift and Ctrl are forgotten (their key-ups
// may go to another window).  Alt is left as it is.
void mainWindowLostFocus();

// Tests: modifiers up, keymap empty, no click.
void keyboardReset();
