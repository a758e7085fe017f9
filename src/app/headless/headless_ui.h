// The scripted front-end: player actions arrive as lines on an input stream,
// and what a player would see and hear leaves as event lines on an output
// stream.  The protocol is a contract for tests (events are only ever added).
//
// Threads: the UI thread is the one that runs clientMain; a reader thread
// turns input lines into a queue; speech and sound events may be emitted
// from any thread, each line whole.
#pragma once

#include <cstdio>
#include <deque>
#include <istream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/client.h"
#include "app/headless/view_model.h"
#include "app/keyboard.h"
#include "platform/speech_backend.h"
#include "platform/ui_queue.h"

// Writes event lines: UTF-8, `\` as `\\`, CR as `\r`, LF as `\n`.
//
// Flushing: the events of the UI thread named by holdOn wait in the stream's
// buffer until that thread calls flush(), which it does before every wait
// (for input, for UI-thread calls, for time), so a flood handled in runs
// costs one write per run rather than one per event, and a reader never
// waits for an event the client has already made.  Events a reader waits on
// before it answers (dialogs, quit) and every event of another thread go
// out at once.
class EventOut {
public:
    explicit EventOut(std::FILE* out) : out_(out) {}
    // `head` is ASCII (the event name and numbers); `text` is CP1252.
    // `now`: written out at once, with everything before it.
    void emit(const std::string& head, const std::string& text = {}, bool withText = false, bool now = false);
    // The thread whose events may wait for flush(); a default id: none.
    void holdOn(std::thread::id uiThread);
    // Writes out what waits.  Any thread.
    void flush();

private:
    std::mutex mu_;
    std::FILE* out_;
    std::thread::id held_;  // guarded by mu_
    bool waiting_ = false;  // guarded by mu_: events written but not flushed
};

// Escapes a UTF-8 text for an event line.
std::string escapeEventText(const std::string& utf8);

// A speech back-end that prints "speak <0|1> <text>".
class EventSpeech : public SpeechBackend {
public:
    explicit EventSpeech(EventOut& out) : out_(out) {}
    void speak(const std::string& text, bool interrupt) override;

private:
    EventOut& out_;
};

class HeadlessUi : public FrontEnd {
public:
    HeadlessUi(std::istream& in, EventOut& out);
    ~HeadlessUi() override;

    // FrontEnd
    bool createMainWindow() override;
    void showMainWindow() override;
    void runConnectionDialog(ConnDialog* d) override;
    int runMessageLoop() override;
    void closeMainWindow() override;
    void fatalError(const std::string& text) override;

    // The player closes the main window now, whatever input is still to
    // come: as the end of input, ahead of the commands not yet read (a
    // termination signal).  Any thread.
    void endInputNow();

    // UiThreadSeam
    bool runOnUiThread(const std::function<void()>& task) override { return queue_.call(task); }
    bool isUiThread() const override { return queue_.isUiThread(); }
    bool isMainWindowActive() override { return active_; }
    void requestQuit(int status) override;

    // UiViewSeam
    void historyAppend(const std::string& text) override;
    void historySetText(const std::string& text) override;
    std::string historyText() override { return view_.history; }
    void historyGetSelection(int* start, int* end) override;
    void historySetSelection(int start, int end) override;
    void historyTrimFront(size_t bytes) override;
    void listReset() override;
    void listAdd(const std::string& label) override;
    void listDelete(int index) override;
    void listSetItem(int index, const std::string& label) override;
    int listCount() override { return static_cast<int>(view_.list.size()); }
    void listSelect(int index) override;
    int listSelection() override { return view_.listSel; }
    std::string chatText() override { return view_.chat; }
    void chatSetText(const std::string& text) override;
    void chatSelectRange(int start, int end) override;
    void setFocus(UiControl control) override;
    UiControl focusedControl() override { return view_.focus; }
    void setTitle(const std::string& title) override;

    // UiDialogSeam
    int messageBox(const std::string& text, const std::string& title, unsigned flags) override;
    int updateQuestion(const std::string& text, bool required) override;
    bool inputBox(const std::string& title, const std::string& prompt, const std::string& initial,
                  std::string* answer) override;
    bool saveFileDialog(std::string* path) override;
    void beep(int hz, int ms) override;

private:
    struct Input {
        std::string verb, rest;
        bool eof = false;
    };
    // Shared with the reader thread, which is detached: a blocking read of
    // the input cannot be interrupted, and the process may end under it.
    struct InputShared {
        std::mutex mu;
        std::deque<Input> lines;
        UiTaskQueue* wake = nullptr;  // cleared when the UI goes away
    };
    std::optional<Input> nextInput();
    // Runs UI tasks until an answer or a cancel arrives (a modal dialog's
    // loop); other commands wait until the dialog is closed.
    // The answer the player gives to a box with these flags (Escape: as the
    // platform box answers it).
    int boxAnswer(unsigned flags);
    std::optional<std::string> waitForAnswer();
    void handle(const Input& in);
    void sleepRunningTasks(int ms);

    std::istream& in_;
    EventOut& out_;
    UiTaskQueue queue_;
    std::shared_ptr<InputShared> shared_;
    std::deque<Input> deferred_;  // arrived while a dialog was up
    bool quit_ = false;
    int quitStatus_ = 0;
    bool windowOpen_ = false;

    ViewModel view_;
    bool active_ = true;
    // The modifier keys the script holds down, from every keydown and keyup
    // line, active window or not: the state a desktop reports with its key
    // events.
    HeldKeys held_;
};
