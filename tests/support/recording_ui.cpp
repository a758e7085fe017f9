#include "support/recording_ui.h"

#include <chrono>

RecordingUi::RecordingUi() {
    std::mutex m;
    std::condition_variable started;
    bool ready = false;
    thread_ = std::thread([&] {
        queue_.open();
        {
            // Notify under the lock: the constructor's cv dies once it returns.
            std::lock_guard<std::mutex> lock(m);
            ready = true;
            started.notify_one();
        }
        loop();
    });
    std::unique_lock<std::mutex> lock(m);
    started.wait(lock, [&] { return ready; });
    setUi(this);
}

RecordingUi::~RecordingUi() {
    setUi(nullptr);
    stop_ = true;
    queue_.wake();
    thread_.join();
    queue_.close();
}

void RecordingUi::loop() {
    while (!stop_.load()) queue_.waitAndRun();
    queue_.runPending();
}

int RecordingUi::messageBox(const std::string& text, const std::string& title, unsigned flags) {
    std::lock_guard<std::mutex> lock(mu_);
    boxes_.push_back({text, title, flags});
    return messageBoxAnswer.load();
}

void RecordingUi::requestQuit(int status) {
    std::lock_guard<std::mutex> lock(mu_);
    quits_.push_back(status);
    cv_.notify_all();
}

void RecordingUi::beep(int hz, int ms) {
    std::lock_guard<std::mutex> lock(mu_);
    beeps_.emplace_back(hz, ms);
}

std::vector<MessageBoxCall> RecordingUi::messageBoxes() const {
    std::lock_guard<std::mutex> lock(mu_);
    return boxes_;
}

std::vector<int> RecordingUi::quits() const {
    std::lock_guard<std::mutex> lock(mu_);
    return quits_;
}

std::vector<std::pair<int, int>> RecordingUi::beeps() const {
    std::lock_guard<std::mutex> lock(mu_);
    return beeps_;
}

bool RecordingUi::waitForQuits(size_t n, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [&] { return quits_.size() >= n; });
}
