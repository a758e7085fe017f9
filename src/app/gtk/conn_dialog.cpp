#include "app/gtk/gtk_frontend_internal.h"
#include "net/conndlg.h"

// ---------------------------------------------------------------------------
// Connection dialog: renders the ConnDialog record; the conndlg functions
// decide everything.

namespace {
struct ConnView {
    ConnDialog* d;
    GtkWidget* dialog;
    GtkWidget* server;
    GtkWidget* login;
    GtkWidget* password;
    GtkWidget* connect;
    bool syncing = false;  // the view is being filled from the record
    bool done = false;

    void fill() {
        syncing = true;
        gtk_combo_box_set_active(GTK_COMBO_BOX(server), d->selection);
        gtk_entry_set_text(GTK_ENTRY(login), cp1252ToUtf8(d->login).c_str());
        gtk_entry_set_text(GTK_ENTRY(password), cp1252ToUtf8(d->password).c_str());
        syncing = false;
    }
    void focus() {
        GtkWidget* w = login;
        switch (d->focus) {
            case ConnDlgControl::Server: w = server; break;
            case ConnDlgControl::Login: w = login; break;
            case ConnDlgControl::Password: w = password; break;
            case ConnDlgControl::Connect: w = connect; break;
            default: break;
        }
        gtk_widget_grab_focus(w);
    }
    void finishIfClosed() {
        if (!d->open) done = true;
    }
};

void connServerChanged(GtkComboBox* c, gpointer p) {
    ConnView* v = static_cast<ConnView*>(p);
    if (v->syncing) return;
    connDlgSelectionChanged(v->d, gtk_combo_box_get_active(c));
    v->fill();
}
void connLoginChanged(GtkEditable* e, gpointer p) {
    ConnView* v = static_cast<ConnView*>(p);
    if (!v->syncing) v->d->login = utf8ToCp1252(gtk_entry_get_text(GTK_ENTRY(e)));
}
void connPasswordChanged(GtkEditable* e, gpointer p) {
    ConnView* v = static_cast<ConnView*>(p);
    if (!v->syncing) v->d->password = utf8ToCp1252(gtk_entry_get_text(GTK_ENTRY(e)));
}
void connConnect(GtkWidget*, gpointer p) {
    ConnView* v = static_cast<ConnView*>(p);
    if (!connDlgConnect(v->d)) v->focus();
    v->finishIfClosed();
}
void connLost(GtkWidget*, gpointer p) { connDlgLostPassword(*static_cast<ConnView*>(p)->d); }
void connCreate(GtkWidget*, gpointer p) { connDlgCreateAccount(*static_cast<ConnView*>(p)->d); }
gboolean connDelete(GtkWidget*, GdkEvent*, gpointer p) {
    ConnView* v = static_cast<ConnView*>(p);
    connDlgCancel(v->d);
    v->finishIfClosed();
    return TRUE;
}

GtkWidget* gridLabel(GtkWidget* grid, const char* text, int row, GtkWidget* target) {
    GtkWidget* l = gtk_label_new_with_mnemonic(mnemonicLabel(text).c_str());
    gtk_label_set_xalign(GTK_LABEL(l), 0);
    gtk_label_set_mnemonic_widget(GTK_LABEL(l), target);
    gtk_grid_attach(GTK_GRID(grid), l, 0, row, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), target, 1, row, 1, 1);
    gtk_widget_set_hexpand(target, TRUE);
    return l;
}
}  // namespace

void GtkFrontEnd::runConnectionDialog(ConnDialog* d) {
    namespace t = conndlg_text;
    ConnView v{};
    v.d = d;
    v.dialog = gtk_dialog_new();
    gtk_window_set_title(GTK_WINDOW(v.dialog), cp1252ToUtf8(t::kTitle).c_str());
    if (window_) gtk_window_set_transient_for(GTK_WINDOW(v.dialog), GTK_WINDOW(window_));
    gtk_window_set_modal(GTK_WINDOW(v.dialog), TRUE);
    gtk_window_set_default_size(GTK_WINDOW(v.dialog), 600, -1);

    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 8);
    gtk_container_set_border_width(GTK_CONTAINER(grid), 8);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(v.dialog))), grid, TRUE, TRUE, 0);

    v.server = gtk_combo_box_text_new();
    for (const std::string& name : d->serverNames)
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(v.server), cp1252ToUtf8(name).c_str());
    v.login = gtk_entry_new();
    v.password = gtk_entry_new();
    gtk_entry_set_max_length(GTK_ENTRY(v.login), kMaxCredentialLength);
    gtk_entry_set_max_length(GTK_ENTRY(v.password), kMaxCredentialLength);
    gtk_entry_set_visibility(GTK_ENTRY(v.password), FALSE);
    gtk_entry_set_input_purpose(GTK_ENTRY(v.password), GTK_INPUT_PURPOSE_PASSWORD);
    gridLabel(grid, t::kServer, 0, v.server);
    gridLabel(grid, t::kLogin, 1, v.login);
    gridLabel(grid, t::kPassword, 2, v.password);

    GtkWidget* buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_END);
    gtk_box_set_spacing(GTK_BOX(buttons), 6);
    v.connect = gtk_button_new_with_mnemonic(mnemonicLabel(t::kConnect).c_str());
    GtkWidget* lost = gtk_button_new_with_mnemonic(mnemonicLabel(t::kLostPassword).c_str());
    GtkWidget* create = gtk_button_new_with_mnemonic(mnemonicLabel(t::kCreateAccount).c_str());
    gtk_container_add(GTK_CONTAINER(buttons), v.connect);
    gtk_container_add(GTK_CONTAINER(buttons), lost);
    gtk_container_add(GTK_CONTAINER(buttons), create);
    gtk_grid_attach(GTK_GRID(grid), buttons, 0, 3, 2, 1);
    gtk_widget_set_can_default(v.connect, TRUE);

    v.fill();
    g_signal_connect(v.server, "changed", G_CALLBACK(connServerChanged), &v);
    g_signal_connect(v.login, "changed", G_CALLBACK(connLoginChanged), &v);
    g_signal_connect(v.password, "changed", G_CALLBACK(connPasswordChanged), &v);
    // Enter in either edit is the default button.
    g_signal_connect(v.login, "activate", G_CALLBACK(connConnect), &v);
    g_signal_connect(v.password, "activate", G_CALLBACK(connConnect), &v);
    g_signal_connect(v.connect, "clicked", G_CALLBACK(connConnect), &v);
    g_signal_connect(lost, "clicked", G_CALLBACK(connLost), &v);
    g_signal_connect(create, "clicked", G_CALLBACK(connCreate), &v);
    g_signal_connect(v.dialog, "delete-event", G_CALLBACK(connDelete), &v);

    gtk_widget_show_all(v.dialog);
    gtk_widget_grab_default(v.connect);
    v.focus();
    v.finishIfClosed();
    runNested(v.done);
    // As the other dialogs: the server's first lines after login are plain
    // "say" lines, spoken only once the main window is active again.
    closeModal(v.dialog, window_);
}
