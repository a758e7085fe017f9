// Key translation: the measured X11 facts (evdev keycodes, pc105) against
// the virtual-key codes the server receives.
#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>

#include "app/gtk/keys.h"

namespace {
struct KeyCase {
    const char* what;
    unsigned keyval, hardware, unshifted;
    int vk;
};

const KeyCase kCases[] = {
    {"F1", GDK_KEY_F1, 67, GDK_KEY_F1, 112},
    {"F12", GDK_KEY_F12, 96, GDK_KEY_F12, 123},
    {"F13 with an XF86 keyval", GDK_KEY_Tools, 191, GDK_KEY_Tools, 124},
    {"F24 with no keyval", 0, 202, 0, 135},
    {"keypad 5 with NumLock", GDK_KEY_KP_5, 84, GDK_KEY_KP_Begin, 101},
    {"keypad 5 without NumLock", GDK_KEY_KP_Begin, 84, GDK_KEY_KP_Begin, 101},
    {"keypad 7 as Home", GDK_KEY_KP_Home, 79, GDK_KEY_KP_Home, 103},
    {"keypad 0 as Insert", GDK_KEY_KP_Insert, 90, GDK_KEY_KP_Insert, 96},
    {"keypad Delete", GDK_KEY_KP_Delete, 91, GDK_KEY_KP_Delete, 46},
    {"keypad decimal point", GDK_KEY_KP_Decimal, 91, GDK_KEY_KP_Delete, 110},
    {"keypad multiply", GDK_KEY_KP_Multiply, 63, GDK_KEY_KP_Multiply, 106},
    {"keypad divide", GDK_KEY_KP_Divide, 106, GDK_KEY_KP_Divide, 111},
    {"keypad Enter", GDK_KEY_KP_Enter, 104, GDK_KEY_KP_Enter, 13},
    {"Delete", GDK_KEY_Delete, 119, GDK_KEY_Delete, 46},
    {"Menu", GDK_KEY_Menu, 135, GDK_KEY_Menu, 93},
    {"a", GDK_KEY_a, 38, GDK_KEY_a, 65},
    {"Shift+a", GDK_KEY_A, 38, GDK_KEY_a, 65},
    {"Shift+1 (!)", GDK_KEY_exclam, 10, GDK_KEY_1, 49},
    {"AZERTY 2 key typing e-acute", GDK_KEY_eacute, 11, GDK_KEY_eacute, 50},
    {"Shift+Tab", GDK_KEY_ISO_Left_Tab, 23, GDK_KEY_Tab, 9},
    {"Shift+semicolon", GDK_KEY_colon, 47, GDK_KEY_semicolon, 186},
    {"apostrophe", GDK_KEY_apostrophe, 48, GDK_KEY_apostrophe, 222},
    {"backslash", GDK_KEY_backslash, 51, GDK_KEY_backslash, 220},
    {"left Shift", GDK_KEY_Shift_L, 50, GDK_KEY_Shift_L, 16},
    {"right Ctrl", GDK_KEY_Control_R, 105, GDK_KEY_Control_R, 17},
    {"left Alt", GDK_KEY_Alt_L, 64, GDK_KEY_Alt_L, 18},
    {"Page Down", GDK_KEY_Page_Down, 117, GDK_KEY_Page_Down, 34},
    {"Escape", GDK_KEY_Escape, 9, GDK_KEY_Escape, 27},
    {"a dead key has no virtual key", GDK_KEY_dead_circumflex, 34, GDK_KEY_dead_circumflex, 0},
};
}  // namespace

TEST(GtkKeys, TranslatesToVirtualKeys) {
    for (const KeyCase& c : kCases)
        EXPECT_EQ(vkFromGdk(c.keyval, c.hardware, c.unshifted), c.vk) << c.what;
}
