// Practice server load: N clients logged in at once on loopback, each
// choosing a menu item in a loop (one request outstanding per client) for a
// bounded time.  Prints selects served per second, the reply latency (p50,
// p99, max) and the server's resident memory.
//
//   bench_server [seconds=10] [clients=200] [pause-ms=0]
//
// With pause 0 every client sends its next choice as soon as the reply
// arrives (the server is saturated: latency is then mostly queueing behind
// the other clients); a pause between a reply and the next choice gives a
// paced load closer to people playing.
//
// The server runs as its own process (the built kordo-server), so its
// memory is measured alone.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "net/login.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Conn {
    int fd = -1;
    std::string in;
    int stage = 0;  // 0 challenge, 1 status, 2 main menu, 3 live menu, 4 looping
    Clock::time_point sentAt;
    Clock::time_point nextAt;  // paced load: when to send the next choice
    bool waiting = false;      // a choice is out, its reply not yet in
};

bool sendAll(int fd, const std::string& s) {
    size_t off = 0;
    while (off < s.size()) {
        ssize_t w = ::send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
        if (w <= 0) return false;
        off += static_cast<size_t>(w);
    }
    return true;
}

// One driver thread runs a share of the clients in a poll loop.
void drive(int port, int first, int count, Clock::time_point loggedDeadline, std::atomic<int>* ready,
           const std::atomic<bool>* go, const std::atomic<bool>* stop, std::vector<double>* latenciesUs,
           long* selects, int pauseMs) {
    std::vector<Conn> conns(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            std::perror("connect");
            std::exit(1);
        }
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        conns[static_cast<size_t>(i)].fd = fd;
    }
    std::vector<pollfd> fds(conns.size());
    char buf[65536];
    bool counted = false;
    while (!stop->load()) {
        for (size_t i = 0; i < conns.size(); ++i) fds[i] = {conns[i].fd, POLLIN, 0};
        ::poll(fds.data(), fds.size(), pauseMs > 0 ? 1 : 20);
        if (!counted && Clock::now() > loggedDeadline) {
            std::fprintf(stderr, "bench_server: clients did not all log in\n");
            std::exit(1);
        }
        for (size_t i = 0; i < conns.size(); ++i) {
            Conn& c = conns[i];
            if (c.stage == 3 && go->load()) c.stage = 4;
            if (c.stage == 4 && !c.waiting && !stop->load() && Clock::now() >= c.nextAt) {
                c.waiting = true;
                c.sentAt = Clock::now();
                sendAll(c.fd, "select 4|0|compteur\n");
            }
            if (!(fds[i].revents & POLLIN)) continue;
            ssize_t r = ::recv(c.fd, buf, sizeof buf, 0);
            if (r <= 0) {
                std::fprintf(stderr, "bench_server: the server closed a connection\n");
                std::exit(1);
            }
            c.in.append(buf, static_cast<size_t>(r));
            size_t nl;
            while ((nl = c.in.find('\n')) != std::string::npos) {
                std::string line = c.in.substr(0, nl);
                c.in.erase(0, nl + 1);
                if (line == "ping") {
                    sendAll(c.fd, "pong\n");
                } else if (c.stage == 0 && line.starts_with("challenge ")) {
                    sendAll(c.fd, loginLine(line.substr(10), "bench" + std::to_string(first + static_cast<int>(i)), "pw"));
                    c.stage = 1;
                } else if (c.stage == 1 && line.starts_with("status ")) {
                    if (line != "status 1") {
                        std::fprintf(stderr, "bench_server: login refused: %s\n", line.c_str());
                        std::exit(1);
                    }
                    c.stage = 2;
                } else if (c.stage == 2 && line.starts_with("menu 1|")) {
                    sendAll(c.fd, "select 1|3|vivant\n");
                } else if (c.stage == 2 && line.starts_with("menu 4|")) {
                    c.stage = 3;
                    ++*ready;
                } else if (c.stage == 4 && line.starts_with("uitem 0|")) {
                    auto now = Clock::now();
                    latenciesUs->push_back(std::chrono::duration<double, std::micro>(now - c.sentAt).count());
                    ++*selects;
                    c.waiting = false;
                    c.nextAt = now + std::chrono::milliseconds(pauseMs);
                    if (pauseMs == 0 && !stop->load()) {
                        c.waiting = true;
                        c.sentAt = now;
                        sendAll(c.fd, "select 4|0|compteur\n");
                    }
                }
            }
        }
        if (!counted) counted = go->load();
    }
    for (Conn& c : conns) ::close(c.fd);
}

