#include "app/gtk/gtk_frontend.h"

#include <algorithm>
#include <chrono>
#include <deque>

#include "app/commands.h"
#include "app/gtk/keys.h"
#include "app/keyboard.h"
#include "audio/sound.h"
#include "net/conndlg.h"
#include "platform/text.h"

// ---------------------------------------------------------------------------
// UI-thread call.
//
// A call from another thread joins the hub's queue and waits on the hub's
// condition until the UI thread has run it or the window has gone.  The UI
// thread drains the queue from an idle source on the default main context,
// so calls also run inside the nested loops of modal dialogs.
//
// g_idle_add is used rather than g_main_context_invoke: invoke runs the
// function on the calling thread whenever it can acquire the context, which
// happens while the UI thread is between loops (start-up, shut-down), and
// widgets must never be touched off the UI thread.
//
// A flood of calls (one per history line) is drained in slices: after each
// task the UI thread waits briefly for the caller's next call instead of
// going back to the loop, where GTK's idle text layout would run between
// every two lines.  A slice ends after kSlice, so input, redraw and layout
// and redraw still get their turn during a flood.

namespace {
constexpr auto kNextCallWait = std::chrono::microseconds(1000);
constexpr auto kSlice = std::chrono::milliseconds(20);
}  // namespace

struct GtkFrontEnd::CallHub {
    std::mutex mu;
    std::condition_variable doneCv;  // callers: a task ran or was dropped
    std::condition_variable workCv;  // the UI thread: a call was queued
    bool open = false;               // UI-thread calls accepted
    bool scheduled = false;          // a drain source will look at the queue
    std::deque<std::shared_ptr<Call>> queue;
};

struct GtkFrontEnd::Call {
    const std::function<void()>* task;  // the caller's, valid until done
    bool done = false;
    bool ran = false;
};

gboolean GtkFrontEnd::runCall(gpointer data) {
    const std::shared_ptr<CallHub>& hub = *static_cast<std::shared_ptr<CallHub>*>(data);
    const auto sliceEnd = std::chrono::steady_clock::now() + kSlice;
    std::unique_lock<std::mutex> lock(hub->mu);
    for (;;) {
        if (hub->queue.empty())
            hub->workCv.wait_for(lock, kNextCallWait, [&] { return !hub->queue.empty() || !hub->open; });
        if (hub->queue.empty() || !hub->open) {
            hub->scheduled = false;
            return G_SOURCE_REMOVE;
        }
        std::shared_ptr<Call> c = std::move(hub->queue.front());
        hub->queue.pop_front();
        // The task may run a modal loop: calls queued meanwhile need a source
        // of their own, since this one is not dispatched again while it runs.
        hub->scheduled = false;
        lock.unlock();
        (*c->task)();
        lock.lock();
        c->done = c->ran = true;
        hub->doneCv.notify_all();
        if (hub->scheduled) return G_SOURCE_REMOVE;  // another source took over
        hub->scheduled = true;
        if (std::chrono::steady_clock::now() >= sliceEnd) {
            // Input, resizing and redrawing run before the next slice; the
            // text view's layout of off-screen lines waits for the flood's
            // end (GTK runs it at a lower priority than redraw).
            g_idle_add_full(GDK_PRIORITY_REDRAW, runCall, new std::shared_ptr<CallHub>(hub),
                            [](gpointer p) { delete static_cast<std::shared_ptr<CallHub>*>(p); });
            return G_SOURCE_REMOVE;
        }
    }
}

bool GtkFrontEnd::runOnUiThread(const std::function<void()>& task) {
    if (isUiThread()) {
        {
            std::lock_guard<std::mutex> lock(hub_->mu);
            if (!hub_->open) return false;
        }
        task();
        return true;
    }
    auto c = std::make_shared<Call>();
    c->task = &task;
    std::unique_lock<std::mutex> lock(hub_->mu);
    if (!hub_->open) return false;
    hub_->queue.push_back(c);
    if (!hub_->scheduled) {
        hub_->scheduled = true;
        g_idle_add_full(G_PRIORITY_DEFAULT, runCall, new std::shared_ptr<CallHub>(hub_),
                        [](gpointer p) { delete static_cast<std::shared_ptr<CallHub>*>(p); });
    }
    hub_->workCv.notify_one();
    hub_->doneCv.wait(lock, [&] { return c->done; });
    return c->ran;
}

bool GtkFrontEnd::isUiThread() const { return std::this_thread::get_id() == uiThread_; }

void GtkFrontEnd::markGone() {
    {
        std::lock_guard<std::mutex> lock(hub_->mu);
        hub_->open = false;
        for (const auto& c : hub_->queue) c->done = true;
        hub_->queue.clear();
    }
    hub_->doneCv.notify_all();
    hub_->workCv.notify_all();
}

