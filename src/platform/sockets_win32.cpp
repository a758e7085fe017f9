#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>
#include <set>

#include "platform/sockets.h"

namespace {
// Sockets that sockShutdown() has shut, until sockClose().  Winsock (and
// Wine) do not wake a recv() blocked in another thread when the socket is
// shut down, so sockRecv() waits in slices and looks here between them.
std::mutex shutMutex;
std::set<SOCKET> shutSockets;

bool isShut(SOCKET s) {
    std::lock_guard<std::mutex> lock(shutMutex);
    return shutSockets.count(s) != 0;
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

SocketHandle sockConnect(uint32_t addr, int port) {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return kNoSocket;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<u_short>(port));
    sa.sin_addr.s_addr = addr;
    if (::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::closesocket(s);
        return kNoSocket;
    }
    BOOL one = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    return static_cast<SocketHandle>(s);
}

long sockSend(SocketHandle s, const char* data, size_t len) {
    int n = len > 0x7fffffff ? 0x7fffffff : static_cast<int>(len);
    int r = ::send(static_cast<SOCKET>(s), data, n, 0);
    return r == SOCKET_ERROR ? -1 : r;
}

long sockRecv(SocketHandle s, char* buf, size_t len) {
    const SOCKET sock = static_cast<SOCKET>(s);
    // Waits for data in slices of 100 ms; a shut socket reads as the end of
    // the stream.
    for (;;) {
        if (isShut(sock)) return 0;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(sock, &readable);
        timeval slice{0, 100000};
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
        std::lock_guard<std::mutex> lock(shutMutex);
        shutSockets.insert(static_cast<SOCKET>(s));
    }
    ::shutdown(static_cast<SOCKET>(s), SD_BOTH);
}

void sockClose(SocketHandle s) {
    if (s == kNoSocket) return;
    {
        std::lock_guard<std::mutex> lock(shutMutex);
        shutSockets.erase(static_cast<SOCKET>(s));
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
    DWORD v = static_cast<DWORD>(ms);
    return ::setsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_RCVTIMEO,
                        reinterpret_cast<const char*>(&v), sizeof v) == 0;
}
