// A recording UI on the headless front-end's model of the history view, the
// list and the chat line (app/headless/view_model.h), that writes every
// change, every sound request and every spoken line into one ordered event
// log, so tests can check what the player sees and hears, and in which
// order.  Events look like the headless front-end's:
//   list-reset, list-add <label>, list-del <i>, list-set <i> <label>,
//   list-select <i>, history <text>, history-trim <bytes>, chat-text <text>,
//   chat-select <a> <b>, beep <hz>, sound <spec>, speak <0|1> <text>.
// Seam methods run on the UI thread of RecordingUi; readers take the lock.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "app/headless/view_model.h"
#include "audio/sound.h"
#include "platform/speech_backend.h"
#include "speech/speech.h"
#include "support/recording_ui.h"

class EventUi : public RecordingUi {
public:
    EventUi() : speech_(this) {
        setSpeechBackend(&speech_);
        setPlayRequestObserver([this](std::string_view sz, int) { log("sound " + std::string(sz)); });
    }
    ~EventUi() override {
        setPlayRequestObserver(nullptr);
        setSpeechBackend(nullptr);
    }

    // The recorder as the voice back-end, switched on (the client then speaks
    // menu items itself), or back as a screen reader (it does not).
    void selfVoicing(bool on) {
        if (on) {
            selectSpeechBackend(kSpeechVoice, &speech_);
            sapiEnable(true);
        } else {
            setSpeechBackend(&speech_);
        }
    }

    // History view.
    void historyAppend(const std::string& text) override {
        std::lock_guard<std::mutex> g(mu);
        view.historyAppend(text);
        events.push_back("history " + text);
    }
    std::string historyText() override {
        std::lock_guard<std::mutex> g(mu);
        return view.history;
    }
    void historySetText(const std::string& text) override {
        std::lock_guard<std::mutex> g(mu);
        view.history = text;
    }
    void historyGetSelection(int* start, int* end) override {
        std::lock_guard<std::mutex> g(mu);
        *start = view.selStart;
        *end = view.selEnd;
    }
    void historySetSelection(int start, int end) override {
        std::lock_guard<std::mutex> g(mu);
        view.selStart = start;
        view.selEnd = end;
    }
    void historyTrimFront(size_t bytes) override {
        std::lock_guard<std::mutex> g(mu);
        events.push_back("history-trim " + std::to_string(view.historyTrimFront(bytes)));
    }
    void historyScrollToCaret() override {
        std::lock_guard<std::mutex> g(mu);
        ++scrolls;
    }
    bool historyGathersRuns() const override { return gathersRuns.load(); }

    // List.
    void listReset() override {
        std::lock_guard<std::mutex> g(mu);
        view.listReset();
        events.push_back("list-reset");
    }
    void listAdd(const std::string& label) override {
        std::lock_guard<std::mutex> g(mu);
        if (refuseListAdds || refuseNextListAdd) {
            refuseNextListAdd = false;
            return;
        }
        view.listAdd(label);
        events.push_back("list-add " + label);
    }
    void listDelete(int index) override {
        std::lock_guard<std::mutex> g(mu);
        if (view.listDelete(index)) events.push_back("list-del " + std::to_string(index));
    }
    void listSetItem(int index, const std::string& label) override {
        std::lock_guard<std::mutex> g(mu);
        if (view.listSetItem(index, label)) events.push_back("list-set " + std::to_string(index) + " " + label);
    }
    int listCount() override {
        std::lock_guard<std::mutex> g(mu);
        return static_cast<int>(view.list.size());
    }
    // Takes the index unchecked, unlike the front-end: a test can put the
    // list's selection out of step with its menu (see injectListLine).
    void listSelect(int index) override {
        std::lock_guard<std::mutex> g(mu);
        view.listSel = index;
        events.push_back("list-select " + std::to_string(index));
    }
    int listSelection() override {
        std::lock_guard<std::mutex> g(mu);
        return view.listSel;
    }

    // Chat line.
    std::string chatText() override {
        std::lock_guard<std::mutex> g(mu);
        return view.chat;
    }
    void chatSetText(const std::string& text) override {
        std::lock_guard<std::mutex> g(mu);
        view.chat = text;
        events.push_back("chat-text " + text);
    }
    void chatSelectRange(int start, int end) override {
        std::lock_guard<std::mutex> g(mu);
        events.push_back("chat-select " + std::to_string(start) + " " + std::to_string(end));
    }

    UiControl focusedControl() override {
        std::lock_guard<std::mutex> g(mu);
        return view.focus;
    }
    bool saveFileDialog(std::string* path) override {
        std::lock_guard<std::mutex> g(mu);
        if (savePath.empty()) return false;
        *path = savePath;
        return true;
    }
    void beep(int hz, int ms) override {
        RecordingUi::beep(hz, ms);
        log("beep " + std::to_string(hz));
    }

    void log(const std::string& e) {
        std::lock_guard<std::mutex> g(mu);
        events.push_back(e);
    }
    std::vector<std::string> take() {
        std::lock_guard<std::mutex> g(mu);
        std::vector<std::string> out;
        out.swap(events);
        return out;
    }
    // Puts a line into the list behind the menus' back, as a list control
    // that has fallen out of step with its menu would hold it.
    void injectListLine(const std::string& label) {
        std::lock_guard<std::mutex> g(mu);
        view.listAdd(label);
    }
    std::vector<std::string> listLines() {
        std::lock_guard<std::mutex> g(mu);
        return view.list;
    }
    void setFocus(UiControl c) override {
        std::lock_guard<std::mutex> g(mu);
        view.focus = c;
    }
    void setChat(const std::string& text) {
        std::lock_guard<std::mutex> g(mu);
        view.chat = text;
    }
    void setHistory(const std::string& text, int caret) {
        std::lock_guard<std::mutex> g(mu);
        view.history = text;
        view.selStart = view.selEnd = caret;
    }
    std::pair<int, int> historySelection() {
        std::lock_guard<std::mutex> g(mu);
        return {view.selStart, view.selEnd};
    }
    int historyScrolls() {
        std::lock_guard<std::mutex> g(mu);
        return scrolls;
    }

    // Set before use by tests.
    std::string savePath;
    bool refuseListAdds = false;     // the list takes no line
    bool refuseNextListAdd = false;  // ... only the next one
    std::atomic<bool> gathersRuns{false};  // the view takes a run in one append

private:
    struct Speech : SpeechBackend {
        explicit Speech(EventUi* u) : ui(u) {}
        void speak(const std::string& text, bool interrupt) override {
            ui->log("speak " + std::string(interrupt ? "1 " : "0 ") + text);
        }
        EventUi* ui;
    };

    std::mutex mu;
    std::vector<std::string> events;
    ViewModel view;  // guarded by mu
    int scrolls = 0;  // historyScrollToCaret calls
    Speech speech_;
};
