#include "app/client.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "app/core.h"
#include "app/dispatch.h"
#include "audio/mixer.h"
#include "audio/sound.h"
#include "files/download.h"
#include "history/history.h"
#include "identity/diskid.h"
#include "identity/system_probe.h"
#include "menu/menus.h"
#include "net/agc.h"
#include "net/config.h"
#include "net/conndlg.h"
#include "net/login.h"
#include "net/replies.h"
#include "platform/diag.h"
#include "platform/machine_probe.h"
#include "platform/shell.h"
#include "speech/speech.h"

namespace {
// Broken-down local time of `t` (seconds since 1970).
std::tm localTime(int64_t t) {
    std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &tt);
#else
    localtime_r(&tt, &tm);
#endif
    return tm;
}
}  // namespace

std::string sessionLogName(int64_t t) {
    std::tm tm = localTime(t);
    char buf[64];
    std::snprintf(buf, sizeof buf, "session-%04d-%02d-%02d.log", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday);
    return buf;
}

std::string sessionLogStartText(int64_t t) {
    std::tm tm = localTime(t);
    char buf[64];
    std::snprintf(buf, sizeof buf, "Log started on %02d.%02d.%04d %02d:%02d:%02d", tm.tm_mday,
                  tm.tm_mon + 1, tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

void mainWindowDestroyed() {
    if (AGCHandle* h = agc_current()) agc_send(h, quitReply());
    uiThread().requestQuit(0);
}

void FrontEnd::closeClient() {
    mainWindowDestroyed();
}

namespace {
// Every seam of the options installed for the life of clientMain, and the
// null ones back whatever path it returns by.
class InstalledSeams {
  public:
    InstalledSeams(FrontEnd& fe, const ClientOptions& o) {
        setUi(&fe);
        setShell(o.shell);
        setDiagSink(o.diag);
        setMachineProbe(o.probe ? o.probe : systemMachineProbe());
    }
    ~InstalledSeams() {
        setMachineProbe(nullptr);
        setDiagSink(nullptr);
        setShell(nullptr);
        setUi(nullptr);
    }
    InstalledSeams(const InstalledSeams&) = delete;
    InstalledSeams& operator=(const InstalledSeams&) = delete;
};
}  // namespace

int clientMain(FrontEnd& fe, const ClientOptions& o) {
    InstalledSeams seams(fe, o);
    resetCore();
    // Tests of the history's budget set a small one rather than fill the
    // default (hundreds of megabytes).
    if (const char* b = std::getenv("KORDO_HISTORY_BUDGET")) {
        char* end = nullptr;
        unsigned long long v = std::strtoull(b, &end, 10);
        if (end != b && *end == '\0' && v > 0) setHistoryBudget(static_cast<size_t>(v));
    }

    // The machine identifier first: it is sent at login.
    setLoginClientId(clientIdFromDiskId(diskid()));

    // Every relative name resolves against the program folder from here on.
    std::error_code ec;
    if (!o.programFolder.empty()) std::filesystem::current_path(o.programFolder, ec);

    registerServerCommands();
    setFileWrittenObserver(soundFileWritten);

    agc_init();
    loadConfig(kConfigFileName);
    clampVolumes();

    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    historyOpenLog(sessionLogName(now), sessionLogStartText(now));

    if (!fe.createMainWindow()) {
        fe.fatalError("Couldn't register window class");
        historyCloseLog();
        agc_deinit();
        return 1;
    }

    if (o.selectSpeech)
        o.selectSpeech();
    else
        autodetectScreenReader();

    if (!o.audioSink || !audioOpen(o.audioSink)) {
        fe.fatalError("Unable to open audio device");
        fe.closeMainWindow();
        historyCloseLog();
        agc_deinit();
        return 2;
    }
    playMusic("mustart");

    fe.showMainWindow();
    showConnectionDialog([&fe](ConnDialog* d) { fe.runConnectionDialog(d); });
    fe.setFocus(UiControl::List);

    const int status = fe.runMessageLoop();
    // A download in progress ends now (its ".part" removed) instead of
    // holding the exit up until its deadline.
    cancelDownloads(true);

    // Shut-down.  The window is gone first, so that no thread waits for the
    // UI thread any more.  Then the log is closed and the configuration
    // saved while the session is still known, the connection is closed
    // without reconnecting, and the audio output released before the
    // socket library stops.
    fe.closeMainWindow();
    historyCloseLog();
    saveConfig(kConfigFileName);
    if (AGCHandle* h = agc_current()) agc_close(h, true);
    audioClose();
    agc_deinit();
    joinConnectingThread();
    return status;
}
