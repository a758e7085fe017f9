// The user's settings and the server list, and the configuration file that
// holds them.  Process-wide, in configState; who may touch which field is
// said there.
//
// File format: 8-bit CP1252 bytes, one "key=value" per line.  Lines end in
// "\r\n" when written; "\n" alone reads the same.  A line that begins with
// "\r", "\n", a space, ";" or "#" is a comment or blank; a line without "="
// is skipped.  Keys are compared exactly (case and blanks count).
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One server entry.  Every text field may be absent (distinct from empty).
struct servinfo {
    std::optional<std::string> name;
    std::optional<std::string> host;
    std::optional<std::string> login;
    std::optional<std::string> password;
    std::optional<std::string> createAccountPage;
    std::optional<std::string> lostPasswordPage;
    std::optional<std::string> aboutPage;
    std::optional<std::string> dlHost;
    std::optional<std::string> dlBase;
    int port = 0;

    bool operator==(const servinfo&) const = default;
};

// The player's settings.  A plain value: the parser fills one, tests compare
// them; the process-wide one is configState.conf.
struct Settings {
    float muVol = 0.5f;   // music volume, 0..1 after clampVolumes()
    float fxVol = 1.0f;   // sound effect volume, 0..1 after clampVolumes()
    std::string language = "fr";  // at most 2 bytes
    bool muStopped = false;       // music paused ("music.on=0")
    unsigned serverIndex = 0;     // index into servers; may name no entry

    bool operator==(const Settings&) const = default;
};

// The unit's process-wide state, one record; resetConfig() restores it.
//
// Threads.  The UI thread is the only writer, and reads freely.  Other
// threads read:
// - conf.serverIndex and servers: the connection series (the connecting
//   thread, the receive thread of a lost connection reconnecting, or a
//   series thread of login.h) read the selected entry, through
//   selectedServerCopy(), under `mu`; the UI thread writes them under `mu`
//   (loadConfig, chooseServer, resetConfig);
// - conf.muVol and conf.muStopped: the sound module's music operations
//   (playMusic on a dispatch thread; the volume keys and the pause switch on
//   the UI thread) read and write them under its music lock; loadConfig and
//   clampVolumes run at start-up before any connection, saveConfig at exit;
// - conf.fxVol and conf.language: UI thread only (a sound's volume is read
//   where it plays, on the UI thread).
struct ConfigState {
    Settings conf;
    std::vector<servinfo> servers;
    std::mutex mu;
};
extern ConfigState configState;

// The name of the configuration file in the program folder.
inline constexpr const char kConfigFileName[] = "config-debug.ini";

// The selected entry, or nullptr when serverIndex names no entry.  UI
// thread (the pointer is into configState.servers).
servinfo* selectedServer();
// A copy of the selected entry, taken under the lock: for threads other than
// the UI thread.  Empty when serverIndex names no entry.
std::optional<servinfo> selectedServerCopy();
// Selects entry `index` and keeps `login` and `password` in it (the
// connection dialog's Connect), under the lock.  False, changing nothing,
// when `index` names no entry.  UI thread.
bool chooseServer(size_t index, std::string login, std::string password);

// Restores conf to its defaults and empties servers (start of a run, tests).
void resetConfig();

// Pure parser: applies the lines of `bytes` to *settings and appends one entry
// to *list per usable "server" line, in file order.  Keys not in the file
// leave *settings unchanged.  No I/O; any byte sequence is accepted.
//
// Server values are cut at runs of "," into name, host, port, aboutPage,
// createAccountPage, lostPasswordPage, dlHost, dlBase, login, password; a
// field reading exactly kAbsentField is absent, as are missing trailing
// fields; a value with fewer than 3 fields adds no entry.
void parseConfig(std::string_view bytes, Settings* settings, std::vector<servinfo>* list);

// The bytes saveConfig writes for `settings` and `list`.  Numbers are written
// the same whatever the C locale ("%.5g" with a "." decimal point).
//
// A server field that the format cannot carry back is written as absent: an
// empty text, one holding ",", "\r" or "\n", or one equal to kAbsentField.
// Absent fields at the end of an entry are left out with their separators;
// an absent field followed by a present one is written as kAbsentField, so
// every entry reads back as it was written (see parseConfig).
std::string serializeConfig(const Settings& settings, const std::vector<servinfo>& list);

// The text that stands for an absent field in the middle of a server line.
// It is what the C printf family writes for a missing string, so files
// written that way read back with the field absent too.
inline constexpr std::string_view kAbsentField = "(null)";

// The default web and download host, fixed when the client is built (the
// CMake setting KORDO_DOWNLOAD_HOST, "localhost" unless set).  The default
// entry's pages and download host name it, and the file download always
// fetches from it.
extern const char kDefaultDownloadHost[];

// The bytes of the default file: "fr", server 0, sound 1, music 0.5 paused,
// and one entry "Kordo local" on localhost port 1321 without credentials,
// whose pages and download host are on kDefaultDownloadHost.
std::string defaultConfigBytes();

// Reads the file `fn` into configState (UI thread).  When it cannot be read, writes
// the default file and reads that; when that fails too, applies the default
// bytes from memory (no retry).  Returns true when a file was read.
bool loadConfig(const std::string& fn);

// Rewrites `fn` from configState (UI thread).  The bytes go to a temporary file
// next to it that then replaces `fn`, so a crash or a full disk during the
// save leaves the previous file whole.  Failures are silent; false then.
bool saveConfig(const std::string& fn);

// Writes the default file (replacing `fn` the same way).  False on failure.
bool createDefaultConfigFile(const std::string& fn);

// Start-up's volume rule: a muVol outside 0..1 becomes 0.5, an fxVol outside
// 0..1 becomes 1.0.  A value that is not a number is outside.
void clampVolumes(Settings* settings);
inline void clampVolumes() { clampVolumes(&configState.conf); }
