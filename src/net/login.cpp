#include "net/login.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "net/config.h"
#include "net/replies.h"
#include "platform/clock.h"
#include "platform/thread_name.h"
#include "platform/ui.h"
#include "speech/speech.h"

namespace {

// The unit's process-wide state, one record; loginReset() restores it.
struct LoginState {
    // Set once by start-up before any connection; read by the series.
    std::string clientId;
    // Seconds since 1970 at which the previous series started; 0 at start.
    // Any thread that runs a series.
    std::atomic<int64_t> lastDoConnect2{0};
    // Series started on their own thread because the loss was found on the
    // UI thread; guarded by threadsMu.  Joined by loginJoinSeries.
    std::mutex threadsMu;
    std::vector<std::thread> seriesThreads;
};
LoginState st;

// Sleeps through the clock seam in short steps so that the exit is not held
// up by a series waiting between attempts.  False once the transport is
// shutting down.
bool waitSeconds(int seconds) {
    for (int64_t left = int64_t{seconds} * 1000; left > 0; left -= 100) {
        if (agc_shuttingDown()) return false;
        sysClock().sleepMs(left < 100 ? left : 100);
    }
    return !agc_shuttingDown();
}

const char kUnreachable[] =
    "Impossible de se connecter sur le serveur.\r\nLE serveur est injoignable.\r\n"
    "Cela peut \xEAtre d\xFB \xE0 plusieurs facteurs que nous vous prions de v\xE9rifier:\r\n"
    "* Soit Votre connexion \xE0 Internet pose probl\xE8me;\r\n"
    "* Soit vos anti-virus ou pare-feux n'autorisent pas la connexion au serveur;\r\n"
    "* Soit le serveur est temporairement indisponible \xE0 cause d'un probl\xE8me technique "
    "ou d'une op\xE9ration de maintenance.";
const char kBadCredentials[] =
    "Impossible de se connecter sur le serveur.\r\nVos identifiants sont incorrects.\r\n"
    "Veuillez v\xE9rifier votre nom d'utilisateur et votre mot de passe, puis r\xE9"
    "essayez.\r\n"
    "Si vous n'avez pas encore de compte, vous devez d'abord en cr\xE9"
    "er un en utilisant le bouton \xAB cr\xE9"
    "er un compte \xBB disponible sur l'\xE9" "cran de connexion.\r\n"
    "Si vous avez cr\xE9\xE9 votre compte r\xE9" "cemment, v\xE9rifiez qu'il a correctement "
    "\xE9t\xE9 valid\xE9 avant de r\xE9" "essayer.";
const char kBanned[] =
    "Impossible de se connecter sur le serveur.\r\nVous avez \xE9t\xE9 banni du serveur.";
const char kUnknown[] =
    "Impossible de se connecter sur le serveur.\r\nConnexion \xE9" "chou\xE9" "e pour une "
    "raison inconnue.\r\nCode d'erreur: ";
}  // namespace

std::string loginLine(std::string_view challenge, std::string_view login,
                      std::string_view password) {
    return loginReply(challenge, login, password, st.clientId);
}

int loginConnect(const std::string& host, int port, const std::string& login,
                 const std::string& password) {
    return agc_connect(host, port, [&](std::string_view challenge) {
        return loginLine(challenge, login, password);
    });
}

int doConnect() {
    // A copy: the UI thread may change the list while the series runs.
    const std::optional<servinfo> s = selectedServerCopy();
    if (!s) return -1;
    const std::string host = s->host.value_or("");
    const std::string login = s->login.value_or("");
    const std::string password = s->password.value_or("");
    const int port = s->port;
    int result = -1;
    for (int k = 0; k < 4; ++k) {
        if (!waitSeconds(delays[k])) return -1;
        result = loginConnect(host, port, login, password);
        if (result != -1) break;
    }
    return result;
}

std::string connectFailureMessage(int code) {
    if (code >= 1 || code == -5 || code == -6) return {};
    if (code == -1 || code == -2) return kUnreachable;
    if (code == -3) return kBadCredentials;
    if (code == -4) return kBanned;
    return std::string(kUnknown) + std::to_string(code) + ".";
}

int doConnect2(void*) {
    int result = -1;
    const int64_t started = sysClock().now();
    if (agc_shuttingDown()) return 0;
    if (started - st.lastDoConnect2.load() > 22) result = doConnect();
    st.lastDoConnect2 = started;
    if (agc_shuttingDown()) return 0;
    std::string message = connectFailureMessage(result);
    if (!message.empty()) {
        uiCall([&] {
            uiDialogs().messageBox(message, "Erreur", MBX_OK | MBX_ICONERROR);
            uiThread().requestQuit(0);
        });
    }
    return 0;
}

void onConnectionLost(int32_t status, bool wanted) {
    sayString(kDisconnectedNotice, true);
    if (!wanted && status >= 1 && !agc_shuttingDown()) {
        if (uiThread().isUiThread()) {
            // A failed send on the UI thread: reconnecting here would keep the
            // UI thread busy while the new connection's dispatch thread may
            // need it for its first lines.  Run the series on its own thread.
            std::lock_guard<std::mutex> lock(st.threadsMu);
            st.seriesThreads.emplace_back([] {
                setThreadName("kordo-reconnect");
                doConnect2(nullptr);
            });
        } else {
            doConnect2(nullptr);
        }
    }
    if (status == -7) uiCall([] { uiThread().requestQuit(0); });
}

void setLoginClientId(std::string clientId) { st.clientId = std::move(clientId); }

int64_t lastSeriesStart() { return st.lastDoConnect2.load(); }
void setLastSeriesStart(int64_t seconds) { st.lastDoConnect2 = seconds; }

void loginInstall() { agc_setConnectionLost(onConnectionLost); }

void loginJoinSeries() {
    // A series may lose its new connection on the UI thread and start
    // another: repeat until none is left.
    for (;;) {
        std::vector<std::thread> threads;
        {
            std::lock_guard<std::mutex> lock(st.threadsMu);
            threads.swap(st.seriesThreads);
        }
        if (threads.empty()) return;
        for (auto& t : threads) t.join();
    }
}

void loginReset() {
    loginJoinSeries();
    st.clientId.clear();
    st.lastDoConnect2 = 0;
}