long residentKb(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(f, line))
        if (line.starts_with("VmRSS:")) return std::atol(line.c_str() + 6);
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const int clients = argc > 2 ? std::atoi(argv[2]) : 200;
    const int pauseMs = argc > 3 ? std::atoi(argv[3]) : 0;
    setLoginClientId("bench1");
    signal(SIGPIPE, SIG_IGN);

    // Start the server on an ephemeral port and read the port it prints.
    char accounts[] = "/tmp/kordo-bench-accountsXXXXXX";
    int afd = ::mkstemp(accounts);
    ::close(afd);
    int out[2];
    if (::pipe(out) != 0) return 1;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    std::string exe = KORDO_SERVER_EXE;
    std::vector<std::string> args = {exe, "--port", "0", "--http-port", "0", "--accounts", accounts};
    std::vector<char*> av;
    for (auto& a : args) av.push_back(a.data());
    av.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, exe.c_str(), &fa, nullptr, av.data(), environ) != 0) {
        std::fprintf(stderr, "bench_server: cannot start %s\n", exe.c_str());
        return 1;
    }
    ::close(out[1]);
    std::string banner;
    char ch;
    while (::read(out[0], &ch, 1) == 1 && ch != '\n') banner += ch;
    int port = 0;
    if (auto at = banner.find("127.0.0.1:"); at != std::string::npos) port = std::atoi(banner.c_str() + at + 10);
    if (port <= 0) {
        std::fprintf(stderr, "bench_server: no port in \"%s\"\n", banner.c_str());
        kill(pid, SIGTERM);
        return 1;
    }
    const long rssIdle = residentKb(pid);

    const int threads = 4;
    std::atomic<int> ready{0};
    std::atomic<bool> go{false}, stop{false};
    std::vector<std::vector<double>> lat(threads);
    std::vector<long> sel(threads, 0);
    std::vector<std::thread> workers;
    auto loginDeadline = Clock::now() + std::chrono::seconds(60);
    for (int t = 0; t < threads; ++t) {
        int first = t * clients / threads, last = (t + 1) * clients / threads;
        workers.emplace_back(drive, port, first, last - first, loginDeadline, &ready, &go, &stop, &lat[t], &sel[t], pauseMs);
    }
    while (ready.load() < clients) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const long rssLogged = residentKb(pid);
    auto t0 = Clock::now();
    go = true;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const long rssLoaded = residentKb(pid);
    stop = true;
    for (auto& w : workers) w.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();

    std::vector<double> all;
    long total = 0;
    for (int t = 0; t < threads; ++t) {
        all.insert(all.end(), lat[t].begin(), lat[t].end());
        total += sel[t];
    }
    std::sort(all.begin(), all.end());
    auto pct = [&](double p) { return all.empty() ? 0.0 : all[std::min(all.size() - 1, static_cast<size_t>(p * all.size()))]; };
    std::printf("clients %d, pause %d ms, %.1f s: %ld selects, %.0f selects/s\n", clients, pauseMs, elapsed, total,
                total / elapsed);
    std::printf("reply latency: p50 %.0f us, p99 %.0f us, max %.0f us\n", pct(0.5), pct(0.99),
                all.empty() ? 0.0 : all.back());
    std::printf("server resident memory: %ld kB idle, %ld kB with %d clients logged in, %ld kB under load\n",
                rssIdle, rssLogged, clients, rssLoaded);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    ::unlink(accounts);
    return 0;
}
