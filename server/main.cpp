// kordo-server: the practice server.  See usage() for the options.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/dynlib.h"
#include "platform/files_folder.h"
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
                 "The practice server of Le Kordo: a small game on 127.0.0.1.\n"
                 "  --port N          game port on 127.0.0.1 (default 1321)\n"
                 "  --http-port N     download port when port 80 cannot be bound (default 8080)\n"
                 "  --no-port-80      never try port 80: downloads only on --http-port\n"
                 "  --accounts FILE   accounts file (default: kordo-accounts.txt next to the server;\n"
                 "                    once installed, in ~/.local/share/kordo-server)\n"
                 "  --ban NAME        refuse this account with status -4 (repeatable)\n"
                 "  --sounds DIR      download area served as /autodl (default: autodl next to the\n"
                 "                    server; once installed, share/kordo/autodl of its prefix)\n"
                 "  --ping-ms N       keep-alive interval in ms (default 30000)\n"
                 "  --timeout-ms N    drop a client silent this long, in ms (default 90000)\n"
                 "  --verbose         log every client line on standard error\n"
                 "  --help            show this help and exit\n"
                 "  --version         show the version and exit\n");
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
    // Run from its build folder, the server keeps its accounts and finds its
    // download area next to itself.  Installed, the area is in the tree's
    // share/kordo/ and the accounts in the user's data folder.
    const FolderFacts facts = probeFolderFacts();
    const std::string here = programFolder();
    const std::string accountsFolder = chooseFilesFolder(facts, "kordo-server");
    if (!accountsFolder.empty())
        opt.accountsFile = (std::filesystem::path(accountsFolder) / "kordo-accounts.txt").string();
    const std::string area = facts.installed ? here + "../share/kordo/autodl" : here + "autodl";
    opt.downloadDir = std::filesystem::path(area).lexically_normal().string();
    bool accountsGiven = false;
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
            accountsGiven = true;
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
        } else if (a == "--version") {
            std::printf("kordo-server %s\n", KORDO_VERSION);
            return 0;
        } else {
            std::fprintf(stderr, "kordo-server: unknown option %s (see kordo-server --help)\n",
                         a.c_str());
            return 2;
        }
    }
    std::string folderError;
    if (!accountsGiven && !makeFilesFolder(accountsFolder, &folderError)) {
        std::fprintf(stderr, "kordo-server: %s (or give --accounts)\n", folderError.c_str());
        return 1;
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
