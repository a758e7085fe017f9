#include "app/gtk/gtk_frontend.h"

// ---------------------------------------------------------------------------
// UI-thread call.
//
// The calls go through the front-end's UiTaskQueue; its wake-up here is an
// idle source on the default main context, which drains the queue, so calls
// also run inside the nested loops of modal dialogs.
//
// g_idle_add is used rather than g_main_context_invoke: invoke runs the
// function on the calling thread whenever it can acquire the context, which
// happens while the UI thread is between loops (start-up, shut-down), and
// widgets must never be touched off the UI thread.
//
// A flood of calls (one per run of lines) is drained in slices: after each
// task the UI thread lingers briefly for the caller's next call instead of
// going back to the loop, where GTK's idle text layout would run between
// every two lines.  A slice ends after kSlice, so input, resizing and
// redraw still get their turn during a flood.

namespace {
constexpr auto kNextCallWait = std::chrono::microseconds(1000);
constexpr auto kSlice = std::chrono::milliseconds(20);
}  // namespace

gboolean GtkFrontEnd::drainCalls(gpointer self) {
    GtkFrontEnd* fe = static_cast<GtkFrontEnd*>(self);
    if (fe->calls_.runSlice(kNextCallWait, kSlice)) {
        // Input, resizing and redrawing run before the next slice; the
        // text view's layout of off-screen lines waits for the flood's end
        // (GTK runs it at a lower priority than redraw).
        g_idle_add_full(GDK_PRIORITY_REDRAW, drainCalls, fe, nullptr);
    }
    return G_SOURCE_REMOVE;
}

bool GtkFrontEnd::runOnUiThread(const std::function<void()>& task) {
    if (isUiThread()) {
        // Refused once the window is gone, as from any other thread.
        if (!calls_.isOpen()) return false;
        task();
        return true;
    }
    return calls_.call(task);
}

bool GtkFrontEnd::isUiThread() const {
    return std::this_thread::get_id() == uiThread_;
}

void GtkFrontEnd::markGone() {
    calls_.close();
}

// Calls are refused until createMainWindow opens them.  The queue's wake-up
// is an idle source whose data is this object: the destructor removes every
// source that still names it.
GtkFrontEnd::GtkFrontEnd() : uiThread_(std::this_thread::get_id()) {
    calls_.setNotify([this] { g_idle_add_full(G_PRIORITY_DEFAULT, drainCalls, this, nullptr); });
}

void GtkFrontEnd::openCalls() {
    calls_.open();
}
