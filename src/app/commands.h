// The main window's commands (function keys and Alt shortcuts), the
// accelerator table that binds keys to them, and the layout of the four
// controls.  UI thread only.
#pragma once

#include <array>

#include "app/key_codes.h"

// The main window's command ids.  The numbers are those of the window's
// WM_COMMAND messages on Win32 and of the headless front-end's "command"
// input.
enum : int {
    CMD_SAVE_HISTORY = 1002,   // F12: the history to a text file
    CMD_SOUND_LOUDER = 1003,   // F8
    CMD_SOUND_SOFTER = 1004,   // F7
    CMD_MUSIC_LOUDER = 1005,   // F6
    CMD_MUSIC_SOFTER = 1006,   // F5
    CMD_MUSIC_PAUSE = 1007,    // Ctrl+F5: pause or resume the music
    CMD_VOICE_SWITCH = 1008,   // Ctrl+F6: the client's own voice on or off
    CMD_VOICE_FASTER = 1009,   // Ctrl+F8
    CMD_VOICE_SLOWER = 1010,   // Ctrl+F7
    CMD_STATISTICS = 1011,     // F4: connection statistics
    CMD_FOCUS_CHAT = 2020,     // Alt+C
    CMD_FOCUS_HISTORY = 2021,  // Alt+H
    CMD_FOCUS_LIST = 2022,     // Alt+L and Alt+M
    CMD_FORCE_CLOSE = 3001,    // Ctrl+Shift+Delete: drop the connection
};

// One accelerator: a virtual-key code with the exact modifier state it needs.
struct Accelerator {
    int vk;
    bool shift, ctrl, alt;
    int command;
};

// The accelerator table, the only one: the key path looks keys up in it on
// every front-end, and Win32 builds its accelerator table from it at run
// time.
extern const std::array<Accelerator, 15> kAccelerators;

// The command bound to `vk` with exactly these modifiers down, or 0 when none
// is.  routeKey() offers every key-down to it first, runs the command, and
// still gives the key-down to the control.
int accelCommand(int vk, bool shift, bool ctrl, bool alt);

// Runs command `id` (one of CMD_*); other numbers do nothing.  Accelerator
// commands are not followed by the selection step.
void runCommand(int id);

// A control's place in the main window's client area, in pixels.
struct LayoutRect {
    int left, top, width, height;
    bool operator==(const LayoutRect&) const = default;
};
struct MainLayout {
    LayoutRect history, list, chatLabel, chat;
};
// The layout of a client area W x H (any size: small ones give negative
// widths, which the front-ends pass on as the window system takes them).
MainLayout mainLayout(int W, int H);
