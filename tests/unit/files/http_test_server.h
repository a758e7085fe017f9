// A loopback HTTP/1.0 server for tests and the download benchmark: listens
// on 127.0.0.1 (ephemeral port), serves one connection at a time on its own
// thread (or each on a thread of its own once setConcurrent(true)), records
// each request's head and when each exchange began and ended, and answers
// with the next queued reply, else the set reply.  Every wait is bounded.
// Linux only (poll).
#pragma once

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/sockets.h"

struct HttpReply {
    std::string bytes;        // sent as given, then the connection closes
    int64_t zeroBody = 0;     // then this many zero bytes, in 64 KiB sends
    bool stall = false;       // after sending, keep the connection open
                              // until the client closes (at most 10 s)
    bool reset = false;       // end with a reset (RST) instead of a close:
                              // the client's next receive fails
    int trickleMs = 0;        // zeroBody goes one byte per trickleMs instead
};

class HttpTestServer {
public:
    HttpTestServer() {
        listener_ = sockListenLoopback(0, &port_);
        thread_ = std::thread([this] { loop(); });
    }
    ~HttpTestServer() {
        stop_ = true;
        thread_.join();
        for (auto& t : servers_) t.join();
        sockClose(listener_);
    }
    int port() const { return port_; }
    void setReply(HttpReply r) {
        std::lock_guard<std::mutex> l(mu_);
        reply_ = std::move(r);
    }
    // Replies for the next connections, in order of their requests; once
    // used up, the set reply again.
    void queueReply(HttpReply r) {
        std::lock_guard<std::mutex> l(mu_);
        queued_.push_back(std::move(r));
    }
    // Before the first connection: serve each connection on its own thread.
    void setConcurrent(bool on) { concurrent_ = on; }
    std::vector<std::string> requests() const {
        std::lock_guard<std::mutex> l(mu_);
        return requests_;
    }
    // "GET <path>" when a request was read, "end <path>" just before the
    // last byte of its reply is sent (so that nothing the client does once
    // it has the whole reply comes before it in the log), in order.
    std::vector<std::string> log() const {
        std::lock_guard<std::mutex> l(mu_);
        return log_;
    }

private:
    static bool readable(SocketHandle s, int ms) {
        pollfd p{static_cast<int>(s), POLLIN, 0};
        return ::poll(&p, 1, ms) > 0;
    }
    void loop() {
        while (!stop_) {
            if (!readable(listener_, 50)) continue;
            SocketHandle c = sockAccept(listener_);
            if (c == kNoSocket) continue;
            if (concurrent_) {
                servers_.emplace_back([this, c] {
                    serve(c);
                    sockClose(c);
                });
                continue;
            }
            serve(c);
            sockClose(c);
        }
    }
    // The path of a request's first line ("GET <path> HTTP/1.0").
    static std::string pathOf(const std::string& req) {
        size_t a = req.find(' ');
        size_t b = a == std::string::npos ? a : req.find(' ', a + 1);
        return b == std::string::npos ? req.substr(0, 40) : req.substr(a + 1, b - a - 1);
    }
    void serve(SocketHandle c) {
        bool ended = false;
        std::string req = exchange(c, &ended);
        if (!ended) noteEnd(req, &ended);
    }
    void noteEnd(const std::string& req, bool* ended) {
        std::lock_guard<std::mutex> l(mu_);
        log_.push_back("end " + pathOf(req));
        *ended = true;
    }
    // Reads the request and sends the reply; returns the request.
    std::string exchange(SocketHandle c, bool* ended) {
        std::string req;
        char buf[4096];
        while (req.find("\r\n\r\n") == std::string::npos && readable(c, 5000)) {
            long n = sockRecv(c, buf, sizeof buf);
            if (n <= 0) break;
            req.append(buf, static_cast<size_t>(n));
        }
        HttpReply r;
        {
            std::lock_guard<std::mutex> l(mu_);
            requests_.push_back(req);
            log_.push_back("GET " + pathOf(req));
            if (queued_.empty()) {
                r = reply_;
            } else {
                r = std::move(queued_.front());
                queued_.erase(queued_.begin());
            }
        }
        if (r.zeroBody == 0) noteEnd(req, ended);
        if (!send(c, r.bytes.data(), r.bytes.size())) return req;
        std::vector<char> zeros(64 * 1024, 0);
        for (int64_t left = r.trickleMs > 0 ? r.zeroBody : 0; left > 0 && !stop_; --left) {
            if (left == 1) noteEnd(req, ended);
            if (!send(c, zeros.data(), 1)) return req;
            // Until the client gives up (its close reads as the end here).
            if (left > 1 && readable(c, r.trickleMs) && sockRecv(c, buf, sizeof buf) <= 0) return req;
        }
        for (int64_t left = r.trickleMs > 0 ? 0 : r.zeroBody; left > 0;) {
            size_t n = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(zeros.size())));
            if (left == static_cast<int64_t>(n)) noteEnd(req, ended);
            if (!send(c, zeros.data(), n)) return req;
            left -= static_cast<int64_t>(n);
        }
        if (r.reset) {
            // A zero linger time makes the close that follows send RST.
            linger l{1, 0};
            ::setsockopt(static_cast<int>(c), SOL_SOCKET, SO_LINGER, &l, sizeof l);
            return req;
        }
        if (r.stall) {
            // Wait for the client to give up (its read returns 0 here).
            for (int i = 0; i < 200 && !stop_; i++)
                if (readable(c, 50) && sockRecv(c, buf, sizeof buf) <= 0) break;
        }
        return req;
    }
    static bool send(SocketHandle c, const char* p, size_t n) {
        while (n > 0) {
            long k = sockSend(c, p, n);
            if (k <= 0) return false;
            p += k;
            n -= static_cast<size_t>(k);
        }
        return true;
    }

    SocketHandle listener_ = kNoSocket;
    int port_ = 0;
    std::thread thread_;
    std::vector<std::thread> servers_;  // concurrent mode: one per connection
    std::atomic<bool> stop_{false};
    std::atomic<bool> concurrent_{false};
    mutable std::mutex mu_;
    HttpReply reply_;
    std::vector<HttpReply> queued_;
    std::vector<std::string> requests_;
    std::vector<std::string> log_;
};
