#include "net/conndlg.h"

#include "net/config.h"
#include "net/login.h"
#include "platform/shell.h"
#include "platform/thread_name.h"
#include "platform/ui.h"

namespace {

// The unit's process-wide state, one record.
struct ConnDlgState {
    std::function<void()> starter;  // empty: start doConnect2 on `connecting`
    std::thread connecting;
};
ConnDlgState state;

const servinfo* entryAt(int index) {
    const std::vector<servinfo>& servers = serverList();
    if (index < 0 || static_cast<size_t>(index) >= servers.size()) return nullptr;
    return &servers[static_cast<size_t>(index)];
}

void fillCredentials(ConnDialog* d) {
    const servinfo* s = entryAt(d->selection);
    d->login = s && s->login ? *s->login : std::string();
    d->password = s && s->password ? *s->password : std::string();
}

void startConnection() {
    if (state.starter) {
        state.starter();
        return;
    }
    if (state.connecting.joinable()) state.connecting.join();
    state.connecting = std::thread([] {
        setThreadName("kordo-connect");
        doConnect2();
    });
}

}  // namespace

ConnDialog connDlgOpen() {
    ConnDialog d;
    const std::vector<servinfo>& servers = serverList();
    for (const servinfo& s : servers) d.serverNames.push_back(s.name.value_or(""));
    const servinfo* selected = selectedServer();
    d.selection = selected ? static_cast<int>(selected - servers.data()) : -1;
    fillCredentials(&d);
    d.focus = ConnDlgControl::Login;
    return d;
}

void connDlgSelectionChanged(ConnDialog* d, int index) {
    d->selection = entryAt(index) ? index : -1;
    fillCredentials(d);
}

bool connDlgConnect(ConnDialog* d) {
    // The headless answer, or a remembered login longer than the field,
    // reaches here uncut.
    for (std::string* t : {&d->login, &d->password})
        if (t->size() > static_cast<size_t>(kMaxCredentialLength)) t->resize(kMaxCredentialLength);
    if (d->login.size() < kMinCredentialLength || d->password.size() < kMinCredentialLength) {
        d->focus = ConnDlgControl::Login;
        return false;
    }
    if (!entryAt(d->selection)) return false;
    chooseServer(static_cast<size_t>(d->selection), d->login, d->password);
    d->open = false;
    d->result = 1;
    startConnection();
    return true;
}

void connDlgCancel(ConnDialog* d) {
    uiThread().requestQuit(0);
    d->open = false;
    d->result = 0;
}

void connDlgCreateAccount(const ConnDialog& d) {
    const servinfo* s = entryAt(d.selection);
    if (s && s->createAccountPage) shell().openAddress(*s->createAccountPage);
}

void connDlgLostPassword(const ConnDialog& d) {
    const servinfo* s = entryAt(d.selection);
    if (s && s->lostPasswordPage) shell().openAddress(*s->lostPasswordPage);
}

std::string connDlgWindowTitle() {
    const servinfo* s = selectedServer();
    return "Le Kordo [" + (s && s->login ? *s->login : std::string()) + "]";
}

void showConnectionDialog(const std::function<void(ConnDialog*)>& runModal) {
    ConnDialog d = connDlgOpen();
    runModal(&d);
    const std::string title = connDlgWindowTitle();
    uiCall([&title] { uiViews().setTitle(title); });
}

void setConnectionStarter(std::function<void()> starter) { state.starter = std::move(starter); }

void joinConnectingThread() {
    if (state.connecting.joinable()) state.connecting.join();
    loginJoinSeries();
}

void connDlgReset() {
    joinConnectingThread();
    state.starter = nullptr;
}
