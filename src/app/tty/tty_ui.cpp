#include "app/tty/tty_ui.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <optional>
#include <thread>

#include "app/commands.h"
#include "app/key_codes.h"
#include "app/keyboard.h"
#include "app/tty/terminal.h"
#include "audio/sound.h"
#include "menu/menus.h"
#include "net/conndlg.h"
#include "platform/text.h"

namespace {

TermKey makeKey(int vk, bool shift, bool ctrl) {
    TermKey k;
    k.vk = vk;
    k.shift = shift;
    k.ctrl = ctrl;
    return k;
}

// "&Connecter" -> "Connecter": the access-key marker of a label.
std::string withoutMarker(const char* label) {
    std::string s;
    for (const char* p = label; *p; ++p)
        if (*p != '&') s += *p;
    return s;
}

// The access key of a label: the letter after "&", upper case; 0 if none.
int accessKey(const char* label) {
    for (const char* p = label; *p; ++p)
        if (*p == '&' && p[1]) return std::toupper(static_cast<unsigned char>(p[1]));
    return 0;
}

struct BoxButton {
    const char* label;  // CP1252
    char key;           // the letter that answers it
    int result;
};

// Lines of a text split at its line breaks (CR LF), as the history view
// holds them; the view begins with a line break, so the first is skipped.
std::vector<std::pair<size_t, size_t>> viewLines(const std::string& text) {
    std::vector<std::pair<size_t, size_t>> lines;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        lines.emplace_back(pos, end - pos);
        if (end == text.size()) break;
        pos = end + 1;
        if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
    }
    if (!lines.empty() && lines.front().second == 0) lines.erase(lines.begin());
    return lines;
}

}  // namespace

const std::vector<AltKey> kAltKeys = {
    {'5', makeKey(VKEY_F5, false, true), "Alt+5   Ctrl+F5: music paused or resumed"},
    {'6', makeKey(VKEY_F6, false, true), "Alt+6   Ctrl+F6: the client's own voice on or off"},
    {'7', makeKey(VKEY_F7, false, true), "Alt+7   Ctrl+F7: the voice slower"},
    {'8', makeKey(VKEY_F8, false, true), "Alt+8   Ctrl+F8: the voice faster"},
    {'X', makeKey(VKEY_DELETE, true, true), "Alt+X   Ctrl+Shift+Delete: drop the connection"},
    {'A', makeKey(VKEY_APPS, false, false), "Alt+A   the Applications (context menu) key"},
};

TermKey applyAltKey(const TermKey& k) {
    if (!k.alt || k.ctrl || k.shift) return k;
    for (const AltKey& a : kAltKeys)
        if (a.vk == k.vk) return a.means;
    return k;
}

bool isCloseKey(const TermKey& k) {
    return k.alt && !k.ctrl && !k.shift && (k.vk == 'Q' || k.vk == VKEY_F4);
}

void TtyReaderSpeech::speak(const std::string& text, bool) { screen_.writeSpoken(text); }

TtyUi::TtyUi(int inFd, int signalFd, TtyScreen& screen, std::function<int()> columns)
    : inFd_(inFd), signalFd_(signalFd), screen_(screen), columns_(std::move(columns)) {
    if (pipe(wake_) == 0) {
        for (int p : wake_) {
            fcntl(p, F_SETFL, fcntl(p, F_GETFL) | O_NONBLOCK);
            fcntl(p, F_SETFD, FD_CLOEXEC);
        }
    }
    const int wakeFd = wake_[1];
    queue_.setNotify([wakeFd] {
        const char c = 'w';
        ssize_t r = write(wakeFd, &c, 1);  // a full pipe is awake already
        (void)r;
    });
    queue_.open();
}

TtyUi::~TtyUi() {
    queue_.close();
    queue_.setNotify(nullptr);
    for (int p : wake_)
        if (p >= 0) close(p);
}

// --- the loop -----------------------------------------------------------------

void TtyUi::loop(const std::function<bool()>& done, const KeyHandler& handler) {
    while (!quit_ && !done()) {
        queue_.runPending();
        if (quit_ || done()) break;
        if (!keys_.empty()) {
            TermKey k = keys_.front();
            keys_.pop_front();
            handler(k);
            continue;
        }
        waitForEvents();
    }
}

