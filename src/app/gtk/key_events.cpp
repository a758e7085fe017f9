#include "app/commands.h"
#include "app/gtk/gtk_frontend_internal.h"
#include "app/gtk/keys.h"
#include "menu/menus.h"

// ---------------------------------------------------------------------------
// Keys: the window's key events into the keyboard logic (keys.cpp gives
// their virtual-key codes), and the list's type-ahead.

bool GtkFrontEnd::focusedControlOf(UiControl* out) {
    if (!window_) return false;
    GtkWidget* f = gtk_window_get_focus(GTK_WINDOW(window_));
    if (!f) return false;
    if (f == history_) *out = UiControl::History;
    else if (f == chat_) *out = UiControl::Chat;
    else if (f == list_ || gtk_widget_is_ancestor(f, list_)) *out = UiControl::List;
    else return false;
    return true;
}

gboolean GtkFrontEnd::onKey(GdkEventKey* ev, bool down) {
    UiControl control;
    if (!focusedControlOf(&control)) return FALSE;
    guint unshifted = 0;
    GdkKeymap* keymap = gdk_keymap_get_for_display(gtk_widget_get_display(window_));
    gdk_keymap_translate_keyboard_state(keymap, ev->hardware_keycode, GdkModifierType(0), ev->group,
                                        &unshifted, nullptr, nullptr, nullptr);
    const int vk = vkFromGdk(ev->keyval, ev->hardware_keycode, unshifted);
    if (vk == 0) return FALSE;  // no virtual key: the control types it as usual
    // The modifiers from the event's own state, not from the modifier keys
    // seen earlier: with Alt+Tab the window manager takes the Tab and Alt's
    // release, and Alt would otherwise stay down here.  Mod1 is Alt under
    // X11 (AltGr is Mod5 and has no virtual key of its own here).  The
    // system keys (Alt without Ctrl) reach neither the controls' handlers
    // nor GTK's mnemonics: the accelerator commands are the shortcuts.
    KeyModifiers mods;
    mods.shift = (ev->state & GDK_SHIFT_MASK) != 0;
    mods.ctrl = (ev->state & GDK_CONTROL_MASK) != 0;
    mods.alt = (ev->state & GDK_MOD1_MASK) != 0;
    if (routeKey(KeyEvent{vk, down, control, mods, false, [this] { return window_ == nullptr; }}))
        return TRUE;
    if (!down) return FALSE;
    if (control == UiControl::List) {
        // Characters typed in the list reach it only in a menu with flag 2,
        // as a list box's type-ahead; otherwise they are dropped.
        gunichar u = gdk_keyval_to_unicode(ev->keyval);
        if (u >= 0x20 && !(ev->state & (GDK_CONTROL_MASK | GDK_MOD1_MASK))) {
            if (listAcceptsChar()) typeAhead(ev->keyval);
            return TRUE;
        }
    }
    return FALSE;
}

void GtkFrontEnd::typeAhead(guint keyval) {
    char buf[8];
    int n = g_unichar_to_utf8(gdk_keyval_to_unicode(keyval), buf);
    std::string c = utf8ToCp1252(std::string_view(buf, static_cast<size_t>(n)));
    if (c.empty()) return;
    int target = listTypeAheadTarget(c[0]);
    if (target < 0) return;
    listSelect(target);
    selectionStep();  // the player's change
}
