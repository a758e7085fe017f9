#include "net/cancel.h"

#include <algorithm>

void CancelSwitch::cancel() {
    std::lock_guard<std::mutex> lock(mu_);
    if (cancelled_.exchange(true)) return;
    for (auto& w : watches_) w.second();
}

void CancelSwitch::reset() {
    std::lock_guard<std::mutex> lock(mu_);
    cancelled_ = false;
}

CancelWatch::CancelWatch(CancelSwitch* sw, std::function<void()> action) : sw_(sw) {
    if (!sw_) return;
    std::lock_guard<std::mutex> lock(sw_->mu_);
    if (sw_->cancelled_.load()) {
        action();
        return;
    }
    id_ = ++sw_->nextId_;
    sw_->watches_.emplace_back(id_, std::move(action));
}

CancelWatch::~CancelWatch() {
    if (!sw_ || id_ == 0) return;
    std::lock_guard<std::mutex> lock(sw_->mu_);
    auto& w = sw_->watches_;
    w.erase(std::remove_if(w.begin(), w.end(), [this](const auto& e) { return e.first == id_; }), w.end());
}

std::function<void()> CancelWatch::shutdownOf(SocketHandle s) {
    return [s] { sockShutdown(s); };
}

std::function<void()> CancelWatch::wakeOf(std::mutex& m, std::condition_variable& cv) {
    return [&m, &cv] {
        { std::lock_guard<std::mutex> lock(m); }
        cv.notify_all();
    };
}
