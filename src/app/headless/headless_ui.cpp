#include "app/headless/headless_ui.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "app/commands.h"
#include "app/keyboard.h"
#include "audio/sound.h"
#include "menu/menus.h"
#include "net/conndlg.h"
#include "platform/fields.h"
#include "platform/text.h"
#include "platform/thread_name.h"

std::string escapeEventText(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if (c == '\\') out += "\\\\";
        else if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

void EventOut::emit(const std::string& head, const std::string& text, bool withText, bool now) {
    std::string line = head;
    if (withText) {
        line += ' ';
        line += escapeEventText(cp1252ToUtf8(text));
    }
    line += '\n';
    std::lock_guard<std::mutex> lock(mu_);
    std::fwrite(line.data(), 1, line.size(), out_);
    if (now || held_ != std::this_thread::get_id()) {
        std::fflush(out_);
        waiting_ = false;
    } else {
        waiting_ = true;
    }
}

void EventOut::holdOn(std::thread::id uiThread) {
    std::lock_guard<std::mutex> lock(mu_);
    held_ = uiThread;
    if (waiting_) std::fflush(out_);
    waiting_ = false;
}

void EventOut::flush() {
    std::lock_guard<std::mutex> lock(mu_);
    if (waiting_) std::fflush(out_);
    waiting_ = false;
}

void EventSpeech::speak(const std::string& text, bool interrupt) {
    out_.emit(interrupt ? "speak 1" : "speak 0", text, true);
}

namespace {
const char* controlName(UiControl c) {
    switch (c) {
        case UiControl::History: return "history";
        case UiControl::List: return "list";
        case UiControl::Chat: return "chat";
    }
    return "list";
}

bool parseControl(const std::string& s, UiControl* c) {
    if (s == "history") *c = UiControl::History;
    else if (s == "list") *c = UiControl::List;
    else if (s == "chat") *c = UiControl::Chat;
    else return false;
    return true;
}

// Splits "a b rest..." into its first word and the rest.
std::pair<std::string, std::string> firstWord(const std::string& s) {
    size_t sp = s.find(' ');
    if (sp == std::string::npos) return {s, {}};
    return {s.substr(0, sp), s.substr(sp + 1)};
}

// Script numbers read as the server's are: blanks, a sign, digits, saturated.
int toInt(const std::string& s) { return readInt32(s); }
}  // namespace

HeadlessUi::HeadlessUi(std::istream& in, EventOut& out)
    : in_(in), out_(out), shared_(std::make_shared<InputShared>()) {
    queue_.open();
    out_.holdOn(std::this_thread::get_id());
    shared_->wake = &queue_;
    std::thread([shared = shared_, &in = in_] {
        setThreadName("kordo-input");
        std::string line;
        for (;;) {
            Input item;
            if (std::getline(in, line)) {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                auto [verb, rest] = firstWord(line);
                item.verb = verb;
                item.rest = rest;
            } else {
                item.eof = true;
            }
            std::lock_guard<std::mutex> lock(shared->mu);
            shared->lines.push_back(item);
            if (shared->wake) shared->wake->wake();
            if (item.eof) return;
        }
    }).detach();
}

void HeadlessUi::endInputNow() {
    std::lock_guard<std::mutex> lock(shared_->mu);
    Input item;
    item.eof = true;
    shared_->lines.push_front(item);
    if (shared_->wake) shared_->wake->wake();
}

HeadlessUi::~HeadlessUi() {
    out_.holdOn({});
    std::lock_guard<std::mutex> lock(shared_->mu);
    shared_->wake = nullptr;
}

std::optional<HeadlessUi::Input> HeadlessUi::nextInput() {
    std::lock_guard<std::mutex> lock(shared_->mu);
    if (shared_->lines.empty()) return std::nullopt;
    Input in = shared_->lines.front();
    if (!in.eof) shared_->lines.pop_front();  // end of input stays seen
    return in;
}

bool HeadlessUi::createMainWindow() {
    windowOpen_ = true;
    return true;
}

void HeadlessUi::showMainWindow() { out_.emit("ready"); }

void HeadlessUi::closeMainWindow() {
    windowOpen_ = false;
    queue_.close();
}

void HeadlessUi::fatalError(const std::string& text) { out_.emit("dialog error", text, true, true); }

void HeadlessUi::sleepRunningTasks(int ms) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        until - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) break;
        out_.flush();
        queue_.waitAndRun(static_cast<int>(left));
    }
    queue_.runPending();
}

