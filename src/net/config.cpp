#include "net/config.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <mutex>

#include "audio/sound.h"
#include "platform/atomic_file.h"
#include "platform/fields.h"

#ifndef KORDO_DOWNLOAD_HOST
#define KORDO_DOWNLOAD_HOST "localhost"
#endif

const char kDefaultDownloadHost[] = KORDO_DOWNLOAD_HOST;

namespace {

// The unit's process-wide state, one record; resetConfig() restores it.
// The UI thread writes it under `mu` and reads it freely; other threads read
// the selected entry under `mu` (selectedServerCopy).
struct ConfigState {
    std::string language = Settings{}.language;
    unsigned serverIndex = Settings{}.serverIndex;
    std::vector<servinfo> servers;
    std::mutex mu;
};
ConfigState st;

}  // namespace

const std::vector<servinfo>& serverList() { return st.servers; }

const servinfo* selectedServer() {
    return st.serverIndex < st.servers.size() ? &st.servers[st.serverIndex] : nullptr;
}

std::optional<servinfo> selectedServerCopy() {
    std::lock_guard<std::mutex> lock(st.mu);
    if (const servinfo* s = selectedServer()) return *s;
    return std::nullopt;
}

bool chooseServer(size_t index, std::string login, std::string password) {
    std::lock_guard<std::mutex> lock(st.mu);
    if (index >= st.servers.size()) return false;
    st.serverIndex = static_cast<unsigned>(index);
    st.servers[index].login = std::move(login);
    st.servers[index].password = std::move(password);
    return true;
}

Settings currentSettings() {
    const SoundVolumes v = soundVolumes();
    Settings s;
    s.muVol = v.music;
    s.fxVol = v.effects;
    s.muStopped = v.musicStopped;
    s.language = st.language;
    s.serverIndex = st.serverIndex;
    return s;
}

void applySettings(const Settings& settings, std::vector<servinfo> servers) {
    {
        std::lock_guard<std::mutex> lock(st.mu);
        st.language = settings.language;
        st.serverIndex = settings.serverIndex;
        st.servers = std::move(servers);
    }
    setSoundVolumes({settings.muVol, settings.fxVol, settings.muStopped});
}

void resetConfig() {
    std::lock_guard<std::mutex> lock(st.mu);
    st.language = Settings{}.language;
    st.serverIndex = Settings{}.serverIndex;
    st.servers.clear();
}

namespace {

// True when the value reads as the decimal integer 0: no digits at all, or
// only zero digits.
bool readsAsZero(std::string_view v) {
    bool negative;
    return leadingDigits(skipBlanksAndSign(v, &negative)).saturated == 0;
}


// "%.5g" with a "." decimal point whatever the locale.
std::string formatG5(float f) {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, static_cast<double>(f),
                                   std::chars_format::general, 5);
    if (ec != std::errc()) return "0";
    return std::string(buf, end);
}

std::optional<std::string> fieldValue(std::string_view field) {
    if (field == kAbsentField) return std::nullopt;
    return std::string(field);
}

void parseServer(std::string_view value, std::vector<servinfo>* list) {
    std::vector<std::string_view> fields;
    size_t i = 0;
    while (i < value.size()) {
        if (value[i] == ',') {
            ++i;
            continue;
        }
        size_t end = value.find(',', i);
        if (end == std::string_view::npos) end = value.size();
        fields.push_back(value.substr(i, end - i));
        i = end;
    }
    // Without a port there is nothing to connect to: such a line adds no
    // entry, so the list and its indices hold only usable entries.
    if (fields.size() < 3) return;
    servinfo s;
    std::optional<std::string>* text[] = {&s.name,      &s.host,   nullptr,
                                          &s.aboutPage, &s.createAccountPage,
                                          &s.lostPasswordPage,
                                          &s.dlHost,    &s.dlBase, &s.login,
                                          &s.password};
    for (size_t f = 0; f < fields.size() && f < std::size(text); ++f) {
        if (text[f]) {
            *text[f] = fieldValue(fields[f]);
        } else {
            // An int port that writes back as the same digits.
            uint32_t p = readUint32Wrapping(fields[f]);
            s.port = p > static_cast<uint32_t>(std::numeric_limits<int>::max())
                         ? std::numeric_limits<int>::max()
                         : static_cast<int>(p);
        }
    }
    list->push_back(std::move(s));
}

void applyLine(std::string_view line, Settings* settings, std::vector<servinfo>* list) {
    if (line.empty()) return;
    const char first = line[0];
    if (first == '\n' || first == '\r' || first == ' ' || first == ';' || first == '#') return;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) return;
    const std::string_view key = line.substr(0, eq);
    const std::string_view value = line.substr(eq + 1);
    if (key == "language") {
        settings->language = std::string(value.substr(0, 2));
    } else if (key == "music.on") {
        settings->muStopped = readsAsZero(value);
    } else if (key == "music.volume") {
        settings->muVol = readFloat(value);
    } else if (key == "sound.volume") {
        settings->fxVol = readFloat(value);
    } else if (key == "server.default") {
        settings->serverIndex = readUint32Wrapping(value);
    } else if (key == "server") {
        parseServer(value, list);
    }
}

