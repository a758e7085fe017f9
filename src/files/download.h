// HTTP/1.0 download of one game file from the download area into the
// program folder.  Runs on the caller's thread (a connection's dispatch
// thread, whose later lines, "ping" included, wait for it) and blocks it for
// the whole transfer, which is bounded: connect time-out, idle time-out,
// overall deadline, size cap, the end of the caller's connection, and
// cancelDownloads() at exit.  Names are CP1252 bytes with "/" separators,
// as the server gives them.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "net/cancel.h"
#include "platform/caps.h"

// Where files come from.  `base` starts with "/" and has no trailing "/".
struct DownloadEndpoint {
    std::string host;
    int port = 80;
    std::string base;
    int idleTimeoutMs = kDownloadIdleTimeoutMs;  // a receive that waits longer fails the transfer
    // The whole exchange, connect included, per file: generous for a slow
    // line (an 80 MB installer at 1 Mbit/s takes about 11 minutes).
    int64_t overallTimeoutMs = kDownloadOverallTimeoutMs;
    // Largest body accepted: a Content-Length above it is refused before
    // any byte is written; a body without one is cut off there.
    int64_t maxBytes = kDownloadMaxBytes;
};

// From true on, every download in progress or to come ends at once as
// Cancelled, its temporary file removed.  Set by the client's shut-down;
// false again at start-up (and in tests), with no download running.
void cancelDownloads(bool cancel);

// The built-in download area: the build's download host, port 80, "/autodl".
DownloadEndpoint defaultDownloadEndpoint();

// The settings of the file delivery, kept in download.cpp with the rest of
// the unit's state: set at start-up before any connection exists, or by tests
// between runs, then read by the dispatch threads.  The getters return
// copies.
//
// Where files come from (defaultDownloadEndpoint() at start).
void setDownloadEndpoint(DownloadEndpoint ep);
DownloadEndpoint downloadEndpoint();
// Folder the relative names are resolved in, with its trailing "/"; empty
// (at start): the working directory (which start-up makes the program
// folder).
void setFilesRoot(std::string root);
std::string filesRoot();
// Told of every file downloadFile wrote, with its local name (relative to
// the root), on the downloading thread; null: nobody.  Registered at
// start-up by the layer above, which tells the units that keep what they
// read of files.
void setFileWrittenObserver(void (*observer)(std::string_view local));

// Back to the start values: default endpoint, working directory, no
// observer, the cancel switch off, no download running (resetCore, tests).
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
// setFilesRoot).  The body goes to a temporary file of this download's
// own next to the target, created new ("<local>.part", or "<local>.<n>.part"
// when something has that name already, which is left alone), and is renamed
// over the target only once complete, so the local file is either the old
// one or the whole new one.  Missing sub-folders of an accepted name are
// created.  Hands "Failed to open file\r\n" to the diagnostics seam
// (diagLine, platform/diag.h) when the temporary file cannot be created.
//
// One download per target at a time: a download of a target that another
// one is fetching waits for that one to end, then makes its own exchange.
// It does not take the other's result: it may come from a newer check (the
// server's copy may have changed since the other began), and the other may
// end cancelled with its connection.  The wait counts in the overall
// deadline (past it: Incomplete) and ends at a cancel.
//
// `connection`: the cancel switch of the connection the download serves
// (agc_dispatchCancel()), or null; once it is set, as once
// cancelDownloads(true), the download ends at once as Cancelled, whether it
// waits for its turn, connects, sends or receives.
DownloadResult downloadFileFrom(const DownloadEndpoint& ep, const std::string& root, std::string_view fn,
                                CancelSwitch* connection = nullptr);

// downloadFileFrom with the process-wide settings and the calling dispatch
// thread's connection.  1 when the exchange took place (whether or not the
// file could be written), 0 when it could not (name refused, host not
// resolved, no connection, cancelled).
int downloadFile(std::string_view fn);