std::optional<std::string> HeadlessUi::waitForAnswer() {
    for (;;) {
        queue_.runPending();
        if (quit_) return std::nullopt;
        auto in = nextInput();
        if (!in) {
            out_.flush();
            queue_.waitAndRun();
            continue;
        }
        if (in->eof || in->verb == "cancel") return std::nullopt;
        if (in->verb == "answer") return in->rest;
        if (in->verb == "sleep") sleepRunningTasks(toInt(in->rest));
        else if (in->verb == "activate") handle(*in);
        else deferred_.push_back(*in);
    }
}

void HeadlessUi::runConnectionDialog(ConnDialog* d) {
    while (d->open && !quit_) {
        std::string names;
        for (size_t i = 0; i < d->serverNames.size(); ++i) {
            if (i) names += '|';
            names += d->serverNames[i];
        }
        out_.emit("dialog connection " + std::to_string(d->selection), names, true, true);
        auto answer = waitForAnswer();
        if (!answer) {
            connDlgCancel(d);
            break;
        }
        // "<index>|<login>|<password>": the password is the rest, '|' and all.
        std::string a = utf8ToCp1252(*answer);
        size_t p1 = a.find('|');
        size_t p2 = p1 == std::string::npos ? std::string::npos : a.find('|', p1 + 1);
        int index = toInt(a.substr(0, p1));
        if (index != d->selection) connDlgSelectionChanged(d, index);
        if (p1 != std::string::npos) d->login = a.substr(p1 + 1, p2 == std::string::npos ? std::string::npos : p2 - p1 - 1);
        if (p2 != std::string::npos) d->password = a.substr(p2 + 1);
        connDlgConnect(d);
        out_.flush();  // the connection may keep this thread a while
    }
}

int HeadlessUi::messageBox(const std::string& text, const std::string& title, unsigned flags) {
    if (!windowOpen_) return 0;
    out_.emit("dialog msgbox " + std::to_string(flags), title + "|" + text, true, true);
    return boxAnswer(flags);
}

int HeadlessUi::updateQuestion(const std::string& text, bool required) {
    if (!windowOpen_) return 0;
    out_.emit(required ? "dialog update 1" : "dialog update 0", text, true, true);
    return boxAnswer(MBX_YESNO | MBX_ICONWARNING);
}

int HeadlessUi::boxAnswer(unsigned flags) {
    auto answer = waitForAnswer();
    if (answer) return toInt(*answer);
    // Escape: Cancel where the box has one; an OK-only box answers OK.
    switch (flags & 0xF) {
        case MBX_OK: return 1;
        case MBX_YESNO: return 7;
        case MBX_ABORTRETRYIGNORE: return 3;
        default: return 2;
    }
}

bool HeadlessUi::inputBox(const std::string& title, const std::string& prompt,
                          const std::string& initial, std::string* answer) {
    if (!windowOpen_) return false;
    out_.emit("dialog input", title + "|" + prompt + "|" + initial, true, true);
    auto a = waitForAnswer();
    if (!a) return false;
    *answer = utf8ToCp1252(*a);
    return true;
}

bool HeadlessUi::saveFileDialog(std::string* path) {
    if (!windowOpen_) return false;
    out_.emit("dialog save", {}, false, true);
    auto a = waitForAnswer();
    if (!a || a->empty()) return false;
    *path = utf8ToCp1252(*a);
    return true;
}

void HeadlessUi::beep(int hz, int ms) {
    // A beep holds the UI thread for its length, as the desktop's does: out
    // at once.
    out_.emit("beep " + std::to_string(hz) + " " + std::to_string(ms), {}, false, true);
    playTone(hz, ms);
    sleepRunningTasks(ms);
}

void HeadlessUi::historyAppend(const std::string& text) {
    view_.historyAppend(text);
    out_.emit("history", text, true);
}

void HeadlessUi::historySetText(const std::string& text) {
    view_.history = text;
    out_.emit("history-set", text, true);
}

void HeadlessUi::historyTrimFront(size_t bytes) {
    bytes = view_.historyTrimFront(bytes);
    if (bytes > 0) out_.emit("history-trim " + std::to_string(bytes));
}

void HeadlessUi::historyGetSelection(int* start, int* end) {
    *start = view_.selStart;
    *end = view_.selEnd;
}

void HeadlessUi::historySetSelection(int start, int end) {
    view_.selStart = start;
    view_.selEnd = end;
}

