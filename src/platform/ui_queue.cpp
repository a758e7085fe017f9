#include "platform/ui_queue.h"

#include <chrono>

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
    if (notify_) notify_();
    doneCv_.wait(lock, [&] { return p.done; });
    return p.ran;
}

int UiTaskQueue::runPending() {
    int n = 0;
    std::unique_lock<std::mutex> lock(mu_);
    while (!queue_.empty()) {
        Pending* p = queue_.front();
        queue_.pop_front();
        lock.unlock();
        (*p->task)();
        lock.lock();
        p->ran = true;
        p->done = true;
        doneCv_.notify_all();
        ++n;
    }
    return n;
}

int UiTaskQueue::waitAndRun(int timeoutMs) {
    {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                     [&] { return !queue_.empty() || woken_; });
        woken_ = false;
    }
    return runPending();
}

void UiTaskQueue::wake() {
    std::lock_guard<std::mutex> lock(mu_);
    woken_ = true;
    cv_.notify_one();
    if (notify_) notify_();
}

void UiTaskQueue::setNotify(std::function<void()> notify) {
    std::lock_guard<std::mutex> lock(mu_);
    notify_ = std::move(notify);
}