void TtyUi::waitForEvents() {
    int timeout = -1;
    if (keyDecoderPending(decoder_)) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        escDeadline_ - std::chrono::steady_clock::now())
                        .count();
        timeout = static_cast<int>(std::max<long long>(0, left));
    }
    pollfd fds[3] = {{inputOpen_ ? inFd_ : -1, POLLIN, 0}, {wake_[0], POLLIN, 0}, {signalFd_, POLLIN, 0}};
    int n = poll(fds, 3, timeout);
    if (n < 0) return;  // interrupted: the caller looks again
    if (fds[1].revents & POLLIN) {
        char buf[64];
        while (read(wake_[0], buf, sizeof buf) > 0) {
        }
    }
    if (fds[2].revents & POLLIN) readSignals();
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) readTerminal();
    if (keyDecoderPending(decoder_) && std::chrono::steady_clock::now() >= escDeadline_) {
        std::vector<TermKey> keys;
        keyDecoderFlush(&decoder_, &keys);
        keys_.insert(keys_.end(), keys.begin(), keys.end());
    }
}

void TtyUi::readTerminal() {
    char buf[4096];
    ssize_t n = read(inFd_, buf, sizeof buf);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
        // The terminal is gone (hang-up, closed pseudo-terminal): the
        // client ends as when its window is closed.
        inputOpen_ = false;
        if (windowOpen_) mainWindowDestroyed();
        else requestQuit(0);
        return;
    }
    std::vector<TermKey> keys;
    keyDecoderFeed(&decoder_, std::string_view(buf, static_cast<size_t>(n)), &keys);
    keys_.insert(keys_.end(), keys.begin(), keys.end());
    escDeadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(kEscapeWaitMs);
}

void TtyUi::readSignals() {
    char buf[16];
    ssize_t n;
    while ((n = read(signalFd_, buf, sizeof buf)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            switch (buf[i]) {
                case kSignalResize:
                    screen_.setColumns(columns_());
                    screen_.redraw();
                    break;
                case kSignalContinue: screen_.redraw(); break;
                case kSignalTerminate:
                    if (windowOpen_) mainWindowDestroyed();
                    else requestQuit(0);
                    break;
                default: break;
            }
        }
    }
}

bool TtyUi::createMainWindow() {
    windowOpen_ = true;
    return true;
}

int TtyUi::runMessageLoop() {
    loop([] { return false; }, [this](const TermKey& k) { mainKey(k); });
    return quitStatus_;
}

void TtyUi::closeMainWindow() {
    windowOpen_ = false;
    queue_.close();
    screen_.hidePrompt();
}

void TtyUi::fatalError(const std::string& text) { screen_.writeLines("Fatal error: " + text); }

void TtyUi::requestQuit(int status) {
    if (quit_) return;  // the first request ends the loop
    quit_ = true;
    quitStatus_ = status;
    queue_.wake();
}

// --- keys ---------------------------------------------------------------------

void TtyUi::mainKey(TermKey k) {
    if (isCloseKey(k)) {
        mainWindowDestroyed();
        return;
    }
    k = applyAltKey(k);
    const UiControl c = view_.focus;
    const KeyModifiers mods{k.shift, k.ctrl, k.alt};
    auto gone = [this] { return !windowOpen_; };
    bool consumed = false;
    if (k.vk) consumed = routeKey(KeyEvent{k.vk, true, c, mods, false, gone});
    if (!windowOpen_ || quit_) return;
    if (!consumed) controlKey(c, k);
    if (k.vk) routeKey(KeyEvent{k.vk, false, view_.focus, mods, false, gone});
}

void TtyUi::controlKey(UiControl c, const TermKey& k) {
    switch (c) {
        case UiControl::Chat:
            if (lineEditKey(&chat_, k)) refreshPrompt();
            break;
        case UiControl::List: {
            const std::string ch = typedText(k);
            if (ch.size() != 1 || k.ctrl || k.alt || !listAcceptsChar()) break;
            const int target = listTypeAheadTarget(ch[0]);
            if (target >= 0 && target != view_.listSel) {
                listSelect(target);
                selectionStep();
            }
            break;
        }
        case UiControl::History: historyKey(k); break;
    }
}

