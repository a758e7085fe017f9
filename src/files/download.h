// HTTP/1.0 download of one game file from the download area into the
// program folder.  Runs on the caller's thread (the connection's dispatch
// thread, which the answer to "ping" does not wait for) and blocks it for
// the whole transfer, which is bounded: connect time-out, idle time-out,
// overall deadline, size cap, and cancelDownloads() at exit.  Names are CP1252 bytes with "/"
// separators, as the server gives them.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

// Where files come from.  `base` starts with "/" and has no trailing "/".
struct DownloadEndpoint {
    std::string host;
    int port = 80;
    std::string base;
    int idleTimeoutMs = 30000;  // a receive that waits longer fails the transfer
    // The whole exchange, connect included, per file: generous for a slow
    // line (an 80 MB installer at 1 Mbit/s takes about 11 minutes).
    int64_t overallTimeoutMs = 20 * 60 * 1000;
    // Largest body accepted: a Content-Length above it is refused before
    // any byte is written; a body without one is cut off there.
    int64_t maxBytes = int64_t(256) << 20;
};

// From true on, every download in progress or to come ends within about
// 100 ms as Cancelled, its ".part" file removed.  Set by the client's
// shut-down; false again at start-up (and in tests).
void cancelDownloads(bool cancel);

// The built-in download area: the build's download host, port 80, "/autodl".
DownloadEndpoint defaultDownloadEndpoint();

// The unit's state, one record: the settings of the file delivery, set at
// start-up before any connection exists, or by tests between runs, then
// read by the dispatch thread; and the cancellation switch (see
// cancelDownloads), which any thread may flip.  filesReset() restores the
// whole record, switch off (resetCore, tests).
struct FilesState {
    DownloadEndpoint endpoint = defaultDownloadEndpoint();
    // Folder the relative names are resolved in, with its trailing "/";
    // empty: the working directory (which start-up makes the program folder).
    std::string root;
    std::atomic<bool> downloadsCancelled{false};
    // Told of every file downloadFile wrote, with its local name (relative
    // to root), on the downloading thread.  Registered at start-up by the
    // layer above, which tells the units that keep what they read of files.
    void (*fileWritten)(std::string_view local) = nullptr;
};
extern FilesState filesState;
void filesReset();

// Remote and local names of a given name: when `fn` contains ".dll"
// (first occurrence, case-sensitive) the remote name is the text before it
// plus ".dle" and the local name ends with that ".dll"; text after the first
// ".dll" belongs to neither.  Otherwise both are `fn`.
struct DownloadNames {
    std::string remote, local;
};
DownloadNames downloadNames(std::string_view fn);

// True for a relative path that stays inside the program folder: not empty,
// no leading "/", no drive letter or other ":", no "\", no "." or ".."
// component, no empty component, no control byte, and no component that
// Windows takes for a device (NUL, CON, COM1, "nul.ogg"...), on every
// platform alike.
bool isSafeRelativeName(std::string_view fn);

// The request bytes for `remote` (sent verbatim, no percent-encoding).
std::string downloadRequest(const DownloadEndpoint& ep, std::string_view remote);

enum class DownloadResult {
    Written,      // the body replaced the local file
    Refused,      // the name is not a safe relative name: nothing sent
    NoHost,       // the host name did not resolve
    NoConnection, // TCP connect failed
    BadResponse,  // no header end, unreadable head, or status other than 200
    Incomplete,   // closed before Content-Length, receive error, idle time-out or overall deadline
    WriteFailed,  // the temporary file could not be written or renamed
    TooLarge,     // Content-Length, or the body, above the endpoint's maxBytes
    Cancelled,    // cancelDownloads(true)
};

// The whole exchange against `ep`, with local names under `root` (see
// FilesState::root).  The body goes to "<local>.part" next to the target and
// is renamed over it only once complete, so the local file is either the old
// one or the whole new one.  Missing sub-folders of an accepted name are
// created.  Prints "Failed to open file\r\n" on standard output when the
// temporary file cannot be created.
DownloadResult downloadFileFrom(const DownloadEndpoint& ep, const std::string& root, std::string_view fn);

// downloadFileFrom with the process-wide settings.  1 when the exchange took
// place (whether or not the file could be written), 0 when it could not
// (name refused, host not resolved, no connection, cancelled).
int downloadFile(std::string_view fn);
