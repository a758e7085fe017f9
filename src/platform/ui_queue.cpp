#include "platform/ui_queue.h"

void UiTaskQueue::open() {
    std::lock_guard<std::mutex> lock(mu_);
    uiThread_ = std::this_thread::get_id();
    open_ = true;
}

void UiTaskQueue::close() {
    std::lock_guard<std::mutex> lock(mu_);
    open_ = false;
    for (Pending* p : queue_) p->done = true;
    queue_.clear();
    doneCv_.notify_all();
    cv_.notify_all();
}

bool UiTaskQueue::isOpen() const {
    std::lock_guard<std::mutex> lock(mu_);
    return open_;
}

bool UiTaskQueue::isUiThread() const {
    std::lock_guard<std::mutex> lock(mu_);
    return open_ && uiThread_ == std::this_thread::get_id();
}

bool UiTaskQueue::call(const std::function<void()>& task) {
    std::unique_lock<std::mutex> lock(mu_);
    if (!open_) return false;
    if (uiThread_ == std::this_thread::get_id()) {
        lock.unlock();
        task();
        return true;
    }
    Pending p{&task};
    queue_.push_back(&p);
    cv_.notify_one();
    if (notify_ && !notified_ && !lingering_) {
        notified_ = true;
        notify_();
    }
    doneCv_.wait(lock, [&] { return p.done; });
    return p.ran;
}

void UiTaskQueue::runFront(std::unique_lock<std::mutex>& lock) {
    Pending* p = queue_.front();
    queue_.pop_front();
    // The task may run a nested loop (a modal box): calls queued meanwhile
    // must wake that loop, so the pending wake is taken now.
    notified_ = false;
    lock.unlock();
    (*p->task)();
    lock.lock();
    p->ran = true;
    p->done = true;
    doneCv_.notify_all();
}

int UiTaskQueue::runPending() {
    int n = 0;
    std::unique_lock<std::mutex> lock(mu_);
    notified_ = false;
    while (!queue_.empty()) {
        runFront(lock);
        ++n;
    }
    return n;
}

int UiTaskQueue::waitAndRun(int timeoutMs) {
    {
        std::unique_lock<std::mutex> lock(mu_);
        auto ready = [&] { return !queue_.empty() || woken_; };
        if (timeoutMs < 0)
            cv_.wait(lock, ready);
        else
            cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
        woken_ = false;
    }
    return runPending();
}

void UiTaskQueue::wake() {
    std::lock_guard<std::mutex> lock(mu_);
    woken_ = true;
    cv_.notify_one();
    if (notify_) {
        notified_ = true;
        notify_();
    }
}

void UiTaskQueue::setNotify(std::function<void()> notify) {
    std::lock_guard<std::mutex> lock(mu_);
    notify_ = std::move(notify);
}

bool UiTaskQueue::runSlice(std::chrono::microseconds linger, std::chrono::microseconds slice) {
    const auto end = std::chrono::steady_clock::now() + slice;
    std::unique_lock<std::mutex> lock(mu_);
    notified_ = false;
    for (;;) {
        if (queue_.empty() && open_) {
            lingering_ = true;
            cv_.wait_for(lock, linger, [&] { return !queue_.empty() || !open_; });
            lingering_ = false;
        }
        if (queue_.empty() || !open_) return false;
        runFront(lock);
        if (std::chrono::steady_clock::now() >= end) {
            // The caller schedules the next slice; until it runs, callers
            // need no wake of their own.
            notified_ = true;
            return true;
        }
    }
}
