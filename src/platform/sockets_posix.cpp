#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>

#include "platform/sockets.h"

bool sockStartup() { return true; }
void sockCleanup() {}

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
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    return s < 0 ? kNoSocket : s;
}

bool sockConnectCreated(SocketHandle sock, uint32_t addr, int port, int timeoutMs,
                        const std::atomic<bool>* cancel) {
    const int s = static_cast<int>(sock);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = addr;
    // Non-blocking connect, then a wait for its end.  A shutdown from
    // another thread ends the wait at once (the kernel wakes the poll and
    // the connect fails); a cancel flag is looked at in slices of 100 ms.
    int r = ::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    if (r < 0 && errno != EINPROGRESS && errno != EINTR) return false;
    if (r < 0) {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (cancel && cancel->load()) return false;
            int wait = cancel ? 100 : -1;
            if (timeoutMs > 0) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
                if (left <= 0) return false;
                if (wait < 0 || left < wait) wait = static_cast<int>(left);
            }
            pollfd p{s, POLLOUT, 0};
            int n = ::poll(&p, 1, wait);
            if (n < 0 && errno != EINTR) return false;
            if (n > 0) break;
        }
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) < 0 || err != 0) return false;
    }
    ::fcntl(s, F_SETFL, ::fcntl(s, F_GETFL) & ~O_NONBLOCK);
    int one = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return true;
}

SocketHandle sockConnect(uint32_t addr, int port, int timeoutMs, const std::atomic<bool>* cancel) {
    SocketHandle s = sockCreateTcp();
    if (s == kNoSocket) return kNoSocket;
    if (!sockConnectCreated(s, addr, port, timeoutMs, cancel)) {
        ::close(static_cast<int>(s));
        return kNoSocket;
    }
    return s;
}

long sockSend(SocketHandle s, const char* data, size_t len) {
    long r;
    do {
        r = ::send(static_cast<int>(s), data, len, MSG_NOSIGNAL);
    } while (r < 0 && errno == EINTR);
    return r;
}

long sockSendWithin(SocketHandle s, const char* data, size_t len, int timeoutMs) {
    pollfd p{static_cast<int>(s), POLLOUT, 0};
    int n;
    do {
        n = ::poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return -1;
    if (n == 0) return 0;
    if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return -1;
    long r;
    do {
        r = ::send(static_cast<int>(s), data, len, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (r < 0 && errno == EINTR);
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    return r;
}

int sockWaitReadable(SocketHandle s, int timeoutMs) {
    pollfd p{static_cast<int>(s), POLLIN, 0};
    int n;
    do {
        n = ::poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
    } while (n < 0 && errno == EINTR);
    if (n < 0 || (n > 0 && (p.revents & POLLNVAL))) return -1;
    return n > 0 ? 1 : 0;
}

long sockRecv(SocketHandle s, char* buf, size_t len) {
    long r;
    do {
        r = ::recv(static_cast<int>(s), buf, len, 0);
    } while (r < 0 && errno == EINTR);
    return r;
}

void sockShutdown(SocketHandle s) {
    if (s >= 0) ::shutdown(static_cast<int>(s), SHUT_RDWR);
}

void sockClose(SocketHandle s) {
    if (s >= 0) ::close(static_cast<int>(s));
}

SocketHandle sockListen(uint32_t addr, int port, int* boundPort) {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return kNoSocket;
    int one = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = addr;
    if (::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0 || ::listen(s, 64) < 0) {
        ::close(s);
        return kNoSocket;
    }
    socklen_t len = sizeof sa;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len);
    if (boundPort) *boundPort = ntohs(sa.sin_port);
    return s;
}

SocketHandle sockListenLoopback(int port, int* boundPort) {
    return sockListen(htonl(INADDR_LOOPBACK), port, boundPort);
}

SocketHandle sockAccept(SocketHandle listener) {
    int c;
    do {
        c = ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
    } while (c < 0 && errno == EINTR);
    if (c < 0) return kNoSocket;
    int one = 1;
    ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return c;
}

bool sockSetRecvTimeout(SocketHandle s, int ms) {
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    return ::setsockopt(static_cast<int>(s), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}
