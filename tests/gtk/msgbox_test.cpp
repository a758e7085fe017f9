// The message boxes on a real display (run by with_desktop.sh): for each
// button set, icon and default-button flag, what the box shows and what
// Enter, Escape and the close box answer, as the other platform's message
// box does.  Keys reach the box as key events in GDK's queue, so GTK's own
// bindings (Enter on the focused button, Escape as "close") take part.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <string>
#include <utility>
#include <vector>

#include "app/gtk/gtk_frontend.h"

namespace {

struct GtkMessageBox : ::testing::Test {
    static void SetUpTestSuite() { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)); }
};

// The message box on the screen, if one is up.
GtkWidget* shownBox() {
    GtkWidget* found = nullptr;
    GList* tops = gtk_window_list_toplevels();
    for (GList* l = tops; l; l = l->next) {
        GtkWidget* w = GTK_WIDGET(l->data);
        if (GTK_IS_MESSAGE_DIALOG(w) && gtk_widget_get_mapped(w)) found = w;
    }
    g_list_free(tops);
    return found;
}

GtkWindow* mainWindow() {
    GtkWindow* found = nullptr;
    GList* tops = gtk_window_list_toplevels();
    for (GList* l = tops; l; l = l->next)
        if (g_strcmp0(gtk_window_get_title(GTK_WINDOW(l->data)), "Le Kordo") == 0)
            found = GTK_WINDOW(l->data);
    g_list_free(tops);
    return found;
}

// What a box showed, read once it was up.
struct Shown {
    std::vector<std::string> buttons;  // labels, in order
    std::string focused;               // the focused button's label
    GtkMessageType type = GTK_MESSAGE_OTHER;
    std::string title, accessibleName, text;
    GtkWindow* owner = nullptr;
    bool modal = false;
};

Shown readBox(GtkWidget* dlg) {
    Shown s;
    GtkWidget* area = gtk_dialog_get_action_area(GTK_DIALOG(dlg));
    GList* kids = gtk_container_get_children(GTK_CONTAINER(area));
    for (GList* l = kids; l; l = l->next)
        if (GTK_IS_BUTTON(l->data))
            s.buttons.emplace_back(gtk_button_get_label(GTK_BUTTON(l->data)));
    g_list_free(kids);
    GtkWidget* f = gtk_window_get_focus(GTK_WINDOW(dlg));
    if (f && GTK_IS_BUTTON(f)) s.focused = gtk_button_get_label(GTK_BUTTON(f));
    gchar* text = nullptr;
    g_object_get(dlg, "message-type", &s.type, "text", &text, nullptr);
    if (text) s.text = text;
    g_free(text);
    s.title = gtk_window_get_title(GTK_WINDOW(dlg));
    s.accessibleName = atk_object_get_name(gtk_widget_get_accessible(dlg));
    s.owner = gtk_window_get_transient_for(GTK_WINDOW(dlg));
    s.modal = gtk_window_get_modal(GTK_WINDOW(dlg));
    return s;
}

// One way of answering a box.
enum class Act { Enter, Escape, CloseBox };

// A key press and release queued as the display delivers them to the box,
// with the keyboard's keycode for `keyval`, as GTK's bindings need it.
void pressKey(GtkWidget* dlg, guint keyval) {
    GdkWindow* win = gtk_widget_get_window(dlg);
    GdkDisplay* display = gdk_window_get_display(win);
    GdkKeymapKey* entries = nullptr;
    gint n = 0;
    gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(display), keyval, &entries, &n);
    for (GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
        GdkEvent* ev = gdk_event_new(type);
        ev->key.window = GDK_WINDOW(g_object_ref(win));
        ev->key.time = GDK_CURRENT_TIME;
        ev->key.keyval = keyval;
        if (n > 0) {
            ev->key.hardware_keycode = static_cast<guint16>(entries[0].keycode);
            ev->key.group = static_cast<guint8>(entries[0].group);
        }
        gdk_event_set_device(ev, gdk_seat_get_keyboard(gdk_display_get_default_seat(display)));
        gdk_display_put_event(display, ev);
        gdk_event_free(ev);
    }
    g_free(entries);
}

void act(GtkWidget* dlg, Act a) {
    switch (a) {
        case Act::Enter:
            pressKey(dlg, GDK_KEY_Return);
            break;
        case Act::Escape:
            pressKey(dlg, GDK_KEY_Escape);
            break;
        case Act::CloseBox:
            gtk_window_close(GTK_WINDOW(dlg));
            break;
    }
}

constexpr int kStuck = 99;  // what a box that refused every act answers

// Answers the next box with `acts`, one per tick while it is up; `shown`
// gets what it showed.  An act that ends the box leaves the later ones
// undone, so `done` tells which acts the box refused.
struct Answerer {
    std::vector<Act> acts;
    size_t done = 0;
    Shown shown;
    bool seen = false;
    int idleTicks = 0;
    guint source = 0;

    explicit Answerer(std::vector<Act> a) : acts(std::move(a)) {
        source = g_timeout_add(60, tick, this);
    }
    ~Answerer() { g_source_remove(source); }

    static gboolean tick(gpointer p) {
        Answerer* self = static_cast<Answerer*>(p);
        GtkWidget* dlg = shownBox();
        if (!dlg) return G_SOURCE_CONTINUE;
        if (!self->seen) {
            self->seen = true;
            self->shown = readBox(dlg);
        }
        if (self->done < self->acts.size()) {
            act(dlg, self->acts[self->done++]);
        } else if (++self->idleTicks == 10) {
            // The box refused every act: a response of its own ends it, so
            // that the test fails instead of waiting for ever.
            gtk_dialog_response(GTK_DIALOG(dlg), kStuck);
        }
        return G_SOURCE_CONTINUE;
    }
};

