#include "files/download.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "files/http_reader.h"
#include "net/agc.h"
#include "net/config.h"
#include "platform/atomic_file.h"
#include "platform/caps.h"
#include "platform/diag.h"
#include "platform/file_names.h"
#include "platform/sockets.h"

DownloadEndpoint defaultDownloadEndpoint() {
    DownloadEndpoint ep;
    ep.host = kDefaultDownloadHost;
    ep.port = 80;
    ep.base = "/autodl";
    return ep;
}

namespace {
// The unit's state, one record: the settings of the file delivery, set at
// start-up before any connection exists, or by tests between runs, then
// read by the dispatch threads; the cancellation switch (see
// cancelDownloads), which any thread may flip; and the targets being
// downloaded.  filesReset() restores the whole record, switch off, with no
// download running (resetCore, tests).
struct FilesState {
    DownloadEndpoint endpoint = defaultDownloadEndpoint();
    // Folder the relative names are resolved in, with its trailing "/";
    // empty: the working directory (which start-up makes the program folder).
    std::string root;
    CancelSwitch downloadsCancel;
    // Told of every file downloadFile wrote, with its local name (relative
    // to root), on the downloading thread.  Registered at start-up by the
    // layer above, which tells the units that keep what they read of files.
    void (*fileWritten)(std::string_view local) = nullptr;
    // One download per target at a time (two connections' dispatch threads
    // may ask for the same file): the target paths of the downloads under
    // way, guarded by targetsMu; a download waiting for its target's turn
    // waits on targetsCv.
    std::mutex targetsMu;
    std::condition_variable targetsCv;
    std::vector<std::string> busyTargets;
};

FilesState filesState;
}  // namespace

void cancelDownloads(bool cancel) {
    if (cancel)
        filesState.downloadsCancel.cancel();
    else
        filesState.downloadsCancel.reset();
}

void setDownloadEndpoint(DownloadEndpoint ep) { filesState.endpoint = std::move(ep); }
DownloadEndpoint downloadEndpoint() { return filesState.endpoint; }
void setFilesRoot(std::string root) { filesState.root = std::move(root); }
std::string filesRoot() { return filesState.root; }
void setFileWrittenObserver(void (*observer)(std::string_view local)) { filesState.fileWritten = observer; }

void filesReset() {
    filesState.endpoint = defaultDownloadEndpoint();
    filesState.root.clear();
    filesState.downloadsCancel.reset();
    filesState.fileWritten = nullptr;
    std::lock_guard<std::mutex> lock(filesState.targetsMu);
    filesState.busyTargets.clear();
}

DownloadNames downloadNames(std::string_view fn) {
    size_t p = fn.find(".dll");
    if (p == std::string_view::npos) return {std::string(fn), std::string(fn)};
    return {std::string(fn.substr(0, p)) + ".dle", std::string(fn.substr(0, p + 4))};
}

bool isSafeRelativeName(std::string_view fn) { return isSafeRelativePath(fn); }

std::string downloadRequest(const DownloadEndpoint& ep, std::string_view remote) {
    std::string req = "GET ";
    req += ep.base;
    req += '/';
    req += remote;
    req += " HTTP/1.0\r\nHost:";
    req += ep.host;
    req += "\r\nUser-Agent:Orvandel Audiogame client\r\n\r\n";
    return req;
}

namespace {

struct SocketGuard {
    SocketHandle s;
    ~SocketGuard() {
        if (s != kNoSocket) sockClose(s);
    }
};

struct FileGuard {
    std::FILE* f = nullptr;
    std::string path;  // removed unless released
    ~FileGuard() {
        if (f) std::fclose(f);
        if (!path.empty()) std::remove(path.c_str());
    }
};

// Creates the folders leading to `local` (relative, already checked safe).
void makeParentFolders(const std::string& root, const std::string& local) {
    size_t slash = local.rfind('/');
    if (slash == std::string::npos) return;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(root + local.substr(0, slash)), ec);
}

// A new temporary file next to `target` (see kTemporaryNames), its name in
// *path; null when none could be created.
std::FILE* createTemporary(const std::string& target, std::string* path) {
    for (int n = 0; n < kTemporaryNames; ++n) {
        const std::string p = n == 0 ? target + ".part" : target + "." + std::to_string(n) + ".part";
        bool existed = false;
        if (std::FILE* f = createNewFile(p, &existed)) {
            *path = p;
            return f;
        }
        if (!existed) return nullptr;
    }
    return nullptr;
}

