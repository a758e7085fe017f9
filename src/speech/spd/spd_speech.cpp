#include "speech/spd/spd_speech.h"

#include <brlapi.h>
#include <dirent.h>
#include <gio/gio.h>
#include <libspeechd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <mutex>

#include "platform/dynlib.h"
#include "platform/text.h"
#include "speech/speech.h"

namespace {

std::mutex observerMutex;
std::function<void(SpdEvent, std::size_t)> observer;

// libspeechd callbacks carry no user data, so events go to the one observer.
void onEvent(size_t msgId, size_t, SPDNotificationType type) {
    std::function<void(SpdEvent, std::size_t)> f;
    {
        std::lock_guard<std::mutex> lock(observerMutex);
        f = observer;
    }
    if (!f) return;
    if (type == SPD_EVENT_BEGIN)
        f(SpdEvent::Begin, msgId);
    else if (type == SPD_EVENT_END)
        f(SpdEvent::End, msgId);
    else if (type == SPD_EVENT_CANCEL)
        f(SpdEvent::Cancel, msgId);
}

struct SpdSpeech : SpeechBackend {
    SPDConnection* conn;
    bool hasRate;
    std::unique_ptr<BrailleOutput> brl;
    int rate_ = 50;

    SpdSpeech(SPDConnection* c, bool withRate) : conn(c), hasRate(withRate) {
        if (hasRate) {
            // The user's configured rate, moved onto the client's 0..100 scale.
            int r = spd_get_voice_rate(conn);
            if (r >= -100 && r <= 100) rate_ = (r + 100) / 2;
        }
    }
    ~SpdSpeech() override { spd_close(conn); }

    void speak(const std::string& text, bool interrupt) override {
        // spd_cancel drops this connection's current and queued messages
        // only; other clients (the screen reader itself) keep talking.
        if (interrupt) spd_cancel(conn);
        if (text.empty()) return;  // nothing to say; the daemon rejects empty text
        // SPD_MESSAGE queues behind this client's earlier messages; SPD_TEXT
        // would have each line cancel the one before it.
        spd_say(conn, SPD_MESSAGE, cp1252ToUtf8(text).c_str());
    }
    void braille(const std::string& text) override {
        if (brl) brl->write(text);
    }
    int rate() override { return rate_; }
    void setRate(int r) override {
        if (!hasRate) return;
        rate_ = r;
        spd_set_voice_rate(conn, r * 2 - 100);
    }
};

SPDConnection* spdConnect() {
    bool observed;
    {
        std::lock_guard<std::mutex> lock(observerMutex);
        observed = static_cast<bool>(observer);
    }
    char* error = nullptr;
    // Address NULL: libspeechd takes SPEECHD_ADDRESS, else the user's socket,
    // and autospawns the daemon when allowed.  Threaded mode only for the
    // events: its reader thread is stopped by spd_close with pthread_cancel
    // at whatever point it reached, which an instrumented runtime (and any
    // allocation it was in) does not survive.  Single mode reads each reply
    // on the calling thread; libspeechd serialises commands with its own
    // mutex in both modes, so the UI and receive threads may both speak.
    SPDConnection* c =
        spd_open2("kordo", "speech", nullptr, observed ? SPD_MODE_THREADED : SPD_MODE_SINGLE,
                  nullptr, 1, &error);
    std::free(error);
    if (!c) return nullptr;
    if (observed) {
        c->callback_begin = onEvent;
        c->callback_end = onEvent;
        c->callback_cancel = onEvent;
        spd_set_notification_on(c, SPD_BEGIN);
        spd_set_notification_on(c, SPD_END);
        spd_set_notification_on(c, SPD_CANCEL);
    }
    return c;
}

void ignoreBrlapiException(int, brlapi_packetType_t, const void*, size_t) {
    // Errors reported asynchronously by BRLTTY: braille is best effort, and
    // the default handler would end the process.
}

struct BrlapiOutput : BrailleOutput {
    unsigned cells;
    explicit BrlapiOutput(unsigned n) : cells(n) {}
    ~BrlapiOutput() override {
        brlapi_leaveTtyMode();
        brlapi_closeConnection();
    }
    void write(const std::string& text) override {
        std::string u8 = brailleLine(text, cells);
        brlapi_writeArguments_t args = BRLAPI_WRITEARGUMENTS_INITIALIZER;
        args.regionBegin = 1;
        args.regionSize = static_cast<int>(cells);
        args.text = u8.c_str();
        args.textSize = static_cast<int>(u8.size());
        args.charset = const_cast<char*>("UTF-8");
        args.cursor = BRLAPI_CURSOR_OFF;
        brlapi_write(&args);
    }
};

}  // namespace

