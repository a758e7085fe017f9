#include "app/gtk/gtk_frontend_internal.h"
#include "audio/sound.h"

// ---------------------------------------------------------------------------
// Dialogs, all modal to the main window when there is one.

namespace {
struct BoxButton {
    const char* label;
    int result;
};

// What a modal dialog run by runNested ends with.
struct Modal {
    bool done = false;
    int response = 0;
    std::function<bool(int)> accept;  // may refuse a response (keeps the dialog open)
};

void onModalResponse(GtkDialog*, gint response, gpointer data) {
    Modal* m = static_cast<Modal*>(data);
    if (m->accept && !m->accept(response)) return;
    m->response = response;
    m->done = true;
}

// The close box and Escape arrive as a delete event; the dialog stays alive
// (it is destroyed by its owner) and answers it as a response.
gboolean onModalDelete(GtkWidget* w, GdkEvent*, gpointer) {
    gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_DELETE_EVENT);
    return TRUE;
}
}  // namespace

// Destroys a modal dialog and gives the activation back to its owner, as a
// modal box ending does on the other platform: there the owner is active
// again before the box returns.  A window manager usually does it here too,
// but not at once and not always (there may be none); meanwhile the main
// window is inactive and the server's ordinary "say" lines, typically its
// answer to the dialog, would go unspoken.  So the activation is asked for
// and awaited, for at most half a second, before the caller goes on.
void GtkFrontEnd::closeModal(GtkWidget* dlg, GtkWidget* owner) {
    gtk_widget_destroy(dlg);
    if (!owner || !gtk_widget_get_visible(owner)) return;
    gtk_window_present(GTK_WINDOW(owner));
    bool late = false;
    const guint timer = g_timeout_add(
        500,
        [](gpointer flag) -> gboolean {
            *static_cast<bool*>(flag) = true;
            return G_SOURCE_REMOVE;
        },
        &late);
    while (!late && !quitRequested_ && !gtk_window_is_active(GTK_WINDOW(owner)))
        g_main_context_iteration(nullptr, TRUE);
    if (!late) g_source_remove(timer);
}

int GtkFrontEnd::messageBox(const std::string& text, const std::string& title, unsigned flags) {
    if (!isUiThread()) {
        // GTK allows no widget off the UI thread: a box asked for elsewhere
        // runs there while the asking thread waits.
        int r = 0;
        runOnUiThread([&] { r = messageBox(text, title, flags); });
        return r;
    }
    return showMessageBox(text, title, flags, window_);
}

void GtkFrontEnd::fatalError(const std::string& text) {
    // Start-up failures have no owner, as the window may not be usable.
    showMessageBox(text, "Fatal error", MBX_ICONERROR, nullptr);
}

int GtkFrontEnd::showMessageBox(const std::string& text, const std::string& title, unsigned flags,
                                GtkWidget* owner) {
    static const BoxButton kOk{"_OK", 1}, kCancel{"_Annuler", 2}, kAbort{"_Abandonner", 3},
        kRetry{"_Recommencer", 4}, kIgnore{"_Ignorer", 5}, kYes{"_Oui", 6}, kNo{"_Non", 7};
    std::vector<BoxButton> buttons;
    switch (flags & 0xF) {
        case MBX_OKCANCEL: buttons = {kOk, kCancel}; break;
        case MBX_ABORTRETRYIGNORE: buttons = {kAbort, kRetry, kIgnore}; break;
        case MBX_YESNOCANCEL: buttons = {kYes, kNo, kCancel}; break;
        case MBX_YESNO: buttons = {kYes, kNo}; break;
        case MBX_RETRYCANCEL: buttons = {kRetry, kCancel}; break;
        default: buttons = {kOk}; break;
    }
    GtkMessageType type = GTK_MESSAGE_OTHER;
    switch (flags & 0xF0) {
        case MBX_ICONERROR: type = GTK_MESSAGE_ERROR; break;
        case MBX_ICONQUESTION: type = GTK_MESSAGE_QUESTION; break;
        case MBX_ICONWARNING: type = GTK_MESSAGE_WARNING; break;
        case MBX_ICONINFORMATION: type = GTK_MESSAGE_INFO; break;
        default: break;
    }
    GtkWidget* dlg = gtk_message_dialog_new(owner ? GTK_WINDOW(owner) : nullptr, GTK_DIALOG_MODAL,
                                            type, GTK_BUTTONS_NONE, "%s", cp1252ToUtf8(text).c_str());
    gtk_window_set_title(GTK_WINDOW(dlg), cp1252ToUtf8(title).c_str());
    // An alert is named after its type ("Question") unless told otherwise;
    // the screen reader should say the server's title.
    setAccessibleName(dlg, cp1252ToUtf8(title));
    for (const BoxButton& b : buttons) gtk_dialog_add_button(GTK_DIALOG(dlg), b.label, b.result);
    // Default button: MB_DEFBUTTON2..4 are 0x100..0x300.
    size_t def = (flags >> 8) & 0xF;
    if (def >= buttons.size()) def = 0;
    gtk_dialog_set_default_response(GTK_DIALOG(dlg), buttons[def].result);
    if (GtkWidget* w = gtk_dialog_get_widget_for_response(GTK_DIALOG(dlg), buttons[def].result))
        gtk_widget_grab_focus(w);

    // Escape and the close box answer Cancel where there is one, OK in a box
    // with OK alone, and are refused otherwise.
    int closeResult = 0;
    for (const BoxButton& b : buttons)
        if (b.result == 2) closeResult = 2;
    if (buttons.size() == 1) closeResult = buttons[0].result;
    Modal m;
    m.accept = [closeResult](int r) { return r > 0 || closeResult != 0; };
    g_signal_connect(dlg, "response", G_CALLBACK(onModalResponse), &m);
    g_signal_connect(dlg, "delete-event", G_CALLBACK(onModalDelete), nullptr);
    gtk_widget_show_all(dlg);
    runNested(m.done);
    closeModal(dlg, owner);
    if (!m.done) return 0;
    return m.response > 0 ? m.response : closeResult;
}

