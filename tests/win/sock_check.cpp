// sock_check.exe: the Winsock socket shim (src/platform/sockets_win32.cpp)
// under Wine, for the Wine tests.  Built by them with the MinGW compiler
// together with the shim, as a console program.
//
// Checks, on loopback connections: a receive with a time-out and a silent
// peer fails (<0) once the time-out has passed, and not before; data that
// arrives within the time-out is read; the time-out counts from each
// receive, not from when it was set; without a time-out a shut-down still
// wakes a blocked receive (0), and a connect waiting on a host that drops
// the request (sockConnectCreated).  One "ok <what>" line per check on standard
// output, "FAIL <what>" for the first that fails.  Exit status: 0 all passed,
// 1 a check failed, 2 no loopback connection.
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "platform/sockets.h"

namespace {
using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

bool check(bool cond, const char* what) {
    std::printf("%s %s\n", cond ? "ok" : "FAIL", what);
    std::fflush(stdout);
    return cond;
}

struct Pair {
    SocketHandle client = kNoSocket, server = kNoSocket;
    ~Pair() {
        sockClose(client);
        sockClose(server);
    }
};

bool connectPair(SocketHandle listener, uint32_t loopback, int port, Pair* p) {
    p->client = sockConnect(loopback, port);
    if (p->client == kNoSocket) return false;
    p->server = sockAccept(listener);
    return p->server != kNoSocket;
}
}  // namespace

int main() {
    if (!sockStartup()) return 2;
    int port = 0;
    SocketHandle listener = sockListenLoopback(0, &port);
    uint32_t loopback = 0;
    if (listener == kNoSocket || !sockResolveIPv4("127.0.0.1", &loopback)) return 2;
    char buf[16];
    bool ok = true;
    {
        Pair p;
        if (!connectPair(listener, loopback, port, &p)) return 2;
        ok = ok && check(sockSetRecvTimeout(p.client, 400), "time-out set");
        Clock::time_point t = Clock::now();
        long n = sockRecv(p.client, buf, sizeof buf);
        long long waited = msSince(t);
        std::printf("   silent peer: %ld after %lld ms\n", n, waited);
        ok = ok &&
             check(n < 0 && waited >= 350, "a silent peer fails the receive after the time-out");

        // The peer speaks after 250 ms, twice: each receive has its own
        // 400 ms, so both arrive although 500 ms pass in all.
        std::thread peer([&] {
            for (const char* word : {"one", "two"}) {
                std::this_thread::sleep_for(std::chrono::milliseconds(250));
                sockSend(p.server, word, 3);
            }
        });
        long a = sockRecv(p.client, buf, sizeof buf);
        long b = sockRecv(p.client, buf, sizeof buf);
        peer.join();
        ok = ok && check(a == 3 && b == 3,
                         "data within the time-out is read, the time-out counts per receive");

        sockClose(p.server);
        p.server = kNoSocket;
        ok = ok && check(sockRecv(p.client, buf, sizeof buf) == 0,
                         "the peer's close still reads as the end");
    }
    {
        Pair p;
        if (!connectPair(listener, loopback, port, &p)) return 2;
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            sockShutdown(p.client);
        });
        long n = sockRecv(p.client, buf, sizeof buf);
        stopper.join();
        ok = ok && check(n == 0, "without a time-out, a shut-down wakes the receive");
    }
    {
        // A listener whose accept queue is full drops further requests, so
        // a connect to it waits for its time-out (10 s here) unless woken.
        int fullPort = 0;
        SocketHandle full = sockListen(loopback, 0, &fullPort);
        std::vector<SocketHandle> fillers;
        for (int i = 0; i < 512; ++i) {
            SocketHandle f = sockConnect(loopback, fullPort, 300);
            if (f == kNoSocket) break;
            fillers.push_back(f);
        }
        SocketHandle s = sockCreateTcp();
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            sockShutdown(s);
        });
        Clock::time_point t = Clock::now();
        bool connected = sockConnectCreated(s, loopback, fullPort, 10000);
        long long waited = msSince(t);
        stopper.join();
        std::printf("   connect to a full queue (%zu fillers): %d after %lld ms\n", fillers.size(),
                    connected, waited);
        ok = ok && check(fillers.size() < 512 && !connected && waited < 2000,
                         "a shut-down wakes a connect in progress");
        sockClose(s);
        for (SocketHandle f : fillers) sockClose(f);
        sockClose(full);
    }
    sockClose(listener);
    sockCleanup();
    return ok ? 0 : 1;
}
