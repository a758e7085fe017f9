#include "support/script_server.h"

#include <poll.h>

#include <chrono>

namespace {
bool waitReadable(SocketHandle fd, int timeoutMs) {
    pollfd p{static_cast<int>(fd), POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}
}  // namespace

ServerConn::~ServerConn() { close(); }

bool ServerConn::send(std::string_view bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        long r = sockSend(fd_, bytes.data() + sent, bytes.size() - sent);
        if (r <= 0) return false;
        sent += static_cast<size_t>(r);
    }
    return true;
}

bool ServerConn::sendWithin(std::string_view bytes, int timeoutMs) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        long r = sockSendWithin(fd_, bytes.data() + sent, bytes.size() - sent, timeoutMs);
        if (r <= 0) return false;
        sent += static_cast<size_t>(r);
    }
    return true;
}

std::optional<std::string> ServerConn::readLine(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        size_t nl = pending_.find('\n');
        if (nl != std::string::npos) {
            std::string line = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0 || fd_ == kNoSocket || !waitReadable(fd_, static_cast<int>(left)))
            return std::nullopt;
        char buf[4096];
        long r = sockRecv(fd_, buf, sizeof buf);
        if (r <= 0) return std::nullopt;
        pending_.append(buf, static_cast<size_t>(r));
    }
}

bool ServerConn::waitClosed(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (fd_ != kNoSocket) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0 || !waitReadable(fd_, static_cast<int>(left))) return false;
        char buf[4096];
        long r = sockRecv(fd_, buf, sizeof buf);
        if (r <= 0) return true;
        pending_.append(buf, static_cast<size_t>(r));
    }
    return true;
}

void ServerConn::close() {
    if (fd_ != kNoSocket) {
        sockShutdown(fd_);
        sockClose(fd_);
        fd_ = kNoSocket;
    }
}

ScriptServer::ScriptServer() { listener_ = sockListenLoopback(0, &port_); }

ScriptServer::~ScriptServer() { stop(); }

std::unique_ptr<ServerConn> ScriptServer::accept(int timeoutMs) {
    if (listener_ == kNoSocket || !waitReadable(listener_, timeoutMs)) return nullptr;
    SocketHandle c = sockAccept(listener_);
    if (c == kNoSocket) return nullptr;
    return std::make_unique<ServerConn>(c);
}

std::unique_ptr<ServerConn> ScriptServer::acceptLogin(int status, std::string* login,
                                                      const std::string& challenge) {
    auto c = accept();
    if (!c) return nullptr;
    c->send("challenge " + challenge + "\n");
    auto line = c->readLine();
    if (login) *login = line.value_or("");
    c->send("status " + std::to_string(status) + "\n");
    return c;
}

void ScriptServer::stop() {
    if (listener_ != kNoSocket) {
        sockClose(listener_);
        listener_ = kNoSocket;
    }
}
