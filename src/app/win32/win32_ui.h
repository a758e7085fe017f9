// The Win32 front-end: the main window "Le Kordo" with its four controls, the
// window procedures, the server-driven dialogs and the message loop.
//
// Text: the core's texts are CP1252, which is the ANSI code page of the
// French and Western Windows installations this client targets, so every
// window call here uses the A (ANSI) functions and passes the bytes as they
// are.
//
// Threads: everything runs on the thread that created the window (the UI
// thread) except runOnUiThread() and isMainWindowActive(), which other
// threads call.  A UI-thread call goes through the front-end's UiTaskQueue;
// its wake-up is a message posted to the main window, which the message
// loop and every modal box's own loop dispatch.
#pragma once

#include <windows.h>

#include <atomic>

#include "app/client.h"
#include "platform/ui_queue.h"

// The main window and its controls: written on the UI thread at creation,
// read on the UI thread by the window procedures (which find the record
// through the main window's user data) and the seam methods; `win` and
// `closing` also by runOnUiThread() on other threads.
struct Win32Window {
    HWND win = nullptr;
    HWND edit = nullptr;     // history, read-only
    HWND list = nullptr;     // menu list
    HWND chatlbl = nullptr;  // the chat's label
    HWND chat = nullptr;
    HFONT font = nullptr;
    WNDPROC oldeditproc = nullptr;   // history edit's standard procedure
    WNDPROC oldeditproc2 = nullptr;  // chat edit's standard procedure
    WNDPROC oldlistproc = nullptr;
    // True once shut-down has begun: UI-thread calls no longer run, and the
    // window's destruction is ours, not the player's.
    std::atomic<bool> closing{false};
    // The front-end's UI-thread calls, closed when the window goes.
    UiTaskQueue* calls = nullptr;
};

class Win32Ui : public FrontEnd {
public:
    explicit Win32Ui(HINSTANCE instance);

    // FrontEnd
    bool createMainWindow() override;
    void showMainWindow() override;
    void runConnectionDialog(ConnDialog* d) override;
    int runMessageLoop() override;
    void closeMainWindow() override;
    void fatalError(const std::string& text) override;

    // UiThreadSeam
    bool runOnUiThread(const std::function<void()>& task) override;
    bool isUiThread() const override { return GetCurrentThreadId() == uiThread_; }
    bool isMainWindowActive() override;
    void requestQuit(int status) override;

    // UiViewSeam
    void historyAppend(const std::string& text) override;
    void historySetText(const std::string& text) override;
    std::string historyText() override;
    void historyGetSelection(int* start, int* end) override;
    void historySetSelection(int start, int end) override;
    void historyScrollToCaret() override;
    void historyTrimFront(size_t bytes) override;
    // The edit control re-lays its text out at every append, at a cost that
    // grows with its length: a run of messages is one append.
    bool historyGathersRuns() const override { return true; }
    void listReset() override;
    void listAdd(const std::string& label) override;
    void listDelete(int index) override;
    void listSetItem(int index, const std::string& label) override;
    int listCount() override;
    void listSelect(int index) override;
    int listSelection() override;
    std::string chatText() override;
    void chatSetText(const std::string& text) override;
    void chatSelectRange(int start, int end) override;
    void setFocus(UiControl control) override;
    UiControl focusedControl() override;
    void setTitle(const std::string& title) override;

    // UiDialogSeam
    int messageBox(const std::string& text, const std::string& title, unsigned flags) override;
    bool inputBox(const std::string& title, const std::string& prompt, const std::string& initial,
                  std::string* answer) override;
    bool saveFileDialog(std::string* path) override;
    void beep(int hz, int ms) override;

private:
    HINSTANCE instance_;
    DWORD uiThread_;
    HACCEL accel_ = nullptr;
    UiTaskQueue calls_;  // the UI-thread calls
    Win32Window w_;      // its address is the main window's user data
    // Length of the history view's text, where the next append goes; -1:
    // not known, measured at the next append.
    int historyEnd_ = -1;
};

// loadFont(h, n, s): face `n` at `s` points for the display of window `h`
// (height = s * vertical DPI / 72, rounded to nearest), variable pitch,
// Swiss family, default character set; every other parameter default.
HFONT loadFont(HWND h, const char* n, int s);
