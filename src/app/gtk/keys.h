// Translation of GDK key events into the Windows virtual-key codes the
// keyboard logic and the server work in.  Pure: no display needed, so the
// table is testable on its own.  Facts measured under X11 (evdev keycodes,
// pc105 layout).
#pragma once

// `keyval`: the event's GDK keyval; `hardware`: its X keycode;
// `unshifted`: the keyval the same key gives with no modifier (what
// gdk_keymap_translate_keyboard_state yields with state 0), 0 when unknown.
// Returns the virtual-key code (1-255), or 0 for a key with none.
int vkFromGdk(unsigned keyval, unsigned hardware, unsigned unshifted);
