#include "app/win32/win32_ui.h"

#include <commdlg.h>

#include <algorithm>
#include <vector>

#include "app/commands.h"
#include "app/keyboard.h"
#include "audio/sound.h"
#include "net/conndlg.h"

namespace {

// Posted to the main window when UI-thread calls are queued; its lParam is
// the queue to drain (the front-end's, which outlives the window).
constexpr UINT kUiTaskMessage = WM_USER + 100;  // 1124
constexpr char kClassName[] = "NimbaClient1";

// The record of main window `top`; null until createMainWindow() stored it
// (and for a window of another class).
Win32Window* windowOf(HWND top) {
    return reinterpret_cast<Win32Window*>(GetWindowLongPtrA(top, GWLP_USERDATA));
}

std::string windowText(HWND h) {
    int n = GetWindowTextLengthA(h);
    if (n <= 0) return {};
    std::string s(static_cast<size_t>(n) + 1, '\0');
    int got = GetWindowTextA(h, s.data(), n + 1);
    s.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return s;
}

UiControl controlOf(const Win32Window& w, HWND h) {
    if (h == w.edit) return UiControl::History;
    if (h == w.chat) return UiControl::Chat;
    return UiControl::List;
}

HWND handleOf(const Win32Window& w, UiControl c) {
    switch (c) {
        case UiControl::History: return w.edit;
        case UiControl::Chat: return w.chat;
        case UiControl::List: return w.list;
    }
    return w.list;
}

// A key message of a subclassed control, through the shared key path.  The
// message loop has offered it to the accelerator table already, and system
// keys (Alt without Ctrl) arrive as WM_SYSKEYDOWN, which is not routed: the
// modifier flags follow the key messages, as they always have here.
bool routeKeyMessage(UINT msg, WPARAM wp, UiControl control) {
    return routeKey(KeyEvent{LOWORD(wp), msg == WM_KEYDOWN, control, std::nullopt, true, {}});
}

// The accelerator table of the message loop, built from the portable one so
// that both can never disagree.  The caller destroys it.
HACCEL createAccelerators() {
    std::vector<ACCEL> table;
    for (const Accelerator& a : kAccelerators) {
        ACCEL e{};
        e.fVirt = static_cast<BYTE>(FVIRTKEY | (a.shift ? FSHIFT : 0) | (a.ctrl ? FCONTROL : 0) |
                                    (a.alt ? FALT : 0));
        e.key = static_cast<WORD>(a.vk);
        e.cmd = static_cast<WORD>(a.command);
        table.push_back(e);
    }
    return CreateAcceleratorTableA(table.data(), static_cast<int>(table.size()));
}

void layout(const Win32Window& w) {
    RECT rc;
    GetClientRect(w.win, &rc);
    MainLayout l = mainLayout(rc.right - rc.left, rc.bottom - rc.top);
    auto move = [](HWND h, const LayoutRect& r) { MoveWindow(h, r.left, r.top, r.width, r.height, TRUE); };
    move(w.edit, l.history);
    move(w.list, l.list);
    move(w.chatlbl, l.chatLabel);
    move(w.chat, l.chat);
}

LRESULT CALLBACK winproc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    // Null while CreateWindowEx is still creating the window: nothing below
    // has anything to act on yet.
    Win32Window* w = windowOf(hwnd);
    switch (msg) {
        case WM_DESTROY:
            if (!w) break;
            // No UI-thread call runs from now on: waiting callers are
            // released (their posted wake-ups go with the window).
            if (w->calls) w->calls->close();
            if (!w->closing) mainWindowDestroyed();
            break;
        case WM_SIZE:
            if (!w) break;
            layout(*w);
            SetFocus(w->list);
            break;
        case WM_SETFOCUS:
            if (w) SetFocus(w->list);
            break;
        case WM_KILLFOCUS:
            mainWindowLostFocus();
            break;
        case WM_COMMAND:
            // Accelerator commands and the list's selection change share the
            // notification code 1; only the list's own (lParam = the list)
            // is the player's selection change.
            if (lp == 0) {
                runCommand(LOWORD(wp));
            } else if (w && reinterpret_cast<HWND>(lp) == w->list && HIWORD(wp) == LBN_SELCHANGE) {
                selectionStep();
            }
            break;
        case kUiTaskMessage:
            // Also dispatched by the nested loops of message and dialog
            // boxes, so calls run while a box is up.
            if (lp) reinterpret_cast<UiTaskQueue*>(lp)->runPending();
            break;
        default:
            break;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

// The procedures of the subclassed controls, children of the main window,
// which is subclassed only once its record is stored.
LRESULT CALLBACK listproc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    const WNDPROC oldlistproc = windowOf(GetParent(hwnd))->oldlistproc;
    switch (msg) {
        case WM_GETDLGCODE:
            // Enter, Tab and the arrows are ours, whoever asks.
            return DLGC_WANTALLKEYS | CallWindowProcA(oldlistproc, hwnd, msg, wp, lp);
        case WM_KEYDOWN:
        case WM_KEYUP:
            if (routeKeyMessage(msg, wp, UiControl::List)) return 1;
            break;
        case WM_CHAR:
            if (!listAcceptsChar()) return 1;
            break;
        case WM_SYSCOMMAND:
            if (wp == SC_KEYMENU) return 1;
            break;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
            // Only a press on an item counts: one below the items changes no
            // selection, and a flag left set would make the next change (a
            // type-ahead) choose the item.  The high word of the answer is
            // 1 when the point is outside every item.
            if (HIWORD(SendMessageA(hwnd, LB_ITEMFROMPOINT, 0, lp)) == 0)
                listClicked(msg == WM_LBUTTONDOWN ? ListButton::Left : ListButton::Right);
            break;
        default:
            break;
    }
    return CallWindowProcA(oldlistproc, hwnd, msg, wp, lp);
}

LRESULT CALLBACK editproc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    const Win32Window& w = *windowOf(GetParent(hwnd));
    WNDPROC old = hwnd == w.chat ? w.oldeditproc2 : w.oldeditproc;
    switch (msg) {
        case WM_GETDLGCODE:
            return DLGC_WANTALLKEYS | CallWindowProcA(old, hwnd, msg, wp, lp);
        case WM_KEYDOWN:
        case WM_KEYUP:
            if (routeKeyMessage(msg, wp, controlOf(w, hwnd))) return 1;
            break;
        case WM_SYSCOMMAND:
            if (wp == SC_KEYMENU) return 1;
            break;
        case WM_CHAR:
            if (wp == '\t' || wp == '\r') return 1;
            break;
        default:
            break;
    }
    return CallWindowProcA(old, hwnd, msg, wp, lp);
}