unsigned brailleCells(std::string_view driver, unsigned columns, unsigned rows) {
    // Real displays have up to a few hundred cells; the bound keeps a broken
    // reply from sizing every line in gigabytes (and the product from wrapping).
    const unsigned long long kMaxCells = 4096;
    unsigned long long n = static_cast<unsigned long long>(columns) * rows;
    if (driver == "NoBraille" || n <= 1 || n > kMaxCells) return 0;
    return static_cast<unsigned>(n);
}

std::string brailleLine(std::string_view text, unsigned cells) {
    // BrlAPI wants exactly one character per cell: one CP1252 byte is one
    // character, so cut and pad in CP1252, then convert.
    std::string line(text.substr(0, cells));
    line.resize(cells, ' ');
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return cp1252ToUtf8(line);
}

std::unique_ptr<BrailleOutput> brlapiOpen() {
    brlapi_setExceptionHandler(ignoreBrlapiException);
    if (brlapi_openConnection(nullptr, nullptr) < 0) return nullptr;
    char driver[64] = {};
    unsigned x = 0, y = 0, cells = 0;
    if (brlapi_getDriverName(driver, sizeof driver) >= 0 && brlapi_getDisplaySize(&x, &y) >= 0)
        cells = brailleCells(driver, x, y);
    if (cells == 0 || brlapi_enterTtyMode(BRLAPI_TTY_DEFAULT, nullptr) < 0) {
        brlapi_closeConnection();
        return nullptr;
    }
    return std::make_unique<BrlapiOutput>(cells);
}

std::unique_ptr<SpeechBackend> spdOpenVoice() {
    SPDConnection* c = spdConnect();
    if (!c) return nullptr;
    return std::make_unique<SpdSpeech>(c, true);
}

std::unique_ptr<SpeechBackend> spdOpenScreenReader(std::unique_ptr<BrailleOutput> braille) {
    SPDConnection* c = spdConnect();
    if (!c) return nullptr;
    auto b = std::make_unique<SpdSpeech>(c, false);
    b->brl = std::move(braille);
    return b;
}

bool a11yScreenReaderEnabled() {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus) {
        g_clear_error(&error);
        return false;
    }
    // No auto-start: asking must not start the accessibility bus.
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", "org.a11y.Status", "ScreenReaderEnabled"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, 1000, nullptr, &error);
    g_object_unref(bus);
    if (!reply) {
        g_clear_error(&error);
        return false;
    }
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    bool enabled = value && g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) &&
                   g_variant_get_boolean(value);
    if (value) g_variant_unref(value);
    g_variant_unref(reply);
    return enabled;
}

bool orcaProcessRunning() {
    DIR* proc = opendir("/proc");
    if (!proc) return false;
    uid_t me = getuid();
    bool found = false;
    while (dirent* e = readdir(proc)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        std::string dir = std::string("/proc/") + e->d_name;
        struct stat st;
        // Another user's Orca (a login screen's) does not read this client.
        if (stat(dir.c_str(), &st) != 0 || st.st_uid != me) continue;
        std::ifstream comm(dir + "/comm");
        std::string name;
        if (std::getline(comm, name) && name == "orca") {
            found = true;
            break;
        }
    }
    closedir(proc);
    return found;
}

bool screenReaderRunning() {
    return orcaProcessRunning() || a11yScreenReaderEnabled();
}

void spdSetEventObserver(std::function<void(SpdEvent, std::size_t)> f) {
    std::lock_guard<std::mutex> lock(observerMutex);
    observer = std::move(f);
}

void installSystemSpeech() {
    SpeechPlatform p;
    p.libraries = &systemLibraries();
    p.screenReader = []() -> std::unique_ptr<SpeechBackend> {
        if (!screenReaderRunning()) return nullptr;
        return spdOpenScreenReader(brlapiOpen());
    };
    p.voice = [] { return spdOpenVoice(); };
    setSpeechPlatform(std::move(p));
}