// ---------------------------------------------------------------------------
// Helpers.

namespace {

// "&Chat: " (Win32 access key) to "_Chat: " (GTK mnemonic), CP1252 in,
// UTF-8 out.  "&&" is a plain "&"; a plain "_" is doubled.
std::string mnemonicLabel(const std::string& cp1252) {
    std::string out;
    for (size_t i = 0; i < cp1252.size(); ++i) {
        char ch = cp1252[i];
        if (ch == '&') {
            if (i + 1 < cp1252.size() && cp1252[i + 1] == '&') {
                out += '&';
                ++i;
            } else {
                out += '_';
            }
        } else if (ch == '_') {
            out += "__";
        } else {
            out += ch;
        }
    }
    return cp1252ToUtf8(out);
}

void setAccessibleName(GtkWidget* w, const std::string& utf8) {
    atk_object_set_name(gtk_widget_get_accessible(w), utf8.c_str());
}

bool hasFocusWithin(GtkWidget* w) {
    GtkWidget* top = gtk_widget_get_toplevel(w);
    if (!GTK_IS_WINDOW(top)) return false;
    GtkWidget* f = gtk_window_get_focus(GTK_WINDOW(top));
    return f && (f == w || gtk_widget_is_ancestor(f, w));
}

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

// Signal trampolines with access to the private members.
struct GtkFrontEndSignals {
    static gboolean keyPress(GtkWidget*, GdkEventKey* ev, gpointer self) {
        return static_cast<GtkFrontEnd*>(self)->onKey(ev, true);
    }
    static gboolean keyRelease(GtkWidget*, GdkEventKey* ev, gpointer self) {
        return static_cast<GtkFrontEnd*>(self)->onKey(ev, false);
    }
    static void rowSelected(GtkListBox*, GtkListBoxRow*, gpointer self) {
        static_cast<GtkFrontEnd*>(self)->onRowSelected();
    }
    static gboolean listButton(GtkWidget*, GdkEventButton* ev, gpointer self) {
        return static_cast<GtkFrontEnd*>(self)->onListButton(ev);
    }
    static void destroy(GtkWidget*, gpointer self) { static_cast<GtkFrontEnd*>(self)->onDestroy(); }
    static void allocate(GtkWidget*, GdkRectangle* a, gpointer self) {
        static_cast<GtkFrontEnd*>(self)->onAllocate(a->width, a->height);
    }
    static gboolean focusIn(GtkWidget*, GdkEventFocus*, gpointer self) {
        // The main window got the focus: the focus goes back to the list.
        static_cast<GtkFrontEnd*>(self)->setFocus(UiControl::List);
        return FALSE;
    }
    static gboolean focusOut(GtkWidget*, GdkEventFocus*, gpointer) {
        mainWindowLostFocus();
        return FALSE;
    }
    static void activeChanged(GObject* w, GParamSpec*, gpointer self) {
        static_cast<GtkFrontEnd*>(self)->active_ = gtk_window_is_active(GTK_WINDOW(w));
    }
    static gboolean layoutIdle(gpointer self) {
        GtkFrontEnd* fe = static_cast<GtkFrontEnd*>(self);
        fe->layoutPending_ = false;
        if (fe->area_) fe->layout(fe->layoutW_, fe->layoutH_);
        return G_SOURCE_REMOVE;
    }
    static gboolean scrollIdle(gpointer self) {
        GtkFrontEnd* fe = static_cast<GtkFrontEnd*>(self);
        fe->scrollPending_ = false;
        fe->placeCaretAtEnd();
        if (fe->history_) {
            GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(fe->history_));
            gtk_text_view_scroll_mark_onscreen(GTK_TEXT_VIEW(fe->history_), gtk_text_buffer_get_insert(b));
        }
        return G_SOURCE_REMOVE;
    }
};

GtkFrontEnd::GtkFrontEnd() : uiThread_(std::this_thread::get_id()), hub_(std::make_shared<CallHub>()) {}

GtkFrontEnd::~GtkFrontEnd() {
    markGone();
    while (g_source_remove_by_user_data(this)) {
    }
    for (GMainLoop* l : loops_) g_main_loop_unref(l);
}

// ---------------------------------------------------------------------------
// Main window.

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

    {
        std::lock_guard<std::mutex> lock(hub_->mu);
        hub_->open = true;
    }
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

void GtkFrontEnd::runNested(const bool& done) {
    // One dispatch at a time, so that `done`, set by a signal handler, and a
    // quit request are seen at once without anyone quitting a loop object.
    while (!done && !quitRequested_) g_main_context_iteration(nullptr, TRUE);
}

void GtkFrontEnd::setTitle(const std::string& title) {
    if (window_) gtk_window_set_title(GTK_WINDOW(window_), cp1252ToUtf8(title).c_str());
}