// Copies a ConnDialog's fields into the dialog's controls.
void showCredentials(HWND dlg, const ConnDialog* d) {
    SetDlgItemTextA(dlg, 1001, d->login.c_str());
    SetDlgItemTextA(dlg, 1002, d->password.c_str());
}

INT_PTR CALLBACK connectionDlgProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* d = reinterpret_cast<ConnDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    switch (msg) {
        case WM_INITDIALOG: {
            d = reinterpret_cast<ConnDialog*>(lp);
            SetWindowLongPtrA(hwnd, DWLP_USER, lp);
            HWND combo = GetDlgItem(hwnd, 1000);
            for (const std::string& name : d->serverNames)
                SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
            SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(d->selection), 0);
            for (int id : {1001, 1002})
                SendDlgItemMessageA(hwnd, id, EM_LIMITTEXT, kMaxCredentialLength, 0);
            showCredentials(hwnd, d);
            SetFocus(GetDlgItem(hwnd, 1001));
            return FALSE;  // the focus is set
        }
        case WM_COMMAND: {
            if (!d) return FALSE;
            const int id = LOWORD(wp);
            if (id == 2001) {
                connDlgCreateAccount(*d);
            } else if (id == 2002) {
                connDlgLostPassword(*d);
            } else if (id == IDOK) {
                d->login = windowText(GetDlgItem(hwnd, 1001));
                d->password = windowText(GetDlgItem(hwnd, 1002));
                if (connDlgConnect(d)) {
                    EndDialog(hwnd, 1);
                } else {
                    SetFocus(GetDlgItem(hwnd, 1001));
                }
            } else if (id == IDCANCEL) {
                connDlgCancel(d);
                EndDialog(hwnd, 0);
            }
            if (id == 1000 && HIWORD(wp) == CBN_SELCHANGE) {
                int sel = static_cast<int>(SendMessageA(GetDlgItem(hwnd, 1000), CB_GETCURSEL, 0, 0));
                connDlgSelectionChanged(d, sel);
                showCredentials(hwnd, d);
            }
            return FALSE;
        }
        default:
            return FALSE;
    }
}