void HeadlessUi::listReset() {
    view_.listReset();
    out_.emit("list-reset");
}

void HeadlessUi::listAdd(const std::string& label) {
    view_.listAdd(label);
    out_.emit("list-add", label, true);
}

void HeadlessUi::listDelete(int index) {
    if (view_.listDelete(index)) out_.emit("list-del " + std::to_string(index));
}

void HeadlessUi::listSetItem(int index, const std::string& label) {
    if (view_.listSetItem(index, label)) out_.emit("list-set " + std::to_string(index), label, true);
}

void HeadlessUi::listSelect(int index) { out_.emit("list-select " + std::to_string(view_.listSelect(index))); }

void HeadlessUi::chatSetText(const std::string& text) {
    view_.chat = text;
    out_.emit("chat-text", text, true);
}

void HeadlessUi::chatSelectRange(int, int) {}

void HeadlessUi::setFocus(UiControl control) {
    view_.focus = control;
    out_.emit(std::string("focus ") + controlName(control));
}

void HeadlessUi::setTitle(const std::string& title) { out_.emit("title", title, true); }

void HeadlessUi::requestQuit(int status) {
    if (quit_) return;  // the first quit message ends the loop
    quit_ = true;
    quitStatus_ = status;
    queue_.wake();
}

void HeadlessUi::handle(const Input& in) {
    const std::string& v = in.verb;
    if (in.eof) {
        // End of input: the player closes the main window.
        mainWindowDestroyed();
        return;
    }
    auto [a, rest] = firstWord(in.rest);
    UiControl c = UiControl::List;
    if (v == "keydown" || v == "keyup") {
        auto [control, more] = firstWord(rest);
        (void)more;
        if (!parseControl(control, &c)) return;
        const int vk = toInt(a) & 0xFF;
        const bool down = v == "keydown";
        // While another window is active (activate 0) the keys are that
        // window's: no control sees them, but the keyboard's state changes,
        // so a modifier released there is up when the player comes back.
        if (active_) {
            auto gone = [this] { return !windowOpen_; };
            routeKey(KeyEvent{vk, down, c, heldModifiers(held_), false, gone});
        }
        heldKeysUpdate(&held_, vk, down);
    } else if (v == "char") {
        if (!parseControl(rest, &c)) return;
        int code = toInt(a);
        if (c == UiControl::List) {
            if (!listAcceptsChar()) return;
            int target = listTypeAheadTarget(static_cast<char>(code));
            if (target >= 0 && target != view_.listSel) {
                listSelect(target);
                selectionStep();
            }
        } else if (c == UiControl::Chat && code >= 32) {
            view_.chat += static_cast<char>(code);
        }
    } else if (v == "command") {
        runCommand(toInt(a));
    } else if (v == "click") {
        int index = toInt(rest);
        if (!view_.isRow(index)) {
            // A press below the last row: the list takes the focus and its
            // selection stays, so nothing is chosen (as on the desktop).  It
            // is no click on an item either: the next selection change, a
            // type-ahead say, is the player's keys, not this press.
            setFocus(UiControl::List);
            return;
        }
        listClicked(a == "right" ? ListButton::Right : ListButton::Left);
        listSelect(index);
        selectionStep();
    } else if (v == "type") {
        view_.chat = utf8ToCp1252(in.rest);
    } else if (v == "caret") {
        int start = toInt(a);
        int end = rest.empty() ? start : toInt(rest);
        historySetSelection(start, end);
    } else if (v == "activate") {
        active_ = toInt(a) != 0;
        if (!active_) mainWindowLostFocus();
    } else if (v == "sleep") {
        sleepRunningTasks(toInt(a));
    }
    // "answer" and "cancel" outside a dialog, and unknown verbs, are ignored.
}

int HeadlessUi::runMessageLoop() {
    while (!quit_) {
        queue_.runPending();
        if (quit_) break;
        std::optional<Input> in;
        if (!deferred_.empty()) {
            in = deferred_.front();
            deferred_.pop_front();
        } else {
            in = nextInput();
        }
        if (!in) {
            out_.flush();
            queue_.waitAndRun();
            continue;
        }
        handle(*in);
    }
    out_.emit("quit " + std::to_string(quitStatus_), {}, false, true);
    // The shut-down that follows may wait on other threads: its events go
    // out as they come.
    out_.holdOn({});
    return quitStatus_;
}