void TtyUi::historyKey(const TermKey& k) {
    const auto lines = viewLines(view_.history);
    const int n = static_cast<int>(lines.size());
    if (n == 0) return;
    int line = historyLine_;
    switch (k.vk) {
        case VKEY_UP: line -= 1; break;
        case VKEY_DOWN: line += 1; break;
        case VKEY_PRIOR: line -= 10; break;
        case VKEY_NEXT: line += 10; break;
        case VKEY_HOME: line = 0; break;
        case VKEY_END: line = n - 1; break;
        default: return;
    }
    historyLine_ = std::clamp(line, 0, n - 1);
    const auto [start, len] = lines[static_cast<size_t>(historyLine_)];
    const std::string text = view_.history.substr(start, len);
    // The caret goes where Enter opens a link: on the line's first one.
    const size_t link = text.find("http://");
    const int caret = static_cast<int>(start + (link == std::string::npos ? 0 : link));
    view_.selStart = view_.selEnd = caret;
    screen_.writeLines(text);
}

// --- controls -----------------------------------------------------------------

void TtyUi::historyAppend(const std::string& text) {
    view_.historyAppend(text);
    std::string_view msg(text);
    if (msg.substr(0, 2) == "\r\n") msg.remove_prefix(2);
    screen_.writeHistory(msg);
}

void TtyUi::historyGetSelection(int* start, int* end) {
    *start = view_.selStart;
    *end = view_.selEnd;
}

void TtyUi::historySetSelection(int start, int end) {
    view_.selStart = start;
    view_.selEnd = end;
}

void TtyUi::listReset() {
    if (!listFresh_) {
        previousList_ = view_.list;
        previousSel_ = view_.listSel;
    }
    listFresh_ = true;
    view_.listReset();
}

void TtyUi::writeItem(int index) {
    if (view_.isRow(index)) screen_.writeLines(view_.list[static_cast<size_t>(index)]);
}

void TtyUi::listSelect(int index) {
    const int before = view_.listSel;
    const int sel = view_.listSelect(index);
    if (listFresh_) {
        listFresh_ = false;
        // The same menu refilled as it was (a menu update that changed
        // nothing shown) is not announced again.
        if (view_.list == previousList_ && sel == previousSel_) return;
        const size_t n = view_.list.size();
        if (n == 0)
            screen_.writeLines("Menu vide");
        else
            screen_.writeLines("Menu, " + std::to_string(n) + (n == 1 ? " \xE9l\xE9ment" : " \xE9l\xE9ments"));
        writeItem(sel);
        return;
    }
    if (sel >= 0 && sel != before) writeItem(sel);
}

void TtyUi::listSetItem(int index, const std::string& label) {
    if (view_.listSetItem(index, label) && index == view_.listSel && !listFresh_) writeItem(index);
}

void TtyUi::chatSetText(const std::string& text) {
    lineEditSet(&chat_, text);
    refreshPrompt();
}

void TtyUi::chatSelectRange(int start, int end) {
    lineEditSelect(&chat_, start, end);
    refreshPrompt();
}

void TtyUi::refreshPrompt() {
    if (windowOpen_ && view_.focus == UiControl::Chat)
        screen_.showPrompt(Prompt{"Chat: ", chat_.text, chat_.caret, false});
    else
        screen_.hidePrompt();
}

void TtyUi::setFocus(UiControl control) {
    const UiControl before = view_.focus;
    view_.focus = control;
    refreshPrompt();
    if (control == before) return;
    if (control == UiControl::List) writeItem(view_.listSel);
    // Reading the history back starts after its last line.
    if (control == UiControl::History) historyLine_ = static_cast<int>(viewLines(view_.history).size());
}

// --- dialogs ------------------------------------------------------------------

