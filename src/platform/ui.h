// The user-interface seams: everything the portable core asks of a
// front-end (GTK, Win32, headless, terminal, or a double in tests).
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>

enum class UiControl { History, List, Chat };

// The seam is cut by what the core asks for, so that a unit's code says
// which part of the front-end it leans on and a test double fills in only
// that part:
//  - UiThreadSeam: the main window's life and the thread that owns it.  The
//    UI-thread call, which thread this is, whether the window is active,
//    and the requests to end.  Asked from every thread (the dispatch thread
//    gates speech and sound on isMainWindowActive), so each method says
//    which thread may call it.
//  - UiViewSeam: what the main window shows, its three controls and its
//    title: history view, menu list, chat line, focus.  UI thread only.
//  - UiDialogSeam: what holds the UI thread until the player (or the tone)
//    is done: the modal boxes and the beep, and the flag that says a
//    server-driven box is open.  UI thread only, but for the flag.
// A front-end implements all three (UiSeam); the defaults make a null UI
// that has no main window, so the core never tests for absence.
//
// Texts crossing these seams are CP1252 bytes, as everywhere in the core; a
// front-end converts at its own edge.  Other threads reach the UI-thread
// methods by wrapping the call in uiCall().

struct UiThreadSeam {
    virtual ~UiThreadSeam() = default;

    // Runs `task` on the UI thread and returns once it has run.  Called on
    // the UI thread itself it runs at once, nested.  Tasks must also run while
    // the UI thread sits in a modal loop (dialog, message box).  Returns false
    // without running the task when there is no main window (not created yet
    // or already gone); callers preset their result slot for that case.
    // Every front-end runs it through its UiTaskQueue (platform/ui_queue.h),
    // the one hand-over to the UI thread; it supplies only the wake-up.
    // Any thread.
    virtual bool runOnUiThread(const std::function<void()>& task) {
        (void)task;
        return false;
    }
    // Any thread.
    virtual bool isUiThread() const { return false; }
    // Whether the main window is the active window.  Any thread (a snapshot).
    virtual bool isMainWindowActive() { return false; }
    // Leaves the front-end's loop; `status` becomes the exit status.
    virtual void requestQuit(int status) { (void)status; }
    // The client closes as when the player closes the main window (the
    // update does it once the installer runs).  The null UI and plain
    // doubles only ask the loop to end with status 0; the application's
    // front-end base says "quit" to the server first.  UI thread.
    virtual void closeClient() { requestQuit(0); }
};

struct UiViewSeam {
    virtual ~UiViewSeam() = default;

    // History view (read-only multi-line text).  Offsets are byte offsets in
    // the CP1252 text.
    virtual void historyAppend(const std::string& text) { (void)text; }
    virtual void historySetText(const std::string& text) { (void)text; }
    virtual std::string historyText() { return {}; }
    virtual void historyGetSelection(int* start, int* end) { *start = *end = 0; }
    virtual void historySetSelection(int start, int end) { (void)start, (void)end; }
    virtual void historyScrollToCaret() {}
    // Removes the first `bytes` bytes of the view's text (whole messages: the
    // history's budget drops the oldest).  The caret and selection keep their
    // place in the text that stays, moving back by `bytes`; a caret or an end
    // inside the removed text goes to the start.
    virtual void historyTrimFront(size_t bytes) { (void)bytes; }
    // Whether a run of messages (historyRunBegin) should reach the view as one
    // append after the run, rather than one append per message as it comes:
    // worth it where each append costs in proportion to the view's length
    // (the Win32 edit control) or has a fixed price of its own (the GTK text
    // buffer).  Front-ends that report each append as an event of their own
    // keep the default.
    virtual bool historyGathersRuns() const { return false; }

    // Menu list.
    virtual void listReset() {}
    virtual void listAdd(const std::string& label) { (void)label; }
    virtual void listDelete(int index) { (void)index; }
    // Replaces the label of row `index` in place (no other row, nor the
    // selection, changes); out of range does nothing.
    virtual void listSetItem(int index, const std::string& label) { (void)index, (void)label; }
    virtual int listCount() { return 0; }
    virtual void listSelect(int index) { (void)index; }  // -1 clears
    virtual int listSelection() { return -1; }

    // Chat line.
    virtual std::string chatText() { return {}; }
    virtual void chatSetText(const std::string& text) { (void)text; }
    virtual void chatSelectRange(int start, int end) { (void)start, (void)end; }

    // Focus and title.
    virtual void setFocus(UiControl control) { (void)control; }
    virtual UiControl focusedControl() { return UiControl::List; }
    virtual void setTitle(const std::string& title) { (void)title; }
};

struct UiDialogSeam {
    virtual ~UiDialogSeam() = default;

    // Modal dialogs owned by the main window.  messageBox takes the Win32
    // MB_* flags and returns the Win32 result code (IDOK = 1 ... IDNO = 7),
    // 0 when it could not be shown.
    virtual int messageBox(const std::string& text, const std::string& title, unsigned flags) {
        (void)text, (void)title, (void)flags;
        return 0;
    }
    // The client's own new-version question: a Yes/No warning box titled
    // "Nouvelle version" (the result code as messageBox's).  Front-ends show
    // it as that message box; the headless front-end reports it as its own
    // event.
    virtual int updateQuestion(const std::string& text, bool required);
    // Returns true and fills *answer when confirmed, false when cancelled.
    virtual bool inputBox(const std::string& title, const std::string& prompt,
                          const std::string& initial, std::string* answer) {
        (void)title, (void)prompt, (void)initial, (void)answer;
        return false;
    }
    // Returns true and fills *path with the chosen file name.
    virtual bool saveFileDialog(std::string* path) {
        (void)path;
        return false;
    }
    // A tone; the caller waits for it to end.
    virtual void beep(int hz, int ms) { (void)hz, (void)ms; }

    // Whether a server-driven input box or message box is open.  The dialog
    // handlers set it around the box on the UI thread; history speech and
    // sound gating read it on any thread, hence atomic.  It belongs to this
    // front-end: a new one starts with no dialog open.
    bool isInDialog() const { return inDialog_.load(); }
    void setInDialog(bool open) { inDialog_.store(open); }

private:
    std::atomic<bool> inDialog_{false};
};

// A whole front-end: the three seams at once.
struct UiSeam : UiThreadSeam, UiViewSeam, UiDialogSeam {};

// The installed front-end's three seams (the null UI's until one is set).
// Set once at start-up before other threads exist, or by tests between
// runs; each accessor may be called on any thread.
UiThreadSeam& uiThread();
UiViewSeam& uiViews();
UiDialogSeam& uiDialogs();
void setUi(UiSeam* seam);  // nullptr restores the null UI

// The UI-thread call: see UiThreadSeam::runOnUiThread.
inline bool uiCall(const std::function<void()>& task) { return uiThread().runOnUiThread(task); }

// Win32 message box constants, used by the portable core on every platform.
enum : unsigned {
    MBX_OK = 0x0,
    MBX_OKCANCEL = 0x1,
    MBX_ABORTRETRYIGNORE = 0x2,
    MBX_YESNOCANCEL = 0x3,
    MBX_YESNO = 0x4,
    MBX_RETRYCANCEL = 0x5,
    MBX_ICONERROR = 0x10,
    MBX_ICONQUESTION = 0x20,
    MBX_ICONWARNING = 0x30,
    MBX_ICONINFORMATION = 0x40,
};

inline int UiDialogSeam::updateQuestion(const std::string& text, bool) {
    return messageBox(text, "Nouvelle version", MBX_YESNO | MBX_ICONWARNING);
}
