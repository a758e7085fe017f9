// A recording UI for benchmarks whose UI thread is the benchmark's own
// thread, as for work a front-end does on its UI thread: UI-thread calls run
// at once, so the figures are the core's and the recorder's, not a thread
// hand-over.  It keeps the list lines and the history text like a real view.
#pragma once

#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/ui.h"
#include "platform/ui_queue.h"

class BenchUi : public UiSeam {
public:
    BenchUi() {
        queue_.open();
        setUi(this);
    }
    ~BenchUi() override {
        setUi(nullptr);
        queue_.close();
    }
    bool runOnUiThread(const std::function<void()>& task) override { return queue_.call(task); }
    bool isUiThread() const override { return queue_.isUiThread(); }
    bool isMainWindowActive() override { return true; }

    void historyAppend(const std::string& text) override { history += text; }
    std::string historyText() override { return history; }
    void historyGetSelection(int* start, int* end) override { *start = *end = static_cast<int>(history.size()); }
    void historyTrimFront(size_t bytes) override { history.erase(0, bytes); }
    void listReset() override { list.clear(); }
    void listAdd(const std::string& label) override { list.push_back(label); }
    void listDelete(int index) override { list.erase(list.begin() + index); }
    void listSetItem(int index, const std::string& label) override { list[size_t(index)] = label; }
    int listCount() override { return static_cast<int>(list.size()); }
    void listSelect(int index) override { selected = index; }

    std::string history;
    std::vector<std::string> list;
    int selected = -1;

private:
    UiTaskQueue queue_;
};

// A UI for benchmarks of work that the client hands over to its UI thread:
// a thread of its own runs the UI-thread calls, as a front-end's loop does,
// so the figures include the hand-over.  Installs itself while it lives.
class ThreadUi : public UiSeam {
public:
    ThreadUi() {
        std::promise<void> opened;
        thread_ = std::thread([this, &opened] {
            queue_.open();
            opened.set_value();
            while (!stop_.load()) queue_.waitAndRun();
            queue_.runPending();
        });
        opened.get_future().wait();
        setUi(this);
    }
    ~ThreadUi() override {
        setUi(nullptr);
        stop_ = true;
        queue_.wake();
        thread_.join();
        queue_.close();
    }
    bool runOnUiThread(const std::function<void()>& task) override { return queue_.call(task); }
    bool isUiThread() const override { return queue_.isUiThread(); }
    bool isMainWindowActive() override { return true; }

private:
    UiTaskQueue queue_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
};
