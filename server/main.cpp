// kordo-server: the practice server.  See usage() for the options.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/dynlib.h"
#include "server.h"

namespace {

Server* running = nullptr;

void onSignal(int) {
    // stop() only stores a flag and writes one byte to a pipe:
    // async-signal-safe.
    if (running) running->stop();
}

void usage(FILE* to) {
    std::fprintf(to,
                 "usage: kordo-server [options]\n"
                 "  --port N          game port on 127.0.0.1 (default 1321)\n"
                 "  --http-port N     download port when port 80 cannot be bound (default 8080)\n"
                 "  --no-port-80      never try port 80: downloads only on --http-port\n"
                 "  --accounts FILE   accounts file (default: kordo-accounts.txt next to the server)\n"
                 "  --ban NAME        refuse this account with status -4 (repeatable)\n"
                 "  --sounds DIR      download area served as /autodl (default: autodl next to the server)\n"
                 "  --ping-ms N       keep-alive interval in ms (default 30000)\n"
                 "  --timeout-ms N    drop a client silent this long, in ms (default 90000)\n"
                 "  --verbose         log every client line on standard error\n");
}

bool parsePort(const char* s, int* out, bool allowZero) {
    char* end = nullptr;
    long v = std::strtol(s, &end, 10);
    if (!*s || *end || v < (allowZero ? 0 : 1) || v > 65535) return false;
    *out = static_cast<int>(v);
    return true;
}

bool parseMs(const char* s, int* out) {
    char* end = nullptr;
    long v = std::strtol(s, &end, 10);
    if (!*s || *end || v < 10 || v > 86400000) return false;
    *out = static_cast<int>(v);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    ServerOptions opt;
    const std::string here = programFolder();
    opt.accountsFile = here + "kordo-accounts.txt";
    opt.downloadDir = here + "autodl";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "kordo-server: option %s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        auto bad = [&](const char* v) {
            std::fprintf(stderr, "kordo-server: bad value for %s: %s\n", a.c_str(), v);
            std::exit(2);
        };
        if (a == "--port") {
            const char* v = value();
            if (!parsePort(v, &opt.port, true)) bad(v);
        } else if (a == "--http-port") {
            const char* v = value();
            if (!parsePort(v, &opt.httpPort, true)) bad(v);
        } else if (a == "--no-port-80") {
            // For tests beside other servers: even as root, leave port 80
            // (the one the client downloads from) to whoever else needs it.
            opt.tryHttp80 = false;
        } else if (a == "--accounts") {
            opt.accountsFile = value();
        } else if (a == "--ban") {
            opt.bans.emplace_back(value());
        } else if (a == "--sounds") {
            opt.downloadDir = value();
        } else if (a == "--ping-ms") {
            const char* v = value();
            if (!parseMs(v, &opt.pingMs)) bad(v);
        } else if (a == "--timeout-ms") {
            const char* v = value();
            if (!parseMs(v, &opt.idleTimeoutMs)) bad(v);
        } else if (a == "--verbose") {
            opt.verbose = true;
        } else if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "kordo-server: unknown option %s\n", a.c_str());
            usage(stderr);
            return 2;
        }
    }
    Server server(opt);
    std::string error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "kordo-server: %s\n", error.c_str());
        return 1;
    }
    running = &server;
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGPIPE, SIG_IGN);
    std::printf("kordo-server: game on 127.0.0.1:%d, downloads on http://127.0.0.1:%d/autodl/ from %s\n",
                server.port(), server.httpPort(), opt.downloadDir.c_str());
    std::fflush(stdout);
    server.run();
    running = nullptr;
    std::printf("kordo-server: stopped\n");
    return 0;
}