void TtyUi::runConnectionDialog(ConnDialog* d) {
    using namespace conndlg_text;
    static const ConnDlgControl kOrder[] = {ConnDlgControl::Server,  ConnDlgControl::Login,
                                            ConnDlgControl::Password, ConnDlgControl::Connect,
                                            ConnDlgControl::LostPassword, ConnDlgControl::CreateAccount};
    static const char* const kLabels[] = {kServer, kLogin, kPassword, kConnect, kLostPassword,
                                          kCreateAccount};
    screen_.writeLines(kTitle);
    screen_.writeLines("Tab : champ suivant, Entr\xE9" "e : Connecter, \xC9" "chap : quitter");
    LineEdit login, password;
    login.limit = password.limit = static_cast<size_t>(kMaxCredentialLength);
    auto takeFields = [&] {
        lineEditSet(&login, d->login);
        lineEditSet(&password, d->password);
    };
    takeFields();
    auto index = [&] {
        for (int i = 0; i < 6; ++i)
            if (kOrder[i] == d->focus) return i;
        return 1;
    };
    auto show = [&] {
        const int i = index();
        const std::string label = withoutMarker(kLabels[i]);
        switch (d->focus) {
            case ConnDlgControl::Server: {
                std::string name = "(aucun)";
                if (d->selection >= 0 && d->selection < static_cast<int>(d->serverNames.size()))
                    name = d->serverNames[static_cast<size_t>(d->selection)] + " (" +
                           std::to_string(d->selection + 1) + " sur " +
                           std::to_string(d->serverNames.size()) + ")";
                screen_.showPrompt(Prompt{label, name, static_cast<int>(name.size()), false});
                break;
            }
            case ConnDlgControl::Login: screen_.showPrompt(Prompt{label, login.text, login.caret, false}); break;
            case ConnDlgControl::Password:
                screen_.showPrompt(Prompt{label, password.text, password.caret, true});
                break;
            default: screen_.showPrompt(Prompt{"[ " + label + " ]", "", 0, false}); break;
        }
    };
    auto connect = [&] {
        d->login = login.text;
        d->password = password.text;
        if (!connDlgConnect(d)) {
            takeFields();
            show();
        }
    };
    show();
    loop([d] { return !d->open; },
         [&](const TermKey& k) {
             if (k.vk == VKEY_ESCAPE && !k.alt) {
                 connDlgCancel(d);
                 return;
             }
             if (k.alt && !k.ctrl) {
                 // The access keys of the labels: Alt+C connects, the others
                 // go to their field or press their button.
                 for (int i = 0; i < 6; ++i) {
                     if (accessKey(kLabels[i]) != k.vk) continue;
                     d->focus = kOrder[i];
                     if (d->focus == ConnDlgControl::Connect) connect();
                     else if (d->focus == ConnDlgControl::LostPassword) connDlgLostPassword(*d);
                     else if (d->focus == ConnDlgControl::CreateAccount) connDlgCreateAccount(*d);
                     if (d->open) show();
                     return;
                 }
                 return;
             }
             if (k.vk == VKEY_TAB) {
                 d->focus = kOrder[(index() + (k.shift ? 5 : 1)) % 6];
                 show();
                 return;
             }
             if (k.vk == VKEY_RETURN) {
                 if (d->focus == ConnDlgControl::LostPassword) connDlgLostPassword(*d);
                 else if (d->focus == ConnDlgControl::CreateAccount) connDlgCreateAccount(*d);
                 else connect();
                 return;
             }
             if (d->focus == ConnDlgControl::Server && (k.vk == VKEY_UP || k.vk == VKEY_DOWN)) {
                 const int n = static_cast<int>(d->serverNames.size());
                 if (n == 0) return;
                 const int next = std::clamp(d->selection + (k.vk == VKEY_UP ? -1 : 1), 0, n - 1);
                 if (next != d->selection) {
                     connDlgSelectionChanged(d, next);
                     takeFields();
                 }
                 show();
                 return;
             }
             LineEdit* e = d->focus == ConnDlgControl::Login      ? &login
                           : d->focus == ConnDlgControl::Password ? &password
                                                                  : nullptr;
             if (e && lineEditKey(e, k)) show();
         });
    screen_.hidePrompt();
}

