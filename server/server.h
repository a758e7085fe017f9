// The practice server: speaks the game protocol on a loopback TCP port and
// serves its download area over HTTP/1.0.
//
// Threads: one.  run() is a poll loop that owns every socket, every client
// record and the accounts; only stop() may be called from another thread
// (it wakes the loop through a pipe).  Texts on the wire are CP1252.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct ServerOptions {
    int port = 1321;             // game port on 127.0.0.1; 0 = ephemeral
    bool tryHttp80 = true;       // try port 80 for downloads first (needs root)
    int httpPort = 8080;         // fallback download port; 0 = ephemeral
    std::string accountsFile;    // "name|salt|digest" lines; created on demand
    std::vector<std::string> bans;   // account names refused with -4
    std::string downloadDir;     // served as /autodl (sounds/, extension, installer)
    int pingMs = 30000;          // "ping" sent this often to logged-in clients
    int idleTimeoutMs = 90000;   // a client silent this long is dropped
    bool verbose = false;        // log every line received on stderr
};

class Server {
public:
    explicit Server(ServerOptions options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Reads the accounts and binds both ports.  On failure returns false with
    // a one-line reason in *error (for the terminal).
    bool start(std::string* error);
    int port() const;
    int httpPort() const;
    // Serves until stop().  Call once, after a successful start().
    void run();
    // Any thread; run() returns soon after.
    void stop();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};
