// The Linux desktop front-end: the GTK 3 main window "Le Kordo" with its
// four controls, the key routing into the keyboard logic, the modal dialogs
// and the UI-thread call on the GLib main loop.
//
// Threads: the object is made, and every method but runOnUiThread(),
// isUiThread() and isMainWindowActive() is called, on the thread that called gtk_init (the UI
// thread).  Texts crossing the seam are CP1252; widgets hold UTF-8, and
// since every CP1252 byte is one code point, byte offsets of the core are
// character offsets of the widgets.
//
// The class is defined over several files, one concern each: ui_call.cpp
// (the UI-thread call), main_window.cpp (the window, its layout and loops),
// controls.cpp (history, menu list, chat line and focus), key_events.cpp
// (key routing; keys.cpp holds the key table), dialogs.cpp (message, input
// and save boxes) and conn_dialog.cpp (the connection dialog).
// gtk_frontend_internal.h holds what they share.
#pragma once

#include <gtk/gtk.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/client.h"
#include "platform/ui_queue.h"

class GtkFrontEnd : public FrontEnd {
public:
    GtkFrontEnd();
    ~GtkFrontEnd() override;

    // FrontEnd
    bool createMainWindow() override;
    void showMainWindow() override;
    void runConnectionDialog(ConnDialog* d) override;
    int runMessageLoop() override;
    void closeMainWindow() override;
    void fatalError(const std::string& text) override;

    // From now on SIGTERM, SIGINT and SIGHUP close the client as the player
    // closing the main window does (see main_window.cpp).  Called once, by
    // the program's main, before clientMain.
    void closeOnTerminationSignals();

    // UiThreadSeam
    bool runOnUiThread(const std::function<void()>& task) override;
    bool isUiThread() const override;
    bool isMainWindowActive() override { return active_.load(); }
    void requestQuit(int status) override;

    // UiViewSeam
    void historyAppend(const std::string& text) override;
    void historySetText(const std::string& text) override;
    std::string historyText() override;
    void historyGetSelection(int* start, int* end) override;
    void historySetSelection(int start, int end) override;
    void historyScrollToCaret() override;
    void historyTrimFront(size_t bytes) override;
    // Each insert into the text buffer costs its own B-tree edit, line
    // invalidation, layout pass and accessibility event, a fixed price per
    // insert, not per byte: a run of messages is one insert.
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
    int showMessageBox(const std::string& text, const std::string& title, unsigned flags,
                       GtkWidget* owner);

    // The idle source that drains the UI-thread calls (data: this).
    static gboolean drainCalls(gpointer self);

    // Iterates the main context (a nested loop) until `done` is true or a
    // quit request arrives; dialogs use it instead of gtk_dialog_run so that
    // a quit request ends them too.
    void runNested(const bool& done);
    // Destroys a modal dialog, then activates `owner` (if any) and waits a
    // bounded time for it to be active.
    void closeModal(GtkWidget* dlg, GtkWidget* owner);
    void quitLoops();
    // The main window exists: UI-thread calls are accepted from now on.
    void openCalls();
    // The main window is gone (closed by the player or at shut-down): no
    // further UI-thread call runs, and waiting callers are released.
    void markGone();

    // Which of the three controls holds the keyboard focus (false: none).
    bool focusedControlOf(UiControl* out);
    void layout(int w, int h);
    void applyFont();
    int rowIndex(GtkListBoxRow* row) const;

    void forgetWidgets();
    void typeAhead(guint keyval);
    void scrollHistoryLater();
    void placeCaretAtEnd();

    gboolean onKey(GdkEventKey* ev, bool down);
    void onRowSelected(GtkListBoxRow* row);
    gboolean onListButton(GdkEventButton* ev);
    void onDestroy();
    void onAllocate(int w, int h);
    void onTerminationSignal();

    friend struct GtkFrontEndSignals;

    GtkWidget* window_ = nullptr;
    GtkWidget* area_ = nullptr;  // GtkLayout: places the controls, asks no size
    GtkWidget* historyScroll_ = nullptr;
    GtkWidget* history_ = nullptr;  // GtkTextView
    GtkWidget* listScroll_ = nullptr;
    GtkWidget* list_ = nullptr;  // GtkListBox
    GtkWidget* chatLabel_ = nullptr;
    GtkWidget* chat_ = nullptr;  // GtkEntry
    std::vector<GtkWidget*> rows_;  // the list's rows, in order
    GtkWidget* selectedRow_ = nullptr;  // the selected row, as last told to the accessibility bus
    int layoutW_ = -1, layoutH_ = -1;
    int clientSelecting_ = 0;  // > 0 while the client itself changes the selection
    bool scrollPending_ = false;
    bool layoutPending_ = false;
    bool caretAtEnd_ = false;  // the history's caret belongs at the end (see historyAppend)

    std::vector<GMainLoop*> loops_;  // the main loop and nested dialog loops, innermost last
    bool quitRequested_ = false;
    int status_ = 0;
    bool closing_ = false;
    std::atomic<bool> active_{false};
    std::vector<guint> signalSources_;  // closeOnTerminationSignals

    const std::thread::id uiThread_;
    UiTaskQueue calls_;  // the UI-thread calls
};
