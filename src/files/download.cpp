#include "files/download.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "files/http_reader.h"
#include "net/agc.h"
#include "net/config.h"
#include "platform/atomic_file.h"
#include "platform/diag.h"
#include "platform/file_names.h"
#include "platform/sockets.h"

FilesState filesState;

void cancelDownloads(bool cancel) { filesState.downloadsCancelled = cancel; }

DownloadEndpoint defaultDownloadEndpoint() {
    DownloadEndpoint ep;
    ep.host = kDefaultDownloadHost;
    ep.port = 80;
    ep.base = "/autodl";
    ep.idleTimeoutMs = 30000;
    return ep;
}

void filesReset() {
    filesState.endpoint = defaultDownloadEndpoint();
    filesState.root.clear();
    filesState.downloadsCancelled = false;
    filesState.fileWritten = nullptr;
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
constexpr int kDownloadConnectTimeoutMs = 10000;

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

using Clock = std::chrono::steady_clock;

int64_t msUntil(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now()).count();
}

bool sendAll(SocketHandle s, const std::string& bytes, Clock::time_point deadline) {
    size_t done = 0;
    while (done < bytes.size()) {
        if (filesState.downloadsCancelled.load()) return false;
        int64_t left = std::min<int64_t>(msUntil(deadline), 100);
        if (left <= 0) return false;
        long n = sockSendWithin(s, bytes.data() + done, bytes.size() - done, static_cast<int>(left));
        if (n < 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Waits for bytes in slices of 100 ms: 1 readable, 0 idle time-out or
// overall deadline, -1 error, -2 cancelled.
int waitBytes(SocketHandle s, Clock::time_point idleEnd, Clock::time_point deadline) {
    for (;;) {
        if (filesState.downloadsCancelled.load()) return -2;
        int64_t left = std::min(msUntil(idleEnd), msUntil(deadline));
        if (left <= 0) return 0;
        int r = sockWaitReadable(s, static_cast<int>(std::min<int64_t>(left, 100)));
        if (r != 0) return r;
    }
}
}  // namespace

DownloadResult downloadFileFrom(const DownloadEndpoint& ep, const std::string& root, std::string_view fn) {
    DownloadNames names = downloadNames(fn);
    if (!isSafeRelativeName(names.local) || !isSafeRelativeName(names.remote)) return DownloadResult::Refused;

    if (filesState.downloadsCancelled.load()) return DownloadResult::Cancelled;
    const Clock::time_point deadline =
        ep.overallTimeoutMs > 0 ? Clock::now() + std::chrono::milliseconds(ep.overallTimeoutMs) : Clock::time_point::max();
    const auto idle = std::chrono::milliseconds(ep.idleTimeoutMs > 0 ? ep.idleTimeoutMs : 24 * 3600 * 1000);
    uint32_t addr = 0;
    if (!sockResolveIPv4(ep.host, &addr)) return DownloadResult::NoHost;
    const int64_t connectMs = std::min<int64_t>(kDownloadConnectTimeoutMs, std::max<int64_t>(msUntil(deadline), 1));
    const std::atomic<bool>& cancelled = filesState.downloadsCancelled;
    SocketGuard sock{sockConnect(addr, ep.port, static_cast<int>(connectMs), &cancelled)};
    if (sock.s == kNoSocket)
        return cancelled.load() ? DownloadResult::Cancelled : DownloadResult::NoConnection;
    if (!sendAll(sock.s, downloadRequest(ep, names.remote), deadline))
        return cancelled.load() ? DownloadResult::Cancelled : DownloadResult::Incomplete;

    // The temporary file is opened only once the head says 200, so an error
    // page or a dead server leaves no trace at all.
    const std::string target = root + names.local;
    FileGuard tmp;
    HttpReader reader;
    std::vector<char> buf(64 * 1024);
    bool writeFailed = false;
    // Only an orderly close (0) ends a body that has no Content-Length; a
    // receive error or the idle time-out (<0) leaves it of unknown length.
    bool recvFailed = false;
    for (;;) {
        int w = waitBytes(sock.s, Clock::now() + idle, deadline);
        if (w == -2) return DownloadResult::Cancelled;  // the guards remove the ".part"
        long n = w > 0 ? sockRecv(sock.s, buf.data(), buf.size()) : -1;
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
            tmp.path = target + ".part";
            tmp.f = std::fopen(tmp.path.c_str(), "wb");
            if (!tmp.f) {
                diagLine("Failed to open file\r\n");
                tmp.path.clear();
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
    // The server's pings are answered while this waits on the download host.
    AgcOutsideWait outside;
    DownloadResult r = downloadFileFrom(filesState.endpoint, filesState.root, fn);
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
