// A scripted TCP server on 127.0.0.1 (ephemeral port) for tests: accepts
// connections, sends chosen bytes in chosen chunks, and reads what the
// client sends line by line.  Every wait is bounded.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/sockets.h"

class ServerConn {
public:
    explicit ServerConn(SocketHandle fd) : fd_(fd) {}
    ~ServerConn();
    ServerConn(const ServerConn&) = delete;
    ServerConn& operator=(const ServerConn&) = delete;

    bool send(std::string_view bytes);
    // As send, but gives up once the client has taken nothing for
    // timeoutMs (it stopped reading): false then, or on an error.
    bool sendWithin(std::string_view bytes, int timeoutMs);
    // The next line the client sent, without its "\n"; nullopt when the
    // client closed or nothing came within timeoutMs.
    std::optional<std::string> readLine(int timeoutMs = 5000);
    // True once the client has closed (reads until end, bounded).
    bool waitClosed(int timeoutMs = 5000);
    void close();

private:
    SocketHandle fd_;
    std::string pending_;
};

class ScriptServer {
public:
    ScriptServer();
    ~ScriptServer();
    int port() const { return port_; }
    // The next connection, or nullptr when none came within timeoutMs.
    std::unique_ptr<ServerConn> accept(int timeoutMs = 5000);
    // Accepts, sends "challenge <c>", reads the login line into *login and
    // answers "status <status>".
    std::unique_ptr<ServerConn> acceptLogin(int status, std::string* login = nullptr,
                                            const std::string& challenge = "abc");
    void stop();

private:
    SocketHandle listener_ = kNoSocket;
    int port_ = 0;
};
