#include "app/gtk/keys.h"

#include <gdk/gdkkeysyms.h>

namespace {
// Keypad keys by X keycode, so that NumLock does not change what the server
// receives (KP_4 and KP_Left are the same key).
int keypadByHardware(unsigned hw) {
    switch (hw) {
        case 90: return 96;   // 0 / Insert
        case 87: return 97;   // 1 / End
        case 88: return 98;   // 2 / Down
        case 89: return 99;   // 3 / Next
        case 83: return 100;  // 4 / Left
        case 84: return 101;  // 5 / Begin
        case 85: return 102;  // 6 / Right
        case 79: return 103;  // 7 / Home
        case 80: return 104;  // 8 / Up
        case 81: return 105;  // 9 / Prior
        default: return 0;
    }
}

// US punctuation keys, by the key's unshifted keyval (Shift+; is still 186).
int punctuation(unsigned k) {
    switch (k) {
        case ';': return 186;
        case '=': return 187;
        case ',': return 188;
        case '-': return 189;
        case '.': return 190;
        case '/': return 191;
        case '`': return 192;
        case '[': return 219;
        case '\\': return 220;
        case ']': return 221;
        case '\'': return 222;
        default: return 0;
    }
}

int fromKeyval(unsigned k) {
    if (k >= GDK_KEY_F1 && k <= GDK_KEY_F24) return 112 + static_cast<int>(k - GDK_KEY_F1);
    switch (k) {
        case GDK_KEY_BackSpace: return 8;
        case GDK_KEY_Tab:
        case GDK_KEY_ISO_Left_Tab: return 9;
        case GDK_KEY_Return:
        case GDK_KEY_KP_Enter: return 13;
        case GDK_KEY_Shift_L:
        case GDK_KEY_Shift_R: return 16;
        case GDK_KEY_Control_L:
        case GDK_KEY_Control_R: return 17;
        case GDK_KEY_Alt_L:
        case GDK_KEY_Alt_R:
        case GDK_KEY_Meta_L:
        case GDK_KEY_Meta_R: return 18;
        case GDK_KEY_Pause: return 19;
        case GDK_KEY_Caps_Lock: return 20;
        case GDK_KEY_Escape: return 27;
        case GDK_KEY_space: return 32;
        case GDK_KEY_Page_Up: return 33;
        case GDK_KEY_Page_Down: return 34;
        case GDK_KEY_End: return 35;
        case GDK_KEY_Home: return 36;
        case GDK_KEY_Left: return 37;
        case GDK_KEY_Up: return 38;
        case GDK_KEY_Right: return 39;
        case GDK_KEY_Down: return 40;
        case GDK_KEY_Print: return 44;
        case GDK_KEY_Insert: return 45;
        case GDK_KEY_Delete:
        case GDK_KEY_KP_Delete: return 46;
        case GDK_KEY_Super_L: return 91;
        case GDK_KEY_Super_R: return 92;
        case GDK_KEY_Menu: return 93;
        case GDK_KEY_KP_Multiply: return 106;
        case GDK_KEY_KP_Add: return 107;
        case GDK_KEY_KP_Separator: return 108;
        case GDK_KEY_KP_Subtract: return 109;
        case GDK_KEY_KP_Decimal: return 110;
        case GDK_KEY_KP_Divide: return 111;
        case GDK_KEY_Num_Lock: return 144;
        case GDK_KEY_Scroll_Lock: return 145;
        default: return 0;
    }
}

int letterOrDigit(unsigned k) {
    if (k >= 'a' && k <= 'z') return static_cast<int>(k - 'a' + 'A');
    if (k >= 'A' && k <= 'Z') return static_cast<int>(k);
    if (k >= '0' && k <= '9') return static_cast<int>(k);
    return 0;
}
}  // namespace

int vkFromGdk(unsigned keyval, unsigned hw, unsigned unshifted) {
    // F13-F24 carry XF86 keyvals (or none) under X; only the keycode is sure.
    if (hw >= 191 && hw <= 202) return 124 + static_cast<int>(hw - 191);
    if (int vk = keypadByHardware(hw)) return vk;
    // Keypad Delete (91) is the decimal point with NumLock on.
    if (hw == 91) return keyval == GDK_KEY_KP_Delete ? 46 : 110;
    if (hw == 119) return 46;
    if (int vk = fromKeyval(keyval)) return vk;
    // Letters and digits: the unshifted key, so Shift+1 is still 49 and an
    // upper-case letter is its key; then the key as typed.
    if (int vk = letterOrDigit(unshifted)) return vk;
    if (int vk = letterOrDigit(keyval)) return vk;
    // The digit row on layouts where the digits need Shift (AZERTY).
    if (hw >= 10 && hw <= 18) return static_cast<int>('1' + (hw - 10));
    if (hw == 19) return '0';
    if (int vk = punctuation(unshifted)) return vk;
    return punctuation(keyval);
}
