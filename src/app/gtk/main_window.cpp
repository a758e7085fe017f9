#include <glib-unix.h>
#include <signal.h>

#include <algorithm>

#include "app/commands.h"
#include "app/gtk/gtk_frontend_internal.h"

// ---------------------------------------------------------------------------
// Main window.

GtkFrontEnd::~GtkFrontEnd() {
    markGone();
    while (g_source_remove_by_user_data(this)) {
    }
    for (GMainLoop* l : loops_) g_main_loop_unref(l);
}

void GtkFrontEnd::applyFont() {
    // A sans face of 14 points at the display's resolution: the cell height
    // in pixels is 14 x dpi / 72, rounded to nearest.
    GdkScreen* screen = gdk_screen_get_default();
    double dpi = screen ? gdk_screen_get_resolution(screen) : -1;
    if (dpi <= 0) dpi = 96;
    const int px = static_cast<int>((14 * dpi + 36) / 72);
    std::string css = "* { font-family: Sans; font-size: " + std::to_string(px) + "px; }";
    GtkCssProvider* p = gtk_css_provider_new();
    gtk_css_provider_load_from_data(p, css.c_str(), -1, nullptr);
    if (screen)
        gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(p),
                                                  GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(p);
}

bool GtkFrontEnd::createMainWindow() {
    if (!gdk_screen_get_default()) return false;
    applyFont();

    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window_), "Le Kordo");
    gtk_window_set_default_size(GTK_WINDOW(window_), 800, 600);

    // A GtkLayout asks for no size of its own, so the window can shrink below
    // the sizes the controls were last given.
    area_ = gtk_layout_new(nullptr, nullptr);
    gtk_container_add(GTK_CONTAINER(window_), area_);

    history_ = gtk_text_view_new();
    gtk_text_view_set_editable(GTK_TEXT_VIEW(history_), FALSE);
    gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(history_), TRUE);  // caret reading
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(history_), GTK_WRAP_WORD_CHAR);
    gtk_text_view_set_left_margin(GTK_TEXT_VIEW(history_), 3);
    historyScroll_ = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(historyScroll_), GTK_POLICY_NEVER,
                                   GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(historyScroll_), GTK_SHADOW_IN);
    gtk_container_add(GTK_CONTAINER(historyScroll_), history_);
    setAccessibleName(history_, "Historique");

    list_ = gtk_list_box_new();
    gtk_list_box_set_selection_mode(GTK_LIST_BOX(list_), GTK_SELECTION_SINGLE);
    gtk_list_box_set_activate_on_single_click(GTK_LIST_BOX(list_), FALSE);
    gtk_widget_set_can_focus(list_, TRUE);  // an empty list still takes the focus
    listScroll_ = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(listScroll_), GTK_POLICY_AUTOMATIC,
                                   GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(listScroll_), GTK_SHADOW_IN);
    gtk_container_add(GTK_CONTAINER(listScroll_), list_);
    setAccessibleName(list_, "Menu");

    chatLabel_ = gtk_label_new_with_mnemonic(mnemonicLabel("&Chat: ").c_str());
    gtk_label_set_xalign(GTK_LABEL(chatLabel_), 0);
    chat_ = gtk_entry_new();
    gtk_entry_set_max_length(GTK_ENTRY(chat_), 3999);
    gtk_entry_set_width_chars(GTK_ENTRY(chat_), 1);
    gtk_label_set_mnemonic_widget(GTK_LABEL(chatLabel_), chat_);

    // Creation order is the order of the controls; the focus chain of GTK is
    // not used (Tab is the keyboard logic's).
    gtk_layout_put(GTK_LAYOUT(area_), historyScroll_, 10, 10);
    gtk_layout_put(GTK_LAYOUT(area_), listScroll_, 10, 10);
    gtk_layout_put(GTK_LAYOUT(area_), chatLabel_, 10, 10);
    gtk_layout_put(GTK_LAYOUT(area_), chat_, 60, 10);

    g_signal_connect(window_, "key-press-event", G_CALLBACK(GtkFrontEndSignals::keyPress), this);
    g_signal_connect(window_, "key-release-event", G_CALLBACK(GtkFrontEndSignals::keyRelease), this);
    g_signal_connect(window_, "focus-in-event", G_CALLBACK(GtkFrontEndSignals::focusIn), this);
    g_signal_connect(window_, "focus-out-event", G_CALLBACK(GtkFrontEndSignals::focusOut), this);
    g_signal_connect(window_, "notify::is-active", G_CALLBACK(GtkFrontEndSignals::activeChanged), this);
    g_signal_connect(window_, "destroy", G_CALLBACK(GtkFrontEndSignals::destroy), this);
    g_signal_connect(area_, "size-allocate", G_CALLBACK(GtkFrontEndSignals::allocate), this);
    g_signal_connect(list_, "row-selected", G_CALLBACK(GtkFrontEndSignals::rowSelected), this);
    g_signal_connect(list_, "button-press-event", G_CALLBACK(GtkFrontEndSignals::listButton), this);

    openCalls();
    return true;
}