struct InputParams {
    const std::string* title;
    const std::string* prompt;
    const std::string* initial;
    std::string answer;
};

INT_PTR CALLBACK inputDlgProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* p = reinterpret_cast<InputParams*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (msg == WM_INITDIALOG) {
        p = reinterpret_cast<InputParams*>(lp);
        SetWindowLongPtrA(hwnd, DWLP_USER, lp);
        SetWindowTextA(hwnd, p->title->c_str());
        SetDlgItemTextA(hwnd, 1001, p->prompt->c_str());
        SetDlgItemTextA(hwnd, 1002, p->initial->c_str());
    } else if (msg == WM_COMMAND && p) {
        if (LOWORD(wp) == IDOK) {
            p->answer = windowText(GetDlgItem(hwnd, 1002));
            EndDialog(hwnd, IDOK);
        } else if (LOWORD(wp) == IDCANCEL) {
            EndDialog(hwnd, IDCANCEL);
        }
    }
    return 0;
}

HWND createChild(HWND parent, const char* cls, const char* text, DWORD style) {
    return CreateWindowExA(0, cls, text, style, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, parent, nullptr, GetModuleHandleA(nullptr), nullptr);
}

WNDPROC subclass(HWND h, WNDPROC proc) {
    return reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc)));
}

}  // namespace

HFONT loadFont(HWND h, const char* n, int s) {
    HDC dc = GetDC(h);
    int height = MulDiv(s, GetDeviceCaps(dc, LOGPIXELSY), 72);
    ReleaseDC(h, dc);
    return CreateFontA(height, 0, 0, 0, 0, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, VARIABLE_PITCH | FF_SWISS, n);
}

Win32Ui::Win32Ui(HINSTANCE instance) : instance_(instance), uiThread_(GetCurrentThreadId()) {}

bool Win32Ui::createMainWindow() {
    w_.closing = false;
    w_.calls = &calls_;
    calls_.setNotify(
        [this] { PostMessageA(w_.win, kUiTaskMessage, 0, reinterpret_cast<LPARAM>(&calls_)); });
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = winproc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = instance_;
    wc.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
    wc.hIconSm = LoadIcon(nullptr, IDI_APPLICATION);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_SCROLLBAR + 1);  // the value 1
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = kClassName;
    if (!RegisterClassExA(&wc)) return false;

    w_.win = CreateWindowExA(0x00010000, kClassName, "Le Kordo", 0x10CF0000, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, HWND_DESKTOP, nullptr,
                             instance_, nullptr);
    if (!w_.win) return false;
    // Stored before the controls are subclassed: their procedures read it.
    SetWindowLongPtrA(w_.win, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&w_));
    w_.edit = createChild(w_.win, "EDIT", "", 0x50010844);
    w_.list = createChild(w_.win, "LISTBOX", "Hello world !", 0x50110081);
    w_.chatlbl = createChild(w_.win, "STATIC", "&Chat: ", 0x50000000);
    w_.chat = createChild(w_.win, "EDIT", "", 0x50010080);

    w_.font = loadFont(w_.win, "Arial", 14);
    for (HWND h : {w_.win, w_.edit, w_.chat, w_.chatlbl, w_.list})
        SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(w_.font), TRUE);

    SendMessageA(w_.list, LB_SETHORIZONTALEXTENT, 2000, 0);
    SendMessageA(w_.edit, EM_SETLIMITTEXT, 0xFFFFFF, 0);
    SendMessageA(w_.chat, EM_SETLIMITTEXT, 3999, 0);
    w_.oldeditproc = subclass(w_.edit, editproc);
    w_.oldeditproc2 = subclass(w_.chat, editproc);
    w_.oldlistproc = subclass(w_.list, listproc);
    calls_.open();
    return true;
}

void Win32Ui::showMainWindow() {
    if (!accel_) accel_ = createAccelerators();
    ShowWindow(w_.win, SW_SHOW);
    SendMessageA(w_.win, WM_SIZE, 0, 0);
}