int TtyUi::messageBox(const std::string& text, const std::string& title, unsigned flags) {
    if (!isUiThread()) {
        // Boxes are the UI thread's; another thread's waits for it.
        int r = 0;
        runOnUiThread([&] { r = messageBox(text, title, flags); });
        return r;
    }
    if (!windowOpen_) return 0;
    static const BoxButton kOk{"OK", 'O', 1}, kCancel{"Annuler", 'A', 2}, kAbort{"Abandonner", 'A', 3},
        kRetry{"Recommencer", 'R', 4}, kIgnore{"Ignorer", 'I', 5}, kYes{"Oui", 'O', 6}, kNo{"Non", 'N', 7};
    std::vector<BoxButton> buttons;
    switch (flags & 0xF) {
        case MBX_OKCANCEL: buttons = {kOk, kCancel}; break;
        case MBX_ABORTRETRYIGNORE: buttons = {kAbort, kRetry, kIgnore}; break;
        case MBX_YESNOCANCEL: buttons = {kYes, kNo, kCancel}; break;
        case MBX_YESNO: buttons = {kYes, kNo}; break;
        case MBX_RETRYCANCEL: buttons = {kRetry, kCancel}; break;
        default: buttons = {kOk}; break;
    }
    size_t def = (flags >> 8) & 0xF;  // MB_DEFBUTTON2..4 are 0x100..0x300
    if (def >= buttons.size()) def = 0;
    // Escape answers Cancel where there is one, OK in a box with OK alone;
    // other boxes wait for a button.
    int escape = 0;
    for (const BoxButton& b : buttons)
        if (b.result == 2) escape = 2;
    if (buttons.size() == 1) escape = 1;

    std::string names;
    for (const BoxButton& b : buttons) {
        if (!names.empty()) names += ", ";
        names += std::string(b.label) + " (" + b.key + ")";
    }
    names += ". Entr\xE9" "e : " + std::string(buttons[def].label) + ".";
    if (!title.empty()) screen_.writeLines(title);
    screen_.writeLines(text);
    screen_.writeLines(names);
    screen_.showPrompt(Prompt{"R\xE9ponse : ", "", 0, false});
    int result = 0;
    loop([&] { return result != 0; },
         [&](const TermKey& k) {
             if (k.vk == VKEY_RETURN && !k.alt) result = buttons[def].result;
             else if (k.vk == VKEY_ESCAPE && !k.alt) result = escape;
             else if (!k.ctrl && !k.alt && k.vk >= 'A' && k.vk <= 'Z')
                 for (const BoxButton& b : buttons)
                     if (b.key == k.vk) result = b.result;
         });
    for (const BoxButton& b : buttons)
        if (b.result == result) screen_.writeLines(b.label);
    refreshPrompt();
    return result;
}

std::optional<std::string> TtyUi::askLine(const std::string& title, const std::string& prompt,
                                          const std::string& initial) {
    if (!title.empty()) screen_.writeLines(title);
    screen_.writeLines("Entr\xE9" "e : OK, \xC9" "chap : Annuler");
    // A prompt too long to share its row with the answer is a line of its
    // own: nothing of it is cut.
    std::string label = prompt.empty() ? "> " : prompt + " ";
    if (static_cast<int>(label.size()) > screen_.columns() / 2) {
        screen_.writeLines(prompt);
        label = "> ";
    }
    LineEdit e;
    lineEditSet(&e, initial);
    screen_.showPrompt(Prompt{label, e.text, e.caret, false});
    int outcome = 0;  // 1 OK, 2 cancel
    loop([&] { return outcome != 0; },
         [&](const TermKey& k) {
             if (k.vk == VKEY_RETURN && !k.alt) outcome = 1;
             else if (k.vk == VKEY_ESCAPE && !k.alt) outcome = 2;
             else if (lineEditKey(&e, k)) screen_.showPrompt(Prompt{label, e.text, e.caret, false});
         });
    screen_.hidePrompt();
    // The answer given stays on the screen as a line of its own.
    if (outcome == 1) screen_.writeLines(label + e.text);
    refreshPrompt();
    if (outcome != 1) return std::nullopt;
    return e.text;
}

bool TtyUi::inputBox(const std::string& title, const std::string& prompt, const std::string& initial,
                     std::string* answer) {
    if (!windowOpen_) return false;
    std::optional<std::string> a = askLine(title, prompt, initial);
    if (!a) return false;
    *answer = *a;
    return true;
}

bool TtyUi::saveFileDialog(std::string* path) {
    if (!windowOpen_) return false;
    std::optional<std::string> a = askLine("Enregistrer sous", "Fichier texte (*.txt) :", "");
    if (!a || a->empty()) return false;
    *path = *a;
    return true;
}

void TtyUi::beep(int hz, int ms) {
    // The caller waits for the tone, as for the system beep.
    playTone(hz, ms);
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
