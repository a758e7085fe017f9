// Keyboard handling of the three controls of the main window: which keys move
// in the menu, in the message history or in the chat recall, which move the
// focus, which run a command of the accelerator table, and which are
// reported to the server.
//
// Keys are Windows virtual-key codes on every platform (front-ends translate
// theirs).  Everything here runs on the UI thread, called by the front-end's
// key handling of each control; the menu, history and chat operations it
// calls take their own locks.
//
// Every front-end hands its key events to routeKey().  The modifier flags
// are the state the platform reports with each event where it has one (the
// desktop under X11, the headless front-end's script): a modifier released
// while another window had the focus then cannot stay down here.  Win32
// keeps its message-based tracking, where the flags follow the key messages
// the controls see.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/key_codes.h"
#include "platform/ui.h"

// The unit's state, one record, private to the unit.  UI thread only;
// keyboardReset() restores the start-of-run values, keymap filled
// (resetCore, tests).
struct KeyboardState {
    // The modifiers as the key handling last saw them (see routeKey()).
    bool shiftDown = false;
    bool ctrlDown = false;
    bool altDown = false;
    // Non-zero: the key is reported to the server when it has no other use.
    std::array<uint8_t, 256> keymap{};
    // Last mouse button pressed in the list: 0 none, 1 left, 2 right.  Set by
    // listClicked(); consumed by selectionStep().
    int listClicked = 0;
};

// The record as it stands, read-only.  UI thread only.
const KeyboardState& keyboardView();

// A mouse button pressed on an item of the list.  The front-end calls
// listClicked() on the press, before it selects the item and runs
// selectionStep(), which takes the click (a press below the items is no
// click, and must not call it).
enum class ListButton { Left = 1, Right = 2 };
void listClicked(ListButton button);

// Fills keymap with the reported keys: 10, 13, 32, 46, digits, letters, 93
// and the numeric keypad and F1-F24 (96-135), leaving out F4-F8 and F12,
// which are accelerator commands.  keyboardReset() calls it.
void fillKeymap();

// The modifier keys a platform reports as held with a key event.
struct KeyModifiers {
    bool shift = false, ctrl = false, alt = false;
    bool operator==(const KeyModifiers&) const = default;
};

// Shift, Ctrl or Alt, generic (16-18) or sided (160-165).
bool isModifierKey(int vk);

// One key event, as a front-end hands it to routeKey().
struct KeyEvent {
    int vk = 0;                           // virtual-key code; only 0-255 are ever consumed
    bool down = true;                     // false: key-up
    UiControl control = UiControl::List;  // the control with the focus
    // The modifiers the platform reports as held when the key went down or
    // up, before this event (a modifier's own press is not in its state, its
    // release is).  When present they replace the flags before anything
    // reads them.  Absent: the flags follow the modifier key events routed
    // here (Win32, whose controls see every modifier message but Alt's).
    std::optional<KeyModifiers> modifiers;
    // True when the platform's message loop has already offered the key to
    // the accelerator table and keeps system keys from the controls, as
    // Win32's TranslateAccelerator and WM_SYSKEYDOWN do.
    bool loopRouted = false;
    // Asked after an accelerator command ran (a command's modal dialog lets
    // the player close the main window): true when the window is gone, and
    // the key then goes no further.  Empty: the window stays.
    std::function<bool()> windowGone;
};

// The one key path of every front-end, in this order:
// 1. the modifier flags take the platform's state, when the event has one;
// 2. unless the loop did it: a key-down other than a modifier is offered to
//    the accelerator table with the flags, and its command runs; the key
//    still goes on;
// 3. unless the loop did it: with Alt down and Ctrl up, a key other than a
//    modifier is a system key, which the controls' handlers never see
//    (consumed: Alt+C runs its command and is not reported; Ctrl+Alt, which
//    is AltGr, is reported);
// 4. handleKeyDown() or handleKeyUp().
// True: consumed, the control must not act on the key.
bool routeKey(const KeyEvent& ev);

// The modifier keys held, for a platform that reports key-downs and key-ups
// but no modifier state of its own (the headless front-end's script): every
// key event updates it, whichever window has the keyboard, and
// heldModifiers() is then the state routeKey() takes.  Left and right keys
// count apart.
struct HeldKeys {
    std::array<bool, 256> down{};
};
// Call after the event was routed: the state routed is the one before it.
void heldKeysUpdate(HeldKeys* keys, int vk, bool down);
KeyModifiers heldModifiers(const HeldKeys& keys);

// A key-down of `key` (0-255; other values are never consumed) in `control`,
// with the modifier flags as they are.  True: consumed, the control must not
// act on it.  Front-ends call routeKey(), which ends here.
bool handleKeyDown(int key, UiControl control);
// The same for key-up; Tab's key-up moves the focus.
bool handleKeyUp(int key, UiControl control);

// Reports a key to the server on the current connection: the key code with
// 256 for Shift, 512 for Ctrl and 1024 for Alt, as "kem <code>|<menu id>|
// <selection>|<value>" when the menu shown has flag 8, else "key <code>".  An
// item without a value (or no selected item) gives an empty value field.
// Nothing is sent without a connection.  The line is never cut.
void sendKeyDown(int key, bool shift, bool ctrl, bool alt);
// The line sendKeyDown sends (keyReply with the current menu's context),
// without touching the connection.
std::string keyReportLine(int key, bool shift, bool ctrl, bool alt);

// Whether a character typed in the list goes on to the list's type-ahead:
// only in a menu whose flags include 2.  Otherwise the front-end drops it.
bool listAcceptsChar();
// listTypeAheadTarget() (menu/menus.h) finds the item a character selects.

// The main window lost the focus: Shift and Ctrl are forgotten (their key-ups
// may go to another window).  Alt is left as it is: on Win32, where the flags
// follow key messages, Alt is only ever down here as part of AltGr.
void mainWindowLostFocus();

// The list's own selection changed (a click, the list's type-ahead): takes the
// list's selection into the current menu, plays and announces the item, and
// chooses it after a click or in a menu with flag 4; a right click in a menu
// with flag 8 reports the Applications key instead.  Clears listClicked.
// Front-ends call it for selection changes made by the player only, never
// for those the client makes itself nor after a command.
void selectionStep();

// Modifiers up, keymap filled, no click.
void keyboardReset();
