// A task queue that gives a front-end loop the UI-thread call.
//
// The UI thread binds itself, then drains the queue from its loop (and from
// any nested modal loop).  Another thread's call() enqueues the task and
// blocks until the UI thread has run it.  After close() (the main window is
// gone) calls return false at once and waiting callers are released without
// their task running.
#pragma once

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
    bool isUiThread() const;

    bool call(const std::function<void()>& task);

    // Runs every queued task; returns how many ran.  UI thread only.
    int runPending();
    // Waits up to timeoutMs for a task (or wake()), then runs what is queued.
    int waitAndRun(int timeoutMs);
    // Wakes a waitAndRun() early (for loops that wait on other events too).
    void wake();
    // For a loop that sleeps in something other than waitAndRun() (a poll on
    // descriptors): `notify` runs each time a task is queued and at each
    // wake(), on the calling thread, under the queue's lock (so it must not
    // call the queue).  Set it before open().
    void setNotify(std::function<void()> notify);

private:
    struct Pending {
        const std::function<void()>* task;
        bool done = false;
        bool ran = false;
    };
    mutable std::mutex mu_;
    std::condition_variable cv_;       // signals the UI thread: work queued
    std::condition_variable doneCv_;   // signals callers: a task finished
    std::deque<Pending*> queue_;
    std::thread::id uiThread_;
    bool open_ = false;
    bool woken_ = false;
    std::function<void()> notify_;
};
