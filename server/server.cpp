// The network loop, the login exchange and the accounts file.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "internal.h"
#include "net/protocol.h"
#include "platform/atomic_file.h"
#include "platform/radix36.h"

namespace {

// Beyond this much unsent output the reader is too slow: it is dropped
// rather than letting the server's memory grow without bound.
constexpr size_t kMaxPendingOut = 4u << 20;
// A client line longer than this is garbage: the client is dropped.
constexpr size_t kMaxLine = 64u << 10;
// A download request must be complete within this time and size.
constexpr auto kHttpDeadline = std::chrono::seconds(10);
constexpr size_t kMaxHttpRequest = 16u << 10;

void setNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

// A listening socket on 127.0.0.1:port (0 = ephemeral).  -1 with errno set.
int listenLoopback(int port, int* bound) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0 || ::listen(fd, 512) < 0) {
        int e = errno;
        ::close(fd);
        errno = e;
        return -1;
    }
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    *bound = ntohs(a.sin_port);
    setNonBlocking(fd);
    return fd;
}

std::string bindError(const char* what, int port) {
    std::string why = errno == EADDRINUSE ? "port already in use (another kordo-server?)"
                      : errno == EACCES ? "permission denied"
                                        : std::strerror(errno);
    return std::string("cannot listen on 127.0.0.1:") + std::to_string(port) + " for " + what +
           ": " + why;
}

// Splits on every "|" (an empty field stays a field).
std::vector<std::string_view> splitBars(std::string_view s) {
    std::vector<std::string_view> f;
    size_t i = 0;
    for (;;) {
        size_t j = s.find('|', i);
        if (j == std::string_view::npos) {
            f.push_back(s.substr(i));
            return f;
        }
        f.push_back(s.substr(i, j - i));
        i = j + 1;
    }
}

bool validName(std::string_view n) {
    if (n.empty() || n.size() > 32) return false;
    for (unsigned char ch : n)
        if (ch < 0x20 || ch == '|' || ch == 0x7f) return false;
    return true;
}

}  // namespace

std::string passwordDigest(std::string_view salt, std::string_view name, std::string_view password) {
    // Salt and name first, so that equal passwords of two accounts differ.
    std::string key(name);
    key += '\x01';
    key += password;
    return toBase36(doChallenge(salt, key, ""));
}

Server::Server(ServerOptions options) : impl_(std::make_unique<Impl>()) { impl_->opt = std::move(options); }

Server::~Server() {
    Impl& s = *impl_;
    for (auto& c : s.clients) ::close(c->fd);
    for (auto& h : s.https) ::close(h->fd);
    for (int fd : {s.listenFd, s.httpFd, s.wakePipe[0], s.wakePipe[1]})
        if (fd >= 0) ::close(fd);
}

int Server::port() const { return impl_->boundPort; }
int Server::httpPort() const { return impl_->boundHttpPort; }

