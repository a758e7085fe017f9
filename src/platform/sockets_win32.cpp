#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <map>
#include <mutex>
#include <set>

#include "platform/sockets.h"

namespace {
// Per-socket state that sockRecv() consults between its waits, guarded by
// one mutex; an entry lives until sockClose().
//  - shutSockets: sockShutdown() has shut them.  Winsock (and Wine) do not
//    wake a recv() blocked in another thread when the socket is shut down,
//    so sockRecv() waits in slices and looks here between them.
//  - recvTimeouts: the time-out set by sockSetRecvTimeout(), in ms.  The
//    waits happen in select(), which SO_RCVTIMEO does not bound, so
//    sockRecv() measures the time-out itself.
std::mutex stateMutex;
std::set<SOCKET> shutSockets;
std::map<SOCKET, int> recvTimeouts;

bool isShut(SOCKET s) {
    std::lock_guard<std::mutex> lock(stateMutex);
    return shutSockets.count(s) != 0;
}

int recvTimeoutMs(SOCKET s) {
    std::lock_guard<std::mutex> lock(stateMutex);
    auto it = recvTimeouts.find(s);
    return it == recvTimeouts.end() ? 0 : it->second;
}
}  // namespace

bool sockStartup() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 0), &data) == 0;
}

void sockCleanup() { WSACleanup(); }

bool sockResolveIPv4(const std::string& host, uint32_t* addr) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) return false;
    *addr = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(res);
    return true;
}

SocketHandle sockCreateTcp() {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    return s == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(s);
}

bool sockConnectCreated(SocketHandle sock, uint32_t addr, int port, int timeoutMs,
                        const std::atomic<bool>* cancel) {
    const SOCKET s = static_cast<SOCKET>(sock);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<u_short>(port));
    sa.sin_addr.s_addr = addr;
    // Non-blocking connect, then waits in slices of at most 100 ms so that
    // the time-out, the cancel flag and a shutdown from another thread (which
    // does not wake select() on every Winsock) are all honoured.
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    if (::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        if (::WSAGetLastError() != WSAEWOULDBLOCK) return false;
        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if ((cancel && cancel->load()) || isShut(s)) return false;
            long sliceUs = 100000;
            if (timeoutMs > 0) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
                if (left <= 0) return false;
                if (left < sliceUs) sliceUs = static_cast<long>(left);
            }
            fd_set writable, failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(s, &writable);
            FD_SET(s, &failed);
            timeval slice{0, sliceUs};
            int ready = ::select(0, nullptr, &writable, &failed, &slice);
            if (ready == SOCKET_ERROR || (ready > 0 && FD_ISSET(s, &failed))) return false;
            if (ready > 0) break;
        }
        if (isShut(s)) return false;
    }
    nonBlocking = 0;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    BOOL one = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    return true;
}

SocketHandle sockConnect(uint32_t addr, int port, int timeoutMs, const std::atomic<bool>* cancel) {
    SocketHandle s = sockCreateTcp();
    if (s == kNoSocket) return kNoSocket;
    if (!sockConnectCreated(s, addr, port, timeoutMs, cancel)) {
        sockClose(s);
        return kNoSocket;
    }
    return s;
}

long sockSend(SocketHandle s, const char* data, size_t len) {
    int n = len > 0x7fffffff ? 0x7fffffff : static_cast<int>(len);
    int r = ::send(static_cast<SOCKET>(s), data, n, 0);
    return r == SOCKET_ERROR ? -1 : r;
}

long sockSendWithin(SocketHandle s, const char* data, size_t len, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const SOCKET sock = static_cast<SOCKET>(s);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // Waits in slices of at most 100 ms: a shutdown in another thread does
    // not wake select() on every Winsock, so the shut set is looked at.
    for (;;) {
        if (isShut(sock)) return -1;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
        const long sliceUs = left <= 0 ? 0 : left < 100000 ? static_cast<long>(left) : 100000;
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(sock, &writable);
        timeval wait{0, sliceUs};
        int ready = ::select(0, nullptr, &writable, nullptr, &wait);
        if (ready == SOCKET_ERROR) return -1;
        if (ready > 0) break;
        if (left <= 0) return 0;
    }
    // Writable: the stack takes at least part of the bytes now.  The socket
    // stays blocking (the receive thread reads it); a line is small.
    int n = len > 0x7fffffff ? 0x7fffffff : static_cast<int>(len);
    int r = ::send(sock, data, n, 0);
    return r == SOCKET_ERROR ? -1 : r;
}

int sockWaitReadable(SocketHandle s, int timeoutMs) {
    const SOCKET sock = static_cast<SOCKET>(s);
    if (isShut(sock)) return 1;  // reads as the end
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(sock, &readable);
    timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    int ready = ::select(0, &readable, nullptr, nullptr, &wait);
    if (ready == SOCKET_ERROR) return -1;
    return ready > 0 ? 1 : 0;
}

long sockRecv(SocketHandle s, char* buf, size_t len) {
    using Clock = std::chrono::steady_clock;
    const SOCKET sock = static_cast<SOCKET>(s);
    const int timeoutMs = recvTimeoutMs(sock);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // Waits for data in slices of at most 100 ms; a shut socket reads as the
    // end of the stream, a wait past the time-out (if any) as an error.
    for (;;) {
        if (isShut(sock)) return 0;
        long sliceUs = 100000;
        if (timeoutMs > 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0) {
                ::WSASetLastError(WSAETIMEDOUT);
                return -1;
            }
            if (left < sliceUs) sliceUs = static_cast<long>(left);
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(sock, &readable);
        timeval slice{0, sliceUs};
        int ready = ::select(0, &readable, nullptr, nullptr, &slice);
        if (ready == SOCKET_ERROR) return -1;
        if (ready > 0) break;
    }
    int n = len > 0x7fffffff ? 0x7fffffff : static_cast<int>(len);
    int r = ::recv(sock, buf, n, 0);
    return r == SOCKET_ERROR ? -1 : r;
}

void sockShutdown(SocketHandle s) {
    if (s == kNoSocket) return;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        shutSockets.insert(static_cast<SOCKET>(s));
    }
    ::shutdown(static_cast<SOCKET>(s), SD_BOTH);
}

void sockClose(SocketHandle s) {
    if (s == kNoSocket) return;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        shutSockets.erase(static_cast<SOCKET>(s));
        recvTimeouts.erase(static_cast<SOCKET>(s));
    }
    ::closesocket(static_cast<SOCKET>(s));
}

SocketHandle sockListen(uint32_t addr, int port, int* boundPort) {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return kNoSocket;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<u_short>(port));
    sa.sin_addr.s_addr = addr;
    if (::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(s, 64) != 0) {
        ::closesocket(s);
        return kNoSocket;
    }
    int len = sizeof sa;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len);
    if (boundPort) *boundPort = ntohs(sa.sin_port);
    return static_cast<SocketHandle>(s);
}

SocketHandle sockListenLoopback(int port, int* boundPort) {
    return sockListen(htonl(INADDR_LOOPBACK), port, boundPort);
}

SocketHandle sockAccept(SocketHandle listener) {
    SOCKET c = ::accept(static_cast<SOCKET>(listener), nullptr, nullptr);
    return c == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(c);
}

bool sockSetRecvTimeout(SocketHandle s, int ms) {
    if (s == kNoSocket || ms < 0) return false;
    std::lock_guard<std::mutex> lock(stateMutex);
    if (ms == 0)
        recvTimeouts.erase(static_cast<SOCKET>(s));
    else
        recvTimeouts[static_cast<SOCKET>(s)] = ms;
    return true;
}