bool GtkFrontEnd::inputBox(const std::string& title, const std::string& prompt,
                           const std::string& initial, std::string* answer) {
    GtkWidget* dlg = gtk_dialog_new();
    gtk_window_set_title(GTK_WINDOW(dlg), cp1252ToUtf8(title).c_str());
    if (window_) gtk_window_set_transient_for(GTK_WINDOW(dlg), GTK_WINDOW(window_));
    gtk_window_set_modal(GTK_WINDOW(dlg), TRUE);
    GtkWidget* box = gtk_dialog_get_content_area(GTK_DIALOG(dlg));
    gtk_container_set_border_width(GTK_CONTAINER(box), 8);
    gtk_box_set_spacing(GTK_BOX(box), 6);
    GtkWidget* label = gtk_label_new(cp1252ToUtf8(prompt).c_str());
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    GtkWidget* entry = gtk_entry_new();
    gtk_entry_set_text(GTK_ENTRY(entry), cp1252ToUtf8(initial).c_str());
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    gtk_entry_set_width_chars(GTK_ENTRY(entry), 40);
    gtk_label_set_mnemonic_widget(GTK_LABEL(label), entry);  // the prompt names the entry
    gtk_box_pack_start(GTK_BOX(box), label, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), entry, FALSE, FALSE, 0);
    gtk_dialog_add_button(GTK_DIALOG(dlg), mnemonicLabel("&OK").c_str(), 1);
    gtk_dialog_add_button(GTK_DIALOG(dlg), mnemonicLabel("A&nnuler").c_str(), 2);
    gtk_dialog_set_default_response(GTK_DIALOG(dlg), 1);
    Modal m;
    g_signal_connect(dlg, "response", G_CALLBACK(onModalResponse), &m);
    g_signal_connect(dlg, "delete-event", G_CALLBACK(onModalDelete), nullptr);
    gtk_widget_show_all(dlg);
    gtk_widget_grab_focus(entry);
    runNested(m.done);
    const bool ok = m.done && m.response == 1;
    if (ok) *answer = utf8ToCp1252(gtk_entry_get_text(GTK_ENTRY(entry)));
    closeModal(dlg, window_);
    return ok;
}

bool GtkFrontEnd::saveFileDialog(std::string* path) {
    GtkWidget* dlg = gtk_file_chooser_dialog_new(
        "Enregistrer sous", window_ ? GTK_WINDOW(window_) : nullptr, GTK_FILE_CHOOSER_ACTION_SAVE,
        "_Annuler", GTK_RESPONSE_CANCEL, "_Enregistrer", GTK_RESPONSE_ACCEPT, nullptr);
    gtk_window_set_modal(GTK_WINDOW(dlg), TRUE);
    gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(dlg), TRUE);
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, "Fichier texte");
    gtk_file_filter_add_pattern(filter, "*.txt");
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(dlg), filter);  // takes the reference
    gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dlg), "");
    gtk_dialog_set_default_response(GTK_DIALOG(dlg), GTK_RESPONSE_ACCEPT);
    Modal m;
    g_signal_connect(dlg, "response", G_CALLBACK(onModalResponse), &m);
    g_signal_connect(dlg, "delete-event", G_CALLBACK(onModalDelete), nullptr);
    gtk_widget_show_all(dlg);
    runNested(m.done);
    bool ok = false;
    if (m.done && m.response == GTK_RESPONSE_ACCEPT) {
        // The file system's own bytes: the caller opens the file with them.
        if (gchar* f = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dlg))) {
            *path = f;
            g_free(f);
            ok = true;
        }
    }
    closeModal(dlg, window_);
    return ok;
}

void GtkFrontEnd::beep(int hz, int ms) {
    // The caller waits for the tone, as for the system beep.
    playTone(hz, ms);
    if (ms > 0) g_usleep(static_cast<gulong>(ms) * 1000);
}