// Whether a text field can be written so that it reads back as itself.
bool writable(const std::optional<std::string>& v) {
    return v && !v->empty() && v->find_first_of(",\r\n") == std::string::npos &&
           *v != kAbsentField;
}

void appendServer(std::string* out, const servinfo& s) {
    const std::optional<std::string>* tail[] = {&s.aboutPage, &s.createAccountPage,
                                                &s.lostPasswordPage, &s.dlHost,
                                                &s.dlBase,    &s.login,
                                                &s.password};
    size_t last = 0;  // number of tail fields up to the last writable one
    for (size_t i = 0; i < std::size(tail); ++i)
        if (writable(*tail[i])) last = i + 1;
    auto put = [out](const std::optional<std::string>& v) {
        *out += writable(v) ? std::string_view(*v) : kAbsentField;
    };
    *out += "server=";
    put(s.name);
    *out += ',';
    put(s.host);
    *out += ',';
    *out += std::to_string(s.port);
    for (size_t i = 0; i < last; ++i) {
        *out += ',';
        put(*tail[i]);
    }
    *out += "\r\n";
}

}  // namespace

void parseConfig(std::string_view bytes, Settings* settings, std::vector<servinfo>* list) {
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t nl = bytes.find('\n', pos);
        size_t next = nl == std::string_view::npos ? bytes.size() : nl + 1;
        std::string_view line = bytes.substr(pos, next - pos);
        pos = next;
        // The value ends before the line end: "\n", or "\r\n".  A last line
        // without "\n" counts as well.  Lines are never cut by length.
        if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        applyLine(line, settings, list);
    }
}

std::string serializeConfig(const Settings& settings, const std::vector<servinfo>& list) {
    std::string out;
    out += "language=" + settings.language + "\r\n";
    // The index is an int in the file: read back as unsigned, an index of
    // 2^31 or more is written negative ("-1", not "4294967295"), and reads
    // back the same.
    out += "server.default=" + std::to_string(static_cast<int32_t>(settings.serverIndex)) + "\r\n";
    out += "sound.volume=" + formatG5(settings.fxVol) + "\r\n";
    out += "music.volume=" + formatG5(settings.muVol) + "\r\n";
    out += settings.muStopped ? "music.on=0\r\n" : "music.on=1\r\n";
    for (const servinfo& s : list) appendServer(&out, s);
    return out;
}

std::string defaultConfigBytes() {
    // The game server is the practice server running locally; the web and
    // download host is the built-in one.
    const std::string dlHost = kDefaultDownloadHost;
    const std::string web = "http://" + dlHost;
    std::string out;
    out += "language=fr\r\nserver.default=0\r\n";
    out += "sound.volume=1\r\nmusic.volume=0.5\r\nmusic.on=0\r\n";
    out += "server=Kordo local,localhost,1321," + web + "/about.php," + web + "/register.php," +
           web + "/lostpassword.php," + dlHost + ",/autodl\r\n";
    return out;
}

bool createDefaultConfigFile(const std::string& fn) {
    return writeFileAtomic(fn, defaultConfigBytes());
}

bool loadConfig(const std::string& fn) {
    std::string bytes;
    bool read = readWholeFile(fn, &bytes);
    if (!read && createDefaultConfigFile(fn)) read = readWholeFile(fn, &bytes);
    // It holds the passwords: a file an earlier version left readable by
    // others is closed now, not only when it is rewritten at exit.
    if (read) narrowToOwner(fn);
    // Neither readable nor writable (read-only folder, ...): run with the
    // defaults rather than trying again.
    if (!read) bytes = defaultConfigBytes();
    Settings settings = currentSettings();
    std::vector<servinfo> servers = st.servers;
    parseConfig(bytes, &settings, &servers);
    applySettings(settings, std::move(servers));
    return read;
}

bool saveConfig(const std::string& fn) {
    return writeFileAtomic(fn, serializeConfig(currentSettings(), st.servers));
}

void clampVolumes(Settings* settings) {
    // Written as "not inside" so that a NaN read from the file is replaced.
    if (!(settings->muVol >= 0.0f && settings->muVol <= 1.0f)) settings->muVol = 0.5f;
    if (!(settings->fxVol >= 0.0f && settings->fxVol <= 1.0f)) settings->fxVol = 1.0f;
}

void clampVolumes() {
    SoundVolumes v = soundVolumes();
    Settings s;
    s.muVol = v.music;
    s.fxVol = v.effects;
    clampVolumes(&s);
    v.music = s.muVol;
    v.effects = s.fxVol;
    setSoundVolumes(v);
}
