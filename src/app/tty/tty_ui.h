// The terminal front-end: the main window's three controls as a console
// screen reader reads them, on a terminal in raw mode.
//
// - History: each message is written as its own line(s) as it arrives.
//   With the history focused (Alt+H, Tab), Up/Down, Home/End and Page
//   Up/Down read its lines back one at a time.
// - List: a menu that opens is written as its size, then its selected item;
//   each selection move writes the item's text on a line of its own.
// - Chat: the one prompt line, "Chat: " and the text, edited in place.
// - Dialogs (connection, input box, message box, save box) are prompts with
//   their buttons named, answered by keys.
//
// Every key goes through the one key path (routeKey); terminals send no key
// releases, so each key is routed as a press and a release.  Keys a
// terminal cannot send have alternatives (kAltKeys).
//
// Threads: made on the UI thread, which runs clientMain and the loop.  The
// loop sleeps in poll() on the terminal, the UI-thread call's wake pipe and
// the signal pipe; a lone ESC adds a deadline.  Speech for a console reader
// (TtyReaderSpeech) may come from any thread.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/client.h"
#include "app/headless/view_model.h"
#include "app/tty/key_decoder.h"
#include "app/tty/line_edit.h"
#include "app/tty/screen.h"
#include "platform/speech_backend.h"
#include "platform/ui_queue.h"

// Keys a terminal may not send, and what stands for them: an Alt+key the
// desktop leaves unused, turned into the key it stands for before the key
// path sees it.  Listed in --help and the manual page.
struct AltKey {
    int vk;  // the key pressed with Alt (no Ctrl)
    TermKey means;
    const char* help;  // UTF-8, for --help
};
extern const std::vector<AltKey> kAltKeys;
// `k` with its alternative applied (unchanged when it is none).
TermKey applyAltKey(const TermKey& k);
// Alt+Q and Alt+F4: the player closes the client.
bool isCloseKey(const TermKey& k);

// Speech for a console screen reader: what the client would say is written
// on the terminal, for the reader to read (and not spoken a second time by
// the client).  A history message is written once, not again as speech.
class TtyReaderSpeech : public SpeechBackend {
public:
    explicit TtyReaderSpeech(TtyScreen& screen) : screen_(screen) {}
    void speak(const std::string& text, bool interrupt) override;

private:
    TtyScreen& screen_;
};

class TtyUi : public FrontEnd {
public:
    // `inFd`: the terminal's input (raw mode already on); `signalFd`: the
    // raw terminal's signal pipe, or -1; `columns`: asked again at SIGWINCH.
    TtyUi(int inFd, int signalFd, TtyScreen& screen, std::function<int()> columns);
    ~TtyUi() override;

    // FrontEnd
    bool createMainWindow() override;
    void runConnectionDialog(ConnDialog* d) override;
    int runMessageLoop() override;
    void closeMainWindow() override;
    void fatalError(const std::string& text) override;

    // UiThreadSeam
    bool runOnUiThread(const std::function<void()>& task) override { return queue_.call(task); }
    bool isUiThread() const override { return queue_.isUiThread(); }
    // The terminal is the window, and a terminal does not say whether it
    // has the keyboard: it counts as active.
    bool isMainWindowActive() override { return true; }
    void requestQuit(int status) override;

    // UiViewSeam
    void historyAppend(const std::string& text) override;
    void historySetText(const std::string& text) override { view_.history = text; }
    std::string historyText() override { return view_.history; }
    void historyGetSelection(int* start, int* end) override;
    void historySetSelection(int start, int end) override;
    void listReset() override;
    void listAdd(const std::string& label) override { view_.listAdd(label); }
    void listDelete(int index) override { view_.listDelete(index); }
    void listSetItem(int index, const std::string& label) override;
    int listCount() override { return static_cast<int>(view_.list.size()); }
    void listSelect(int index) override;
    int listSelection() override { return view_.listSel; }
    std::string chatText() override { return chat_.text; }
    void chatSetText(const std::string& text) override;
    void chatSelectRange(int start, int end) override;
    void setFocus(UiControl control) override;
    UiControl focusedControl() override { return view_.focus; }
    void setTitle(const std::string& title) override { screen_.writeLines(title); }

    // UiDialogSeam
    int messageBox(const std::string& text, const std::string& title, unsigned flags) override;
    bool inputBox(const std::string& title, const std::string& prompt, const std::string& initial,
                  std::string* answer) override;
    bool saveFileDialog(std::string* path) override;
    void beep(int hz, int ms) override;

private:
    using KeyHandler = std::function<void(const TermKey&)>;
    // Runs UI tasks and hands keys to `handler` until `done` or a quit.
    void loop(const std::function<bool()>& done, const KeyHandler& handler);
    // Sleeps until the terminal, a task or a signal has something (or the
    // ESC deadline passes), then takes it in.
    void waitForEvents();
    void readTerminal();
    void readSignals();
    void mainKey(TermKey k);
    void controlKey(UiControl c, const TermKey& k);
    void historyKey(const TermKey& k);
    void writeItem(int index);
    // The prompt line that belongs to the main window: the chat line when it
    // has the focus, else none.
    void refreshPrompt();
    // A line of text asked for in a dialog: nullopt when cancelled.
    std::optional<std::string> askLine(const std::string& title, const std::string& prompt,
                                       const std::string& initial);

    int inFd_;
    int signalFd_;
    int wake_[2] = {-1, -1};
    TtyScreen& screen_;
    std::function<int()> columns_;
    UiTaskQueue queue_;

    KeyDecoder decoder_;
    std::deque<TermKey> keys_;  // decoded, not yet handled
    std::chrono::steady_clock::time_point escDeadline_{};
    bool inputOpen_ = true;

    bool quit_ = false;
    int quitStatus_ = 0;
    bool windowOpen_ = false;

    ViewModel view_;
    LineEdit chat_;
    int historyLine_ = 0;  // the history line read back last (focused history)
    // A refill of the list (listReset) is announced at its first selection,
    // unless it shows the same menu as before with the same selection.
    bool listFresh_ = false;
    std::vector<std::string> previousList_;
    int previousSel_ = -1;
};