void GtkFrontEnd::showMainWindow() {
    if (!window_) return;
    gtk_widget_show_all(window_);
    gtk_window_present(GTK_WINDOW(window_));
    GtkAllocation a;
    gtk_widget_get_allocation(area_, &a);
    if (a.width > 1) layout(a.width, a.height);
}

void GtkFrontEnd::onAllocate(int w, int h) {
    if (w == layoutW_ && h == layoutH_) return;
    layoutW_ = w;
    layoutH_ = h;
    // Size requests made during an allocation are not honoured until the
    // next one: place the controls from an idle that runs before GTK's own
    // resize pass.
    if (!layoutPending_) {
        layoutPending_ = true;
        g_idle_add_full(G_PRIORITY_HIGH_IDLE, GtkFrontEndSignals::layoutIdle, this, nullptr);
    }
}

void GtkFrontEnd::layout(int w, int h) {
    layoutW_ = w;
    layoutH_ = h;
    const MainLayout m = mainLayout(w, h);
    auto place = [this](GtkWidget* c, const LayoutRect& r) {
        gtk_layout_move(GTK_LAYOUT(area_), c, r.left, r.top);
        gtk_widget_set_size_request(c, std::max(r.width, 1), std::max(r.height, 1));
    };
    place(historyScroll_, m.history);
    place(listScroll_, m.list);
    place(chatLabel_, m.chatLabel);
    place(chat_, m.chat);
    // Every size change puts the focus back on the list.
    setFocus(UiControl::List);
}

void GtkFrontEnd::forgetWidgets() {
    window_ = area_ = historyScroll_ = history_ = listScroll_ = list_ = chatLabel_ = chat_ = nullptr;
    rows_.clear();
    selectedRow_ = nullptr;
}

void GtkFrontEnd::onDestroy() {
    if (closing_) return;
    // The player closed the window: no UI-thread call runs from now on, then
    // the client says "quit" and asks the loop to end.
    closing_ = true;
    markGone();
    forgetWidgets();
    mainWindowDestroyed();
}

void GtkFrontEnd::closeMainWindow() {
    markGone();
    if (closing_) return;
    closing_ = true;
    GtkWidget* w = window_;
    forgetWidgets();
    if (w) gtk_widget_destroy(w);
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

int GtkFrontEnd::runMessageLoop() {
    if (!quitRequested_) {
        GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
        loops_.push_back(loop);
        g_main_loop_run(loop);
        loops_.pop_back();
        g_main_loop_unref(loop);
    }
    return status_;
}

void GtkFrontEnd::quitLoops() {
    for (GMainLoop* l : loops_) g_main_loop_quit(l);
}

void GtkFrontEnd::requestQuit(int status) {
    status_ = status;
    quitRequested_ = true;
    quitLoops();
}

// SIGTERM (a logout, kill), SIGINT (Ctrl+C in the terminal the client was
// started from) and SIGHUP (that terminal closed) end the client as the
// player closing the main window does: "quit" to the server, then the
// ordinary shut-down, which writes the configuration and closes the log.
// GLib's signal sources keep the handler itself async-signal-safe (it only
// wakes the main context); the close runs here, on the UI thread, from the
// main loop or from whichever dialog's nested loop is running.  A signal the
// client was started with ignored (nohup, for SIGHUP) stays ignored.
void GtkFrontEnd::closeOnTerminationSignals() {
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction now {};
        if (sigaction(sig, nullptr, &now) == 0 && now.sa_handler == SIG_IGN) continue;
        signalSources_.push_back(g_unix_signal_add(sig, GtkFrontEndSignals::terminationSignal, this));
    }
}

void GtkFrontEnd::onTerminationSignal() {
    // One close is enough: the sources go (this one as its callback
    // returns), and with them GLib puts the default actions back, so that a
    // second signal ends the process at once should the close itself hang.
    GSource* current = g_main_current_source();
    for (guint id : signalSources_) {
        GSource* s = g_main_context_find_source_by_id(nullptr, id);
        if (s && s != current) g_source_destroy(s);
    }
    signalSources_.clear();
    if (quitRequested_ || closing_) return;  // already on the way out
    closeClient();
}

void GtkFrontEnd::runNested(const bool& done) {
    // One dispatch at a time, so that `done`, set by a signal handler, and a
    // quit request are seen at once without anyone quitting a loop object.
    while (!done && !quitRequested_) g_main_context_iteration(nullptr, TRUE);
}

void GtkFrontEnd::setTitle(const std::string& title) {
    if (window_) gtk_window_set_title(GTK_WINDOW(window_), cp1252ToUtf8(title).c_str());
}
