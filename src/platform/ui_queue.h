// The task queue behind every front-end's UI-thread call: the one way work
// reaches the UI thread.
//
// The UI thread opens the queue, then drains it from its loop (and from any
// nested modal loop).  Another thread's call() enqueues the task and blocks
// until the UI thread has run it.  After close() (the main window is gone)
// calls return false at once and waiting callers are released without
// their task running.
//
// A front-end supplies only the wake-up of its loop:
//  - a loop that sleeps in waitAndRun() needs nothing more (the headless
//    front-end, test doubles);
//  - a loop that sleeps elsewhere (GLib's main context, the Win32 message
//    queue, poll() on descriptors) sets a notify hook that makes its loop
//    drain: an idle source, a posted message, a byte down a pipe.
// No loop ever needs a polling tick to see a task.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class UiTaskQueue {
  public:
    // Makes the calling thread the UI thread and accepts calls.
    void open();
    // Stops accepting calls; releases every waiting caller with false.
    void close();
    bool isOpen() const;
    // True on the thread that opened the queue, while it is open.
    bool isUiThread() const;

    // Runs `task` on the UI thread: at once when called there, else queued
    // and waited for.  False, without running it, once closed or before open.
    bool call(const std::function<void()>& task);

    // Runs every queued task, those queued meanwhile included; returns how
    // many ran.  UI thread only.
    int runPending();
    // Sleeps until a task is queued or wake() is called (at most timeoutMs;
    // a negative timeout: no limit), then runs what is queued.  UI thread.
    int waitAndRun(int timeoutMs = -1);
    // Ends a waitAndRun() early (for loops that wait on other events too).
    // Any thread.
    void wake();

    // The wake-up of a loop that sleeps in something other than waitAndRun():
    // `notify` runs on the calling thread, under the queue's lock (so it must
    // not call the queue), at each wake() and when a task is queued while
    // the UI thread may not see it.  A task queued while an earlier wake is
    // still pending (no drain has begun since) or while runSlice() lingers
    // for it does not notify again, so a flood costs one wake-up per drain,
    // not one per task.  Set it before open().
    void setNotify(std::function<void()> notify);

    // A drain for loops that dispatch event sources (GLib): runs queued
    // tasks, and after each one lingers up to `linger` for the caller's next
    // call instead of going back to the loop, until the queue stays empty
    // or `slice` has passed.  Returns true when the slice ran out: the wake
    // stays pending (no notify meanwhile) and the caller schedules the next
    // drain itself, after its input and redraw.  UI thread only.
    bool runSlice(std::chrono::microseconds linger, std::chrono::microseconds slice);

  private:
    struct Pending {
        const std::function<void()>* task;
        bool done = false;
        bool ran = false;
    };
    // Pops and runs the front task; lock held on entry and on return.
    void runFront(std::unique_lock<std::mutex>& lock);

    mutable std::mutex mu_;
    std::condition_variable cv_;      // signals the UI thread: work queued
    std::condition_variable doneCv_;  // signals callers: a task finished
    std::deque<Pending*> queue_;
    std::thread::id uiThread_;
    bool open_ = false;
    bool woken_ = false;
    bool notified_ = false;   // a notify went out and no drain began since
    bool lingering_ = false;  // runSlice waits on cv_ for the next task
    std::function<void()> notify_;
};