void Win32Ui::runConnectionDialog(ConnDialog* d) {
    DialogBoxParamA(instance_, "conndlg", w_.win, connectionDlgProc, reinterpret_cast<LPARAM>(d));
}

int Win32Ui::runMessageLoop() {
    MSG msg{};
    for (;;) {
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) break;  // WM_QUIT: its wParam is the exit status
        if (got == -1) return 0;
        // The accelerator's result is not used: the focused control's key
        // handling sees the key as well.
        if (accel_) TranslateAcceleratorA(w_.win, accel_, &msg);
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}

void Win32Ui::closeMainWindow() {
    w_.closing = true;
    // Calls queued and not run return false; later ones at once.
    calls_.close();
    if (w_.win && IsWindow(w_.win)) DestroyWindow(w_.win);
    // What the window's queue still holds goes with it.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    if (accel_) {
        DestroyAcceleratorTable(accel_);
        accel_ = nullptr;
    }
}

void Win32Ui::fatalError(const std::string& text) {
    MessageBoxA(nullptr, text.c_str(), "Fatal error", MB_ICONERROR);
}

bool Win32Ui::runOnUiThread(const std::function<void()>& task) {
    if (w_.closing || !w_.win) return false;
    return calls_.call(task);
}

// One caret move to the end and one replace.  The view is read-only and
// only these two methods change its text, so its length is known from the
// caret after the last append: measuring it (GetWindowTextLength) would go
// over the whole text, megabytes in a long session, at every append.
void Win32Ui::historyAppend(const std::string& text) {
    if (historyEnd_ < 0) historyEnd_ = GetWindowTextLengthA(w_.edit);
    SendMessageA(w_.edit, EM_SETSEL, static_cast<WPARAM>(historyEnd_), historyEnd_);
    SendMessageA(w_.edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    // The caret follows the inserted text, which may have been cut at the
    // control's text limit.
    DWORD s = 0, e = 0;
    SendMessageA(w_.edit, EM_GETSEL, reinterpret_cast<WPARAM>(&s), reinterpret_cast<LPARAM>(&e));
    historyEnd_ = static_cast<int>(e);
}

void Win32Ui::historySetText(const std::string& text) {
    SetWindowTextA(w_.edit, text.c_str());
    historyEnd_ = -1;
}

std::string Win32Ui::historyText() { return windowText(w_.edit); }

void Win32Ui::historyGetSelection(int* start, int* end) {
    DWORD s = 0, e = 0;
    SendMessageA(w_.edit, EM_GETSEL, reinterpret_cast<WPARAM>(&s), reinterpret_cast<LPARAM>(&e));
    *start = static_cast<int>(s);
    *end = static_cast<int>(e);
}

void Win32Ui::historySetSelection(int start, int end) {
    SendMessageA(w_.edit, EM_SETSEL, start, end);
}

void Win32Ui::historyScrollToCaret() { SendMessageA(w_.edit, EM_SCROLLCARET, 0, 0); }

// The oldest messages leave the edit control: the selection moves back with
// the text that stays, and the lines shown stay in view.
void Win32Ui::historyTrimFront(size_t bytes) {
    if (bytes == 0) return;
    const int n = static_cast<int>(std::min<size_t>(bytes, 0x7FFFFFFF));
    DWORD s = 0, e = 0;
    SendMessageA(w_.edit, EM_GETSEL, reinterpret_cast<WPARAM>(&s), reinterpret_cast<LPARAM>(&e));
    const int first = static_cast<int>(SendMessageA(w_.edit, EM_GETFIRSTVISIBLELINE, 0, 0));
    const int linesGone = static_cast<int>(SendMessageA(w_.edit, EM_LINEFROMCHAR, n, 0));
    SendMessageA(w_.edit, WM_SETREDRAW, FALSE, 0);
    SendMessageA(w_.edit, EM_SETSEL, 0, n);
    SendMessageA(w_.edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(""));
    auto shift = [n](DWORD at) { return static_cast<int>(at) < n ? 0 : static_cast<int>(at) - n; };
    SendMessageA(w_.edit, EM_SETSEL, shift(s), shift(e));
    const int now = static_cast<int>(SendMessageA(w_.edit, EM_GETFIRSTVISIBLELINE, 0, 0));
    SendMessageA(w_.edit, EM_LINESCROLL, 0, std::max(0, first - linesGone) - now);
    if (historyEnd_ >= 0) historyEnd_ = historyEnd_ < n ? 0 : historyEnd_ - n;
    SendMessageA(w_.edit, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(w_.edit, nullptr, TRUE);
}

void Win32Ui::listReset() { SendMessageA(w_.list, LB_RESETCONTENT, 0, 0); }

void Win32Ui::listAdd(const std::string& label) {
    SendMessageA(w_.list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label.c_str()));
}

void Win32Ui::listDelete(int index) { SendMessageA(w_.list, LB_DELETESTRING, index, 0); }

// A list box has no "set string": the row is replaced in place, and the
// selection, which the deletion may clear, is put back.
void Win32Ui::listSetItem(int index, const std::string& label) {
    const int count = listCount();
    if (index < 0 || index >= count) return;
    const int sel = listSelection();
    SendMessageA(w_.list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(w_.list, LB_DELETESTRING, index, 0);
    SendMessageA(w_.list, LB_INSERTSTRING, index, reinterpret_cast<LPARAM>(label.c_str()));
    if (sel >= 0) SendMessageA(w_.list, LB_SETCURSEL, sel, 0);
    SendMessageA(w_.list, WM_SETREDRAW, TRUE, 0);
}

int Win32Ui::listCount() { return static_cast<int>(SendMessageA(w_.list, LB_GETCOUNT, 0, 0)); }

void Win32Ui::listSelect(int index) { SendMessageA(w_.list, LB_SETCURSEL, index, 0); }

int Win32Ui::listSelection() { return static_cast<int>(SendMessageA(w_.list, LB_GETCURSEL, 0, 0)); }

std::string Win32Ui::chatText() { return windowText(w_.chat); }

void Win32Ui::chatSetText(const std::string& text) { SetWindowTextA(w_.chat, text.c_str()); }

void Win32Ui::chatSelectRange(int start, int end) { SendMessageA(w_.chat, EM_SETSEL, start, end); }

void Win32Ui::setFocus(UiControl control) { SetFocus(handleOf(w_, control)); }

UiControl Win32Ui::focusedControl() { return controlOf(w_, GetFocus()); }

void Win32Ui::setTitle(const std::string& title) { SetWindowTextA(w_.win, title.c_str()); }

bool Win32Ui::isMainWindowActive() { return w_.win && GetForegroundWindow() == w_.win; }

void Win32Ui::requestQuit(int status) {
    if (isUiThread()) PostQuitMessage(status);
    else PostThreadMessageA(uiThread_, WM_QUIT, static_cast<WPARAM>(status), 0);
}

int Win32Ui::messageBox(const std::string& text, const std::string& title, unsigned flags) {
    if (w_.closing || !w_.win) return 0;
    return MessageBoxA(w_.win, text.c_str(), title.c_str(), flags);
}

bool Win32Ui::inputBox(const std::string& title, const std::string& prompt,
                       const std::string& initial, std::string* answer) {
    if (w_.closing || !w_.win) return false;
    InputParams p{&title, &prompt, &initial, {}};
    INT_PTR r =
        DialogBoxParamA(instance_, "input", w_.win, inputDlgProc, reinterpret_cast<LPARAM>(&p));
    if (r != IDOK) return false;
    *answer = std::move(p.answer);
    return true;
}

bool Win32Ui::saveFileDialog(std::string* path) {
    // An empty name to start with; at most 511 characters and the zero.
    std::vector<char> file(512, '\0');
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = w_.win;
    ofn.lpstrTitle = "Enregistrer sous";
    // One filter, and no default extension: the name is saved as typed.
    ofn.lpstrFilter = "Fichier texte\0*.txt\0";
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    // The current directory is the program folder, against which every
    // relative name of the client resolves: the dialog must not move it.
    ofn.Flags =
        OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
    if (!GetSaveFileNameA(&ofn)) return false;
    *path = file.data();
    return !path->empty();
}

// The client's beeps are tones of the mixer, as on the other front-ends, so
// they follow the chosen audio output and mix with the game's sounds; the
// caller waits for the tone, as it would for the system beep.
void Win32Ui::beep(int hz, int ms) {
    playTone(hz, ms);
    if (ms > 0) Sleep(static_cast<DWORD>(ms));
}