using Clock = std::chrono::steady_clock;

int64_t msUntil(Clock::time_point t) {
    if (t == Clock::time_point::max()) return INT32_MAX;
    return std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now()).count();
}

int clampMs(int64_t ms) { return static_cast<int>(std::clamp<int64_t>(ms, 0, INT32_MAX)); }

bool sendAll(SocketHandle s, const std::string& bytes, Clock::time_point deadline) {
    size_t done = 0;
    while (done < bytes.size()) {
        const int64_t left = msUntil(deadline);
        if (left <= 0) return false;
        // A shut-down socket fails at once: a cancel ends this wait.
        long n = sockSendWithin(s, bytes.data() + done, bytes.size() - done, clampMs(left));
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The key of a target in FilesState::busyTargets: its path, whose letter
// case does not tell files apart on Windows.
std::string targetKey(const std::string& target) {
#ifdef _WIN32
    std::string k = target;
    for (char& c : k)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return k;
#else
    return target;
#endif
}

// A target's turn (see FilesState::busyTargets), held for a whole download.
// Taking it waits while another download has the target, until the
// deadline, or a cancel of either switch.
class TargetTurn {
public:
    TargetTurn(const std::string& target, CancelSwitch* connection, Clock::time_point deadline)
        : key_(targetKey(target)) {
        FilesState& fs = filesState;
        CancelWatch all(&fs.downloadsCancel, CancelWatch::wakeOf(fs.targetsMu, fs.targetsCv));
        CancelWatch own(connection, CancelWatch::wakeOf(fs.targetsMu, fs.targetsCv));
        auto cancelled = [&] { return fs.downloadsCancel.cancelled() || (connection && connection->cancelled()); };
        auto free = [&] { return std::find(fs.busyTargets.begin(), fs.busyTargets.end(), key_) == fs.busyTargets.end(); };
        // Released before the watches end: their actions take this lock.
        std::unique_lock<std::mutex> lock(fs.targetsMu);
        if (deadline == Clock::time_point::max())
            fs.targetsCv.wait(lock, [&] { return cancelled() || free(); });
        else if (!fs.targetsCv.wait_until(lock, deadline, [&] { return cancelled() || free(); }))
            return;
        if (cancelled()) return;
        fs.busyTargets.push_back(key_);
        held_ = true;
    }
    ~TargetTurn() {
        if (!held_) return;
        FilesState& fs = filesState;
        {
            std::lock_guard<std::mutex> lock(fs.targetsMu);
            fs.busyTargets.erase(std::find(fs.busyTargets.begin(), fs.busyTargets.end(), key_));
        }
        fs.targetsCv.notify_all();
    }
    TargetTurn(const TargetTurn&) = delete;
    TargetTurn& operator=(const TargetTurn&) = delete;
    bool held() const { return held_; }

private:
    std::string key_;
    bool held_ = false;
};
}  // namespace

DownloadResult downloadFileFrom(const DownloadEndpoint& ep, const std::string& root, std::string_view fn,
                                CancelSwitch* connection) {
    DownloadNames names = downloadNames(fn);
    if (!isSafeRelativeName(names.local) || !isSafeRelativeName(names.remote)) return DownloadResult::Refused;

    CancelSwitch* const all = &filesState.downloadsCancel;
    auto cancelled = [&] { return all->cancelled() || (connection && connection->cancelled()); };
    if (cancelled()) return DownloadResult::Cancelled;
    const Clock::time_point deadline =
        ep.overallTimeoutMs > 0 ? Clock::now() + std::chrono::milliseconds(ep.overallTimeoutMs) : Clock::time_point::max();
    const int64_t idleMs = ep.idleTimeoutMs > 0 ? ep.idleTimeoutMs : int64_t(24) * 3600 * 1000;
    uint32_t addr = 0;
    if (!sockResolveIPv4(ep.host, &addr)) return DownloadResult::NoHost;

    const std::string target = root + names.local;
    TargetTurn turn(target, connection, deadline);
    if (!turn.held()) return cancelled() ? DownloadResult::Cancelled : DownloadResult::Incomplete;

    SocketGuard sock{sockCreateTcp()};
    if (sock.s == kNoSocket) return DownloadResult::NoConnection;
    // Until the socket is closed, a cancel shuts it down: whatever waits on
    // it (connect, send, receive) returns at once, and the checks after each
    // wait tell a cancel from a failure.  (Declared after the socket: they
    // end before it is closed.)
    CancelWatch watchAll(all, CancelWatch::shutdownOf(sock.s));
    CancelWatch watchOwn(connection, CancelWatch::shutdownOf(sock.s));
    const int64_t connectMs = std::min<int64_t>(kDownloadConnectTimeoutMs, std::max<int64_t>(msUntil(deadline), 1));
    if (!sockConnectCreated(sock.s, addr, ep.port, static_cast<int>(connectMs)))
        return cancelled() ? DownloadResult::Cancelled : DownloadResult::NoConnection;
    if (cancelled()) return DownloadResult::Cancelled;
    if (!sendAll(sock.s, downloadRequest(ep, names.remote), deadline))
        return cancelled() ? DownloadResult::Cancelled : DownloadResult::Incomplete;

    // The temporary file is opened only once the head says 200, so an error
    // page or a dead server leaves no trace at all.
    FileGuard tmp;
    HttpReader reader;
    std::vector<char> buf(64 * 1024);
    bool writeFailed = false;
    // Only an orderly close (0) ends a body that has no Content-Length; a
    // receive error, the idle time-out or the deadline (<0) leaves it of
    // unknown length.
    bool recvFailed = false;
    for (;;) {
        const int64_t left = msUntil(deadline);
        long n = -1;
        // Each receive waits at most the idle time-out and what is left of
        // the deadline; a cancel's shutdown wakes it.
        if (left > 0 && sockSetRecvTimeout(sock.s, clampMs(std::max<int64_t>(std::min(idleMs, left), 1))))
            n = sockRecv(sock.s, buf.data(), buf.size());
        if (cancelled()) return DownloadResult::Cancelled;  // the guards remove the temporary file
        if (n <= 0) {
            recvFailed = n < 0;
            break;
        }
        std::string_view body = httpFeed(&reader, std::string_view(buf.data(), static_cast<size_t>(n)));
        if (reader.state == HttpState::Malformed) return DownloadResult::BadResponse;
        if (reader.state != HttpState::Head && reader.status != 200) return DownloadResult::BadResponse;
        if (reader.state != HttpState::Head &&
            (reader.contentLength > ep.maxBytes || reader.bodyReceived > ep.maxBytes))
            return DownloadResult::TooLarge;
        if (reader.state != HttpState::Head && !tmp.f && !writeFailed) {
            makeParentFolders(root, names.local);
            tmp.f = createTemporary(target, &tmp.path);
            if (!tmp.f) {
                diagLine("Failed to open file\r\n");
                writeFailed = true;
            }
        }
        // Keep receiving after a write failure: the exchange still runs to
        // its end, as the server expects, and the old file stays.
        if (tmp.f && !body.empty() && std::fwrite(body.data(), 1, body.size(), tmp.f) != body.size())
            writeFailed = true;
        if (reader.state == HttpState::Complete) break;
    }
    if (reader.state == HttpState::Head) return DownloadResult::BadResponse;
    if (recvFailed || !httpBodyComplete(reader)) return DownloadResult::Incomplete;
    if (writeFailed || !tmp.f) return DownloadResult::WriteFailed;
    std::FILE* f = tmp.f;
    tmp.f = nullptr;
    if (std::fclose(f) != 0) return DownloadResult::WriteFailed;
    if (!replaceFile(tmp.path, target)) return DownloadResult::WriteFailed;
    tmp.path.clear();
    return DownloadResult::Written;
}

int downloadFile(std::string_view fn) {
    DownloadResult r = downloadFileFrom(filesState.endpoint, filesState.root, fn, agc_dispatchCancel());
    if (r == DownloadResult::Written && filesState.fileWritten) filesState.fileWritten(downloadNames(fn).local);
    switch (r) {
    case DownloadResult::Refused:
    case DownloadResult::NoHost:
    case DownloadResult::NoConnection:
    case DownloadResult::Cancelled:
        return 0;
    default:
        return 1;
    }
}
