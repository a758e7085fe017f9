#include "app/gtk/gtk_frontend.h"

#include <chrono>
#include <deque>

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
// A flood of calls (one per run of lines) is drained in slices: after each
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

// Creates the call state; calls are refused until createMainWindow opens them.
GtkFrontEnd::GtkFrontEnd() : uiThread_(std::this_thread::get_id()), hub_(std::make_shared<CallHub>()) {}

void GtkFrontEnd::openCalls() {
    std::lock_guard<std::mutex> lock(hub_->mu);
    hub_->open = true;
}
