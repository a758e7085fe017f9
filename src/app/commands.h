// The main window's commands (function keys and Alt shortcuts), the
// accelerator table that binds keys to them, the list's selection step and
// the layout of the four controls.  UI thread only.
#pragma once

#include <array>

// One accelerator: a virtual-key code with the exact modifier state it needs.
struct Accelerator {
    int vk;
    bool shift, ctrl, alt;
    int command;
};

// The 15 accelerators, in the order of the "ACCEL" resource.
extern const std::array<Accelerator, 15> kAccelerators;

// The command bound to `vk` with exactly these modifiers down (the keyboard
// module's own flags), or 0 when none is.  Front-ends offer every key-down to
// it first, run the command, and still give the key-down to the control.
int accelCommand(int vk, bool shift, bool ctrl, bool alt);

// Runs command `id` (1002-3001); other numbers do nothing.  Accelerator
// commands are not followed by the selection step.
void runCommand(int id);

// The list's own selection changed (a click, the list's type-ahead): takes the
// list's selection into the current menu, plays and announces the item, and
// chooses it after a click or in a menu with flag 4; a right click in a menu
// with flag 8 reports the Applications key instead.  Clears listClicked.
// Front-ends call it for selection changes made by the player only, never
// for those the client makes itself nor after a command.
void selectionStep();

// Audio operations of commands 1003-1007, installed by start-up once the
// sound module is in; tests install recording ones.  Null members do nothing.
struct CommandAudio {
    void (*setSoundVolume)(int n) = nullptr;  // +1 louder, -1 softer
    void (*setMusicVolume)(int n) = nullptr;
    void (*toggleMusicPause)() = nullptr;  // pauses or resumes, flips conf.muStopped
};
void setCommandAudio(const CommandAudio& audio);

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