// ---------------------------------------------------------------------------
// Keys.

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

// ---------------------------------------------------------------------------
// History view.

namespace {
// A GtkTextBuffer refuses a whole insert that holds a NUL, so a message with
// one would never be shown: each NUL is shown as a blank (one byte for one,
// so byte offsets into the history stay those of the CP1252 text).
std::string historyUtf8(const std::string& text) {
    std::string u = cp1252ToUtf8(text);
    std::replace(u.begin(), u.end(), '\0', ' ');
    return u;
}
}  // namespace

void GtkFrontEnd::historyAppend(const std::string& text) {
    if (!history_) return;
    GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(history_));
    GtkTextIter end;
    gtk_text_buffer_get_end_iter(b, &end);
    std::string u = historyUtf8(text);
    gtk_text_buffer_insert(b, &end, u.data(), static_cast<int>(u.size()));
    // As an edit control's replace-selection at the end, the caret follows
    // the text.  Moving GTK's insert mark lays the caret's line out at once,
    // which costs more than the insert itself in a flood of messages: the
    // move is only recorded here and made when the caret is next looked at,
    // set, scrolled to or given the focus.
    caretAtEnd_ = true;
}

void GtkFrontEnd::placeCaretAtEnd() {
    if (!caretAtEnd_ || !history_) return;
    caretAtEnd_ = false;
    GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(history_));
    GtkTextIter end;
    gtk_text_buffer_get_end_iter(b, &end);
    gtk_text_buffer_place_cursor(b, &end);
}

void GtkFrontEnd::historySetText(const std::string& text) {
    if (!history_) return;
    std::string u = historyUtf8(text);
    caretAtEnd_ = false;
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(history_)), u.data(),
                             static_cast<int>(u.size()));
}

std::string GtkFrontEnd::historyText() {
    if (!history_) return {};
    GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(history_));
    GtkTextIter s, e;
    gtk_text_buffer_get_bounds(b, &s, &e);
    gchar* t = gtk_text_buffer_get_text(b, &s, &e, TRUE);
    std::string out = utf8ToCp1252(t);
    g_free(t);
    return out;
}

void GtkFrontEnd::historyGetSelection(int* start, int* end) {
    *start = *end = 0;
    if (!history_) return;
    GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(history_));
    if (caretAtEnd_) {
        *start = *end = gtk_text_buffer_get_char_count(b);
        return;
    }
    GtkTextIter s, e;
    gtk_text_buffer_get_selection_bounds(b, &s, &e);
    *start = gtk_text_iter_get_offset(&s);
    *end = gtk_text_iter_get_offset(&e);
}

void GtkFrontEnd::historySetSelection(int start, int end) {
    if (!history_) return;
    caretAtEnd_ = false;
    GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(history_));
    GtkTextIter s, e;
    gtk_text_buffer_get_iter_at_offset(b, &s, start);
    gtk_text_buffer_get_iter_at_offset(b, &e, end);
    // The insert mark (caret) is the start, as an edit control's selection.
    gtk_text_buffer_select_range(b, &s, &e);
}

void GtkFrontEnd::historyScrollToCaret() {
    if (history_) scrollHistoryLater();
}

// Scrolling lays the text out up to the caret; one scroll per burst of
// messages, once the loop is idle, keeps a flood of lines cheap.
void GtkFrontEnd::scrollHistoryLater() {
    if (scrollPending_) return;
    scrollPending_ = true;
    g_idle_add_full(G_PRIORITY_LOW, GtkFrontEndSignals::scrollIdle, this, nullptr);
}

// ---------------------------------------------------------------------------
// Menu list.

int GtkFrontEnd::rowIndex(GtkListBoxRow* row) const {
    return row ? gtk_list_box_row_get_index(row) : -1;
}

void GtkFrontEnd::listReset() {
    if (!list_) return;
    const bool focused = hasFocusWithin(list_);
    ++clientSelecting_;
    // The focus must not die with a row: it stays on the list itself.
    if (focused) gtk_widget_grab_focus(list_);
    for (GtkWidget* r : rows_) gtk_widget_destroy(r);
    rows_.clear();
    --clientSelecting_;
}

void GtkFrontEnd::listAdd(const std::string& label) {
    if (!list_) return;
    std::string u = cp1252ToUtf8(label);
    GtkWidget* text = gtk_label_new(u.c_str());
    gtk_label_set_xalign(GTK_LABEL(text), 0);
    gtk_widget_set_margin_start(text, 4);
    gtk_widget_set_margin_end(text, 4);
    GtkWidget* row = gtk_list_box_row_new();
    gtk_container_add(GTK_CONTAINER(row), text);
    // A row has no name of its own; a screen reader reads this one.
    setAccessibleName(row, u);
    ++clientSelecting_;
    gtk_list_box_insert(GTK_LIST_BOX(list_), row, -1);
    --clientSelecting_;
    gtk_widget_show_all(row);
    rows_.push_back(row);
}

