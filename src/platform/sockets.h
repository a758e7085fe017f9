// Thin socket shim over POSIX sockets and Winsock 2: TCP over IPv4 only,
// blocking calls.  One implementation file per platform is compiled.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

using SocketHandle = intptr_t;
constexpr SocketHandle kNoSocket = -1;

// Starts the platform socket library (Winsock 2.0); no-op on POSIX.
bool sockStartup();
void sockCleanup();

// Resolves `host` to its first IPv4 address, in network byte order.
bool sockResolveIPv4(const std::string& host, uint32_t* addrNetOrder);

// TCP connect; kNoSocket on failure.  With `timeoutMs` > 0 an attempt that
// has not completed within that many milliseconds fails; with `cancel`, it
// also fails within about 100 ms of *cancel becoming true.  The socket
// returned is blocking.
SocketHandle sockConnect(uint32_t addrNetOrder, int port, int timeoutMs = 0,
                         const std::atomic<bool>* cancel = nullptr);

// The same connect in two steps, for a caller that must be able to wake it
// from another thread: sockCreateTcp makes the socket (kNoSocket on
// failure), which the caller owns and may hand to sockShutdown at any time;
// sockConnectCreated then connects it as sockConnect does and returns
// false on failure; a shutdown while it waits makes it fail (at once on
// POSIX, within 100 ms on Winsock; a shutdown just as the connect completes
// may leave it true, and the socket shut).  The caller closes the socket
// either way.
SocketHandle sockCreateTcp();
bool sockConnectCreated(SocketHandle s, uint32_t addrNetOrder, int port, int timeoutMs = 0,
                        const std::atomic<bool>* cancel = nullptr);

// Waits at most `timeoutMs` for room in the send buffer, then sends what
// fits without blocking.  Returns the bytes sent (> 0), 0 when no room came
// in time, <0 on error (a shut-down socket is an error).  Never raises
// SIGPIPE.
long sockSendWithin(SocketHandle s, const char* data, size_t len, int timeoutMs);

// Waits at most `timeoutMs` for bytes (or the end) to read: 1 readable,
// 0 not yet, <0 error.
int sockWaitReadable(SocketHandle s, int timeoutMs);

// Returns bytes sent / received, 0 on orderly end (recv), <0 on error.
// Neither raises SIGPIPE.
long sockSend(SocketHandle s, const char* data, size_t len);
long sockRecv(SocketHandle s, char* buf, size_t len);

// Ends both directions so that a thread blocked in sockRecv() returns; the
// descriptor stays valid until sockClose().
void sockShutdown(SocketHandle s);
void sockClose(SocketHandle s);

// Listening socket on 127.0.0.1 (port 0 = ephemeral); used by tests, bench
// and the practice server.  *boundPort receives the port.
SocketHandle sockListenLoopback(int port, int* boundPort);
SocketHandle sockListen(uint32_t addrNetOrder, int port, int* boundPort);
SocketHandle sockAccept(SocketHandle listener);

// Receive time-out in milliseconds (0 = none): from then on a sockRecv()
// that has waited that long with nothing to read returns <0.  False if the
// time-out could not be set.
bool sockSetRecvTimeout(SocketHandle s, int ms);