bool Server::start(std::string* error) {
    Impl& s = *impl_;
    if (!s.loadAccounts(error)) return false;
    s.listenFd = listenLoopback(s.opt.port, &s.boundPort);
    if (s.listenFd < 0) {
        *error = bindError("the game", s.opt.port);
        return false;
    }
    if (s.opt.tryHttp80) s.httpFd = listenLoopback(80, &s.boundHttpPort);
    if (s.httpFd < 0) {
        s.httpFd = listenLoopback(s.opt.httpPort, &s.boundHttpPort);
        if (s.httpFd < 0) {
            *error = bindError("downloads", s.opt.httpPort);
            return false;
        }
        if (s.opt.tryHttp80)
            std::fprintf(stderr,
                         "kordo-server: port 80 is not available (run as root to use it); downloads are "
                         "served on port %d, but the client downloads only from port 80, so "
                         "\"checkfile\" and updates will not reach it.\n",
                         s.boundHttpPort);
    }
    if (::pipe2(s.wakePipe, O_CLOEXEC | O_NONBLOCK) < 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    return true;
}

void Server::stop() {
    impl_->stopping = true;
    if (impl_->wakePipe[1] >= 0) {
        char b = 1;
        [[maybe_unused]] ssize_t r = ::write(impl_->wakePipe[1], &b, 1);
    }
}

void Server::run() {
    Impl& s = *impl_;
    std::vector<pollfd> fds;
    char buf[65536];
    const int tick = std::clamp(std::min(s.opt.pingMs, s.opt.idleTimeoutMs) / 4, 10, 1000);
    while (!s.stopping) {
        fds.clear();
        fds.push_back({s.wakePipe[0], POLLIN, 0});
        fds.push_back({s.listenFd, POLLIN, 0});
        fds.push_back({s.httpFd, POLLIN, 0});
        for (auto& c : s.clients)
            fds.push_back({c->fd, static_cast<short>(POLLIN | (c->out.empty() ? 0 : POLLOUT)), 0});
        for (auto& h : s.https)
            fds.push_back({h->fd, static_cast<short>(h->answered ? POLLOUT : POLLIN), 0});
        // Accepts below append to both lists: only the entries polled are
        // matched with their pollfd.
        const size_t polledClients = s.clients.size();
        const size_t polledHttp = s.https.size();
        if (::poll(fds.data(), fds.size(), tick) < 0 && errno != EINTR) {
            std::perror("kordo-server: poll");
            return;
        }
        const auto now = Clock::now();
        if (fds[1].revents & POLLIN) {
            for (;;) {
                int fd = ::accept4(s.listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0) break;
                int one = 1;
                setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                auto c = std::make_unique<Client>();
                c->fd = fd;
                c->serial = s.nextSerial++;
                c->lastHeard = now;
                c->nextPing = now + std::chrono::milliseconds(s.opt.pingMs);
                c->challenge = s.randomText(16);
                s.send(*c, "challenge " + c->challenge);
                s.clients.push_back(std::move(c));
            }
        }
        if (fds[2].revents & POLLIN) {
            for (;;) {
                int fd = ::accept4(s.httpFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0) break;
                auto h = std::make_unique<HttpConn>();
                h->fd = fd;
                h->started = now;
                s.https.push_back(std::move(h));
            }
        }
        size_t k = 3;
        for (size_t i = 0; i < polledClients; ++i, ++k) {
            Client& c = *s.clients[i];
            if (c.dead) continue;
            const short ev = fds[k].revents;
            if (ev & (POLLIN | POLLHUP | POLLERR)) {
                ssize_t r = ::recv(c.fd, buf, sizeof buf, 0);
                if (r == 0 || (r < 0 && errno != EAGAIN && errno != EINTR)) {
                    s.log(c, "disconnected");
                    c.dead = true;
                    continue;
                }
                if (r > 0) {
                    c.lastHeard = now;
                    c.in.append(buf, static_cast<size_t>(r));
                    size_t start = 0, nl;
                    while (!c.dead && (nl = c.in.find('\n', start)) != std::string::npos) {
                        std::string line = c.in.substr(start, nl - start);
                        start = nl + 1;
                        if (!c.closeAfterFlush) s.handleLine(c, line);
                    }
                    c.in.erase(0, start);
                    if (c.in.size() > kMaxLine) {
                        s.log(c, "line too long: dropped");
                        c.dead = true;
                    }
                }
            }
        }
        for (size_t i = 0; i < polledHttp; ++i) {
            HttpConn* h = s.https[i].get();
            if (h->dead || !(fds[k++].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            if (h->answered) continue;
            ssize_t r = ::recv(h->fd, buf, sizeof buf, 0);
            if (r <= 0) {
                if (r == 0 || (errno != EAGAIN && errno != EINTR)) h->dead = true;
                continue;
            }
            h->in.append(buf, static_cast<size_t>(r));
            if (h->in.find("\r\n\r\n") != std::string::npos || h->in.find("\n\n") != std::string::npos) {
                h->out = s.httpAnswer(h->in);
                h->answered = true;
            } else if (h->in.size() > kMaxHttpRequest) {
                h->dead = true;
            }
        }
        // Output, keep-alive and idle drop.
        for (auto& cp : s.clients) {
            Client& c = *cp;
            if (c.dead) continue;
            if (c.loggedIn && now >= c.nextPing) {
                s.send(c, "ping");
                c.nextPing = now + std::chrono::milliseconds(s.opt.pingMs);
            }
            if (now - c.lastHeard > std::chrono::milliseconds(s.opt.idleTimeoutMs)) {
                s.log(c, "silent for too long: dropped");
                c.dead = true;
                continue;
            }
            while (!c.out.empty()) {
                ssize_t w = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
                if (w <= 0) {
                    if (w < 0 && errno != EAGAIN && errno != EINTR) c.dead = true;
                    break;
                }
                c.out.erase(0, static_cast<size_t>(w));
            }
            if (c.out.size() > kMaxPendingOut) {
                s.log(c, "not reading its lines: dropped");
                c.dead = true;
            }
            if (c.out.empty() && c.closeAfterFlush) c.dead = true;
        }
        for (auto& h : s.https) {
            if (h->dead) continue;
            if (h->answered) {
                while (h->sent < h->out.size()) {
                    ssize_t w = ::send(h->fd, h->out.data() + h->sent, h->out.size() - h->sent, MSG_NOSIGNAL);
                    if (w <= 0) {
                        if (w < 0 && errno != EAGAIN && errno != EINTR) h->dead = true;
                        break;
                    }
                    h->sent += static_cast<size_t>(w);
                }
                if (h->sent == h->out.size()) h->dead = true;
            } else if (now - h->started > kHttpDeadline) {
                h->dead = true;
            }
        }
        // Removal: a leaving player is announced to the others first.
        for (auto& cp : s.clients)
            if (cp->dead && cp->fd >= 0) {
                if (cp->loggedIn) s.onLeave(*cp);
                ::close(cp->fd);
                cp->fd = -1;
            }
        std::erase_if(s.clients, [](const auto& c) { return c->fd < 0; });
        for (auto& h : s.https)
            if (h->dead) ::close(h->fd);
        std::erase_if(s.https, [](const auto& h) { return h->dead; });
        char drain[64];
        if (fds[0].revents & POLLIN)
            while (::read(s.wakePipe[0], drain, sizeof drain) > 0) {
            }
    }
}

void Server::Impl::send(Client& c, std::string_view line) {
    if (c.dead) return;
    c.out.append(line);
    c.out.push_back('\n');
}

void Server::Impl::log(const Client& c, std::string_view what) {
    std::fprintf(stderr, "kordo-server: client %llu%s%s: %.*s\n",
                 static_cast<unsigned long long>(c.serial), c.name.empty() ? "" : " ",
                 c.name.c_str(), static_cast<int>(what.size()), what.data());
}

std::string Server::Impl::randomText(size_t n) {
    static constexpr char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string t(n, '0');
    for (char& ch : t) ch = digits[rng() % 36];
    return t;
}

bool Server::Impl::loadAccounts(std::string* error) {
    if (opt.accountsFile.empty()) return true;
    struct stat st {};
    if (::stat(opt.accountsFile.c_str(), &st) != 0) {
        if (errno == ENOENT) return true;  // created at the first new account
        *error = "cannot read the accounts file " + opt.accountsFile + ": " + std::strerror(errno);
        return false;
    }
    std::string bytes;
    if (S_ISDIR(st.st_mode) || !readWholeFile(opt.accountsFile, &bytes)) {
        *error = "cannot read the accounts file " + opt.accountsFile +
                 (S_ISDIR(st.st_mode) ? ": it is a folder" : ": " + std::string(std::strerror(errno)));
        return false;
    }
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t nl = bytes.find('\n', pos);
        if (nl == std::string::npos) nl = bytes.size();
        std::string_view line(bytes.data() + pos, nl - pos);
        pos = nl + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line[0] == '#') continue;
        auto f = splitBars(line);
        if (f.size() == 3 && validName(f[0]))
            accounts[std::string(f[0])] = Account{std::string(f[1]), std::string(f[2])};
        else
            std::fprintf(stderr, "kordo-server: accounts file: line skipped: %.*s\n",
                         static_cast<int>(line.size()), line.data());
    }
    return true;
}

void Server::Impl::saveAccounts() {
    if (opt.accountsFile.empty()) return;
    std::string bytes = "# kordo-server accounts: name|salt|digest (written by the server)\n";
    for (const auto& [name, a] : accounts) bytes += name + "|" + a.salt + "|" + a.digest + "\n";
    if (!writeFileAtomic(opt.accountsFile, bytes))
        std::fprintf(stderr, "kordo-server: cannot write the accounts file %s: %s\n",
                     opt.accountsFile.c_str(), std::strerror(errno));
}

void Server::Impl::handleLine(Client& c, std::string_view line) {
    if (opt.verbose) log(c, std::string("<- ") + std::string(line));
    if (!c.loggedIn) {
        if (line.starts_with("login ")) {
            handleLogin(c, line.substr(6));
        } else {
            log(c, "line before login ignored: " + std::string(line.substr(0, 80)));
        }
        return;
    }
    if (line == "pong") return;
    if (line == "quit") {
        log(c, "quit");
        c.closeAfterFlush = true;
        return;
    }
    onGameLine(c, line);
}

void Server::Impl::handleLogin(Client& c, std::string_view payload) {
    // login|password|protocol|language|client id|response.  The password is
    // not escaped by the client, so a "|" inside it makes more fields: the
    // first field is the login, the last four are fixed, the rest is the
    // password.
    auto f = splitBars(payload);
    auto refuse = [&](int code, const std::string& why) {
        log(c, "login refused (" + std::to_string(code) + "): " + why);
        send(c, "status " + std::to_string(code));
        c.closeAfterFlush = true;
    };
    if (f.size() < 6) return refuse(-8, "malformed login line");
    const std::string name(f[0]);
    std::string password;
    for (size_t i = 1; i + 4 < f.size(); ++i) {
        if (i > 1) password += '|';
        password += f[i];
    }
    const size_t n = f.size();
    if (f[n - 4] != std::to_string(kProtocolNumber))
        return refuse(-8, "protocol " + std::string(f[n - 4]) + " instead of " + std::to_string(kProtocolNumber));
    if (f[n - 3].empty()) return refuse(-8, "no language");
    if (f[n - 2].empty()) return refuse(-8, "no client id");
    if (f[n - 1] != toBase36(doChallenge(c.challenge, name, password)))
        return refuse(-3, "wrong challenge response");
    if (!validName(name)) return refuse(-3, "invalid account name");
    if (std::find(opt.bans.begin(), opt.bans.end(), name) != opt.bans.end())
        return refuse(-4, "banned account " + name);
    auto it = accounts.find(name);
    if (it == accounts.end()) {
        if (name.size() < 4) return refuse(-3, "unknown account " + name + " (too short to create)");
        Account a{randomText(12), {}};
        a.digest = passwordDigest(a.salt, name, password);
        accounts[name] = a;
        saveAccounts();
        c.name = name;
        log(c, "account created");
    } else if (it->second.digest != passwordDigest(it->second.salt, name, password)) {
        return refuse(-3, "wrong password for " + name);
    }
    c.name = name;
    c.displayName = name;
    c.loggedIn = true;
    send(c, "status 1");
    log(c, "logged in");
    onLoggedIn(c);
}