struct BoxCase {
    const char* what;
    unsigned flags;
    std::vector<std::string> buttons;
    GtkMessageType type;
    const char* defaultButton;
    int onEnter;
    int onClose;  // Escape and the close box; 0: refused, the box stays up
};

// clang-format off
const std::vector<BoxCase> kBoxes = {
    {"OK", MBX_OK, {"_OK"}, GTK_MESSAGE_OTHER, "_OK", 1, 1},
    {"OK/Cancel, information", MBX_OKCANCEL | MBX_ICONINFORMATION,
     {"_OK", "_Annuler"}, GTK_MESSAGE_INFO, "_OK", 1, 2},
    {"OK/Cancel, second button default", MBX_OKCANCEL | 0x100,
     {"_OK", "_Annuler"}, GTK_MESSAGE_OTHER, "_Annuler", 2, 2},
    {"Abort/Retry/Ignore, error", MBX_ABORTRETRYIGNORE | MBX_ICONERROR,
     {"_Abandonner", "_Recommencer", "_Ignorer"}, GTK_MESSAGE_ERROR, "_Abandonner", 3, 0},
    {"Abort/Retry/Ignore, second button default", MBX_ABORTRETRYIGNORE | 0x100,
     {"_Abandonner", "_Recommencer", "_Ignorer"}, GTK_MESSAGE_OTHER, "_Recommencer", 4, 0},
    {"Abort/Retry/Ignore, third button default", MBX_ABORTRETRYIGNORE | 0x200,
     {"_Abandonner", "_Recommencer", "_Ignorer"}, GTK_MESSAGE_OTHER, "_Ignorer", 5, 0},
    {"Yes/No/Cancel, warning", MBX_YESNOCANCEL | MBX_ICONWARNING,
     {"_Oui", "_Non", "_Annuler"}, GTK_MESSAGE_WARNING, "_Oui", 6, 2},
    {"Yes/No/Cancel, question, second default", MBX_YESNOCANCEL | MBX_ICONQUESTION | 0x100,
     {"_Oui", "_Non", "_Annuler"}, GTK_MESSAGE_QUESTION, "_Non", 7, 2},
    {"Yes/No, question", MBX_YESNO | MBX_ICONQUESTION,
     {"_Oui", "_Non"}, GTK_MESSAGE_QUESTION, "_Oui", 6, 0},
    {"Yes/No, fourth button default: none, so the first", MBX_YESNO | 0x300,
     {"_Oui", "_Non"}, GTK_MESSAGE_OTHER, "_Oui", 6, 0},
    {"Retry/Cancel", MBX_RETRYCANCEL,
     {"_Recommencer", "_Annuler"}, GTK_MESSAGE_OTHER, "_Recommencer", 4, 2},
    {"unknown button set 6: OK", 6, {"_OK"}, GTK_MESSAGE_OTHER, "_OK", 1, 1},
};
// clang-format on

}  // namespace

TEST_F(GtkMessageBox, FlagsGiveButtonsIconDefaultAndResults) {
    GtkFrontEnd fe;
    ASSERT_TRUE(fe.createMainWindow());
    fe.showMainWindow();
    GtkWindow* main = mainWindow();
    ASSERT_NE(main, nullptr);

    for (const BoxCase& c : kBoxes) {
        SCOPED_TRACE(c.what);
        {
            Answerer a({Act::Enter});
            EXPECT_EQ(fe.messageBox("Texte", "Titre", c.flags), c.onEnter);
            const Shown& s = a.shown;
            EXPECT_EQ(s.buttons, c.buttons);
            EXPECT_EQ(s.focused, c.defaultButton);
            EXPECT_EQ(s.type, c.type);
            EXPECT_EQ(s.title, "Titre");
            EXPECT_EQ(s.accessibleName, "Titre");  // not the type's name ("Question")
            EXPECT_EQ(s.text, "Texte");
            EXPECT_EQ(s.owner, main);
            EXPECT_TRUE(s.modal);
        }
        if (c.onClose != 0) {
            for (Act a : {Act::Escape, Act::CloseBox}) {
                Answerer close({a});
                EXPECT_EQ(fe.messageBox("Texte", "Titre", c.flags), c.onClose)
                    << (a == Act::Escape ? "Escape" : "the close box");
            }
        } else {
            // Refused: the box stays up through both, and Enter answers it.
            Answerer a({Act::Escape, Act::CloseBox, Act::Enter});
            EXPECT_EQ(fe.messageBox("Texte", "Titre", c.flags), c.onEnter);
            EXPECT_EQ(a.done, 3u) << "Escape or the close box ended the box";
        }
    }
    fe.closeMainWindow();
}

TEST_F(GtkMessageBox, FatalErrorHasNoOwner) {
    GtkFrontEnd fe;
    ASSERT_TRUE(fe.createMainWindow());
    fe.showMainWindow();
    Answerer a({Act::Enter});
    fe.fatalError("Unable to open audio device");
    EXPECT_EQ(a.shown.title, "Fatal error");
    EXPECT_EQ(a.shown.text, "Unable to open audio device");
    EXPECT_EQ(a.shown.type, GTK_MESSAGE_ERROR);
    EXPECT_EQ(a.shown.buttons, std::vector<std::string>{"_OK"});
    EXPECT_EQ(a.shown.owner, nullptr);
    fe.closeMainWindow();
}
