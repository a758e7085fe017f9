// A UI seam double with a real UI thread: tasks handed over by uiCall run
// there, as in a front-end.  Records message boxes, quit requests and beeps,
// and answers message boxes with a preset code.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ui.h"
#include "platform/ui_queue.h"

struct MessageBoxCall {
    std::string text, title;
    unsigned flags;
};

class RecordingUi : public UiSeam {
public:
    RecordingUi();   // starts the UI thread and installs itself
    ~RecordingUi() override;  // stops the thread and restores the null UI

    bool runOnUiThread(const std::function<void()>& task) override {
        if (!queue_.isUiThread()) ++uiCalls;
        return queue_.call(task);
    }
    bool isUiThread() const override { return queue_.isUiThread(); }
    int messageBox(const std::string& text, const std::string& title, unsigned flags) override;
    void requestQuit(int status) override;
    void beep(int hz, int ms) override;
    bool isMainWindowActive() override { return active.load(); }

    std::vector<MessageBoxCall> messageBoxes() const;
    std::vector<int> quits() const;
    std::vector<std::pair<int, int>> beeps() const;
    // Waits (bounded) until at least n quit requests were made.
    bool waitForQuits(size_t n, int timeoutMs = 10000) const;

    std::atomic<int> messageBoxAnswer{1};
    std::atomic<bool> active{true};
    // UI-thread calls asked for from other threads, answered or not (each a
    // thread hand-over; a call made on the UI thread runs there at once).
    std::atomic<int> uiCalls{0};

    // Closes the UI-thread call as a destroyed main window would.
    void closeWindow() { queue_.close(); }

private:
    void loop();
    UiTaskQueue queue_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mu_;
    mutable std::condition_variable cv_;
    std::vector<MessageBoxCall> boxes_;
    std::vector<int> quits_;
    std::vector<std::pair<int, int>> beeps_;
};
