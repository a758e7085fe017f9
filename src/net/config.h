// The user's settings and the server list, and the configuration file that
// holds them.  The language, the selected entry and the list are kept here,
// in one record in config.cpp; the volumes and the music pause switch belong
// to the sound unit, which this one hands them to on loading and asks for on
// saving (audio/sound.h, SoundVolumes).
//
// File format: 8-bit CP1252 bytes, one "key=value" per line.  Lines end in
// "\r\n" when written; "\n" alone reads the same.  A line that begins with
// "\r", "\n", a space, ";" or "#" is a comment or blank; a line without "="
// is skipped.  Keys are compared exactly (case and blanks count).
#pragma once

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

// The player's settings as the file holds them.  A plain value: the parser
// fills one, tests compare them; currentSettings() gathers the process's.
struct Settings {
    float muVol = 0.5f;   // music volume, 0..1 after clampVolumes()
    float fxVol = 1.0f;   // sound effect volume, 0..1 after clampVolumes()
    std::string language = "fr";  // at most 2 bytes
    bool muStopped = false;       // music paused ("music.on=0")
    unsigned serverIndex = 0;     // index into servers; may name no entry

    bool operator==(const Settings&) const = default;
};

// Threads.  The UI thread is the only writer, and reads freely.  The
// connection series (the connecting thread, the receive thread of a lost
// connection reconnecting, or a series thread of login.h) read the selected
// entry through selectedServerCopy(), under the unit's lock, which the
// writers (loadConfig, applySettings, chooseServer, resetConfig) take.  The
// volumes follow the sound unit's rules.

// The name of the configuration file in the program folder.
inline constexpr const char kConfigFileName[] = "config-debug.ini";

// The server list, in file order.  UI thread; the reference stays valid,
// its contents change with the writers above.
const std::vector<servinfo>& serverList();
// The selected entry, or nullptr when serverIndex names no entry.  UI
// thread (the pointer is into serverList()).
const servinfo* selectedServer();
// A copy of the selected entry, taken under the lock: for threads other than
// the UI thread.  Empty when serverIndex names no entry.
std::optional<servinfo> selectedServerCopy();
// Selects entry `index` and keeps `login` and `password` in it (the
// connection dialog's Connect), under the lock.  False, changing nothing,
// when `index` names no entry.  UI thread.
bool chooseServer(size_t index, std::string login, std::string password);

// The settings as the file would be written now: the language and the
// selected index kept here, the volumes and the pause switch sound holds.
// UI thread.
Settings currentSettings();
// Makes `settings` and `servers` the process's: the language, the selected
// index and the list are kept here (under the lock), the volumes and the
// pause switch handed to sound (setSoundVolumes).  loadConfig ends this way.
// UI thread.
void applySettings(const Settings& settings, std::vector<servinfo> servers);

// Restores the language and the selected index to their defaults and
// empties the list (start of a run, tests).  The volumes are sound's
// (soundReset).
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

// Reads the file `fn` (UI thread): its keys apply over currentSettings(),
// its entries are appended to the list (applySettings).  When it cannot be
// read, writes the default file and reads that; when that fails too, applies
// the default bytes from memory (no retry).  Returns true when a file was
// read.
bool loadConfig(const std::string& fn);

// Rewrites `fn` from currentSettings() and the list (UI thread).  The bytes
// go to a temporary file next to it that then replaces `fn`, so a crash or a
// full disk during the save leaves the previous file whole.  Failures are
// silent; false then.
bool saveConfig(const std::string& fn);

// Writes the default file (replacing `fn` the same way).  False on failure.
bool createDefaultConfigFile(const std::string& fn);

// Start-up's volume rule: a muVol outside 0..1 becomes 0.5, an fxVol outside
// 0..1 becomes 1.0.  A value that is not a number is outside.
void clampVolumes(Settings* settings);
// The same rule on the volumes sound holds (start-up, after loadConfig).
void clampVolumes();