void GtkFrontEnd::listDelete(int index) {
    if (!list_ || index < 0 || index >= static_cast<int>(rows_.size())) return;
    GtkWidget* row = rows_[static_cast<size_t>(index)];
    ++clientSelecting_;
    if (hasFocusWithin(row)) gtk_widget_grab_focus(list_);
    gtk_widget_destroy(row);
    --clientSelecting_;
    rows_.erase(rows_.begin() + index);
}

void GtkFrontEnd::listSetItem(int index, const std::string& label) {
    if (!list_ || index < 0 || index >= static_cast<int>(rows_.size())) return;
    GtkWidget* row = rows_[static_cast<size_t>(index)];
    std::string u = cp1252ToUtf8(label);
    if (GtkWidget* text = gtk_bin_get_child(GTK_BIN(row))) gtk_label_set_text(GTK_LABEL(text), u.c_str());
    setAccessibleName(row, u);
}

int GtkFrontEnd::listCount() { return static_cast<int>(rows_.size()); }

void GtkFrontEnd::listSelect(int index) {
    if (!list_) return;
    ++clientSelecting_;
    if (index < 0 || index >= static_cast<int>(rows_.size())) {
        gtk_list_box_unselect_all(GTK_LIST_BOX(list_));
    } else {
        GtkWidget* row = rows_[static_cast<size_t>(index)];
        gtk_list_box_select_row(GTK_LIST_BOX(list_), GTK_LIST_BOX_ROW(row));
        // With the list focused, the focus follows the selection so that the
        // screen reader announces the row.
        if (hasFocusWithin(list_)) gtk_widget_grab_focus(row);
    }
    --clientSelecting_;
}

int GtkFrontEnd::listSelection() {
    if (!list_) return -1;
    return rowIndex(gtk_list_box_get_selected_row(GTK_LIST_BOX(list_)));
}

void GtkFrontEnd::onRowSelected() {
    // Only the player's own changes (arrows handled by the list itself)
    // run the selection step.
    if (clientSelecting_ > 0) return;
    selectionStep();
}

gboolean GtkFrontEnd::onListButton(GdkEventButton* ev) {
    if (ev->type != GDK_BUTTON_PRESS) return TRUE;  // double clicks: the press did it
    if (ev->button != 1 && ev->button != 3) return FALSE;
    if (ev->window != gtk_widget_get_window(list_)) return FALSE;
    GtkListBoxRow* row = gtk_list_box_get_row_at_y(GTK_LIST_BOX(list_), static_cast<int>(ev->y));
    if (!row) {
        // Below the rows: no item is clicked, so the next selection change
        // (a type-ahead) is not taken for this press and chooses nothing.
        setFocus(UiControl::List);
        return TRUE;
    }
    keyboard.listClicked = ev->button == 3 ? 2 : 1;
    ++clientSelecting_;
    gtk_list_box_select_row(GTK_LIST_BOX(list_), row);
    gtk_widget_grab_focus(GTK_WIDGET(row));
    --clientSelecting_;
    // A click is a change of selection even on the selected row, as the
    // list box of the other platform notifies it.
    selectionStep();
    return TRUE;
}

// ---------------------------------------------------------------------------
// Chat line and focus.

std::string GtkFrontEnd::chatText() {
    if (!chat_) return {};
    return utf8ToCp1252(gtk_entry_get_text(GTK_ENTRY(chat_)));
}

void GtkFrontEnd::chatSetText(const std::string& text) {
    if (chat_) gtk_entry_set_text(GTK_ENTRY(chat_), cp1252ToUtf8(text).c_str());
}

void GtkFrontEnd::chatSelectRange(int start, int end) {
    if (chat_) gtk_editable_select_region(GTK_EDITABLE(chat_), start, end);
}

void GtkFrontEnd::setFocus(UiControl control) {
    if (!window_) return;
    switch (control) {
        case UiControl::History:
            placeCaretAtEnd();
            gtk_widget_grab_focus(history_);
            break;
        case UiControl::Chat: gtk_widget_grab_focus(chat_); break;
        case UiControl::List: {
            GtkListBoxRow* row = gtk_list_box_get_selected_row(GTK_LIST_BOX(list_));
            ++clientSelecting_;
            gtk_widget_grab_focus(row ? GTK_WIDGET(row) : list_);
            --clientSelecting_;
            break;
        }
    }
}

UiControl GtkFrontEnd::focusedControl() {
    UiControl c = UiControl::List;
    focusedControlOf(&c);
    return c;
}

// ---------------------------------------------------------------------------
// Dialogs, all modal to the main window when there is one.

namespace {
struct BoxButton {
    const char* label;
    int result;
};
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
