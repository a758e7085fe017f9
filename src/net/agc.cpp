#include "net/agc.h"

#include <memory>
#include <vector>

#include "net/line_buffer.h"
#include "net/login.h"
#include "platform/clock.h"
#include "platform/ui.h"
#include "speech/speech.h"

std::atomic<AGCHandle*> gch{nullptr};
std::atomic<int32_t> conTime{0};
std::atomic<int32_t> download{0};
std::atomic<int32_t> upload{0};

namespace {
std::atomic<CommandHandler> handlers[static_cast<int>(ServerCommand::Count)];
std::atomic<bool> batched[static_cast<int>(ServerCommand::Count)];
std::atomic<RunDispatcher> runDispatcher{nullptr};

// Every handle ever created lives here until agc_deinit (see AGCHandle).
std::mutex registryMutex;
std::vector<std::unique_ptr<AGCHandle>> registry;
std::vector<std::thread> reconnectThreads;  // series started off the UI thread
std::atomic<bool> shuttingDown{false};

// Joins receive threads that have ended, to release their stacks early.
void reapFinished() {
    std::vector<std::thread> done;
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        for (auto& h : registry)
            if (h->receiverDone.load() && h->receiver.joinable()) done.push_back(std::move(h->receiver));
    }
    for (auto& t : done) t.join();
}

void endReceive(AGCHandle* h) {
    std::lock_guard<std::mutex> lock(h->mu);
    h->receiveEnded = true;
    h->cv.notify_all();
}

// The close steps, once per handle.
void runCloseSteps(AGCHandle* h, bool wanted) {
    if (h->closeStepsRun.exchange(true)) return;
    if (h->open.exchange(false)) sockShutdown(h->fd);
    sayString("Vous avez \xE9t\xE9 d\xE9" "connect\xE9 du serveur", true);
    conTime = 0;
    download = 0;
    upload = 0;
    int32_t status = h->status.load();
    if (!wanted && status >= 1 && !shuttingDown.load()) {
        if (ui().isUiThread()) {
            // A failed send on the UI thread: reconnecting here would keep the
            // UI thread busy while the new connection's receive thread may
            // need it for its first lines.  Run the series on its own thread.
            std::lock_guard<std::mutex> lock(registryMutex);
            reconnectThreads.emplace_back(doConnect2, nullptr);
        } else {
            doConnect2(nullptr);
        }
    }
    if (status == -7) uiCall([] { ui().requestQuit(0); });
}
}  // namespace

void agc_setHandler(ServerCommand command, CommandHandler handler) {
    int i = static_cast<int>(command);
    if (command == ServerCommand::Status || command == ServerCommand::Challenge) return;
    if (i >= 0 && i < static_cast<int>(ServerCommand::Count)) handlers[i] = handler;
}

void agc_setRunDispatcher(RunDispatcher dispatcher) { runDispatcher = dispatcher; }

void agc_setBatched(ServerCommand command, bool on) {
    int i = static_cast<int>(command);
    if (command == ServerCommand::Status || command == ServerCommand::Challenge ||
        command == ServerCommand::Ping)
        return;
    if (i >= 0 && i < static_cast<int>(ServerCommand::Count)) batched[i] = on;
}

void agc_init() {
    shuttingDown = false;
    loginShutdown(false);
    sockStartup();
}

void agc_deinit() {
    shuttingDown = true;
    loginShutdown(true);
    // Receive threads may start reconnection series and those may create
    // handles: repeat until no thread is left.
    for (;;) {
        std::vector<std::thread> threads;
        {
            std::lock_guard<std::mutex> lock(registryMutex);
            for (auto& h : registry) {
                h->closeWanted = true;
                if (h->open.exchange(false)) sockShutdown(h->fd);
                if (h->receiver.joinable()) threads.push_back(std::move(h->receiver));
            }
            for (auto& t : reconnectThreads) threads.push_back(std::move(t));
            reconnectThreads.clear();
        }
        if (threads.empty()) break;
        for (auto& t : threads) t.join();
    }
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        for (auto& h : registry) sockClose(h->fd);
        gch = nullptr;
        registry.clear();
    }
    sockCleanup();
}

int agc_connect(std::atomic<AGCHandle*>* hh, const std::string& host, int port,
                const std::string& login, const std::string& password) {
    uint32_t addr = 0;
    if (!sockResolveIPv4(host, &addr)) return 0;
    if (shuttingDown.load()) return -1;
    reapFinished();
    SocketHandle fd = sockConnect(addr, port);
    if (fd == kNoSocket) return -1;

    AGCHandle* h;
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        if (shuttingDown.load()) {
            sockClose(fd);
            return -1;
        }
        registry.push_back(std::make_unique<AGCHandle>());
        h = registry.back().get();
        h->fd = fd;
        h->open = true;
        h->receiver = std::thread(recvLoop, h);
    }

    std::string challenge;
    {
        std::unique_lock<std::mutex> lock(h->mu);
        h->cv.wait(lock, [h] { return h->challenge.has_value() || h->receiveEnded; });
        if (!h->challenge) return -1;
        challenge = *h->challenge;
    }
    {
        std::lock_guard<std::mutex> lock(h->mu);
        h->publishTo = hh;
    }
    if (!agc_send(h, loginLine(challenge, login, password))) {
        std::lock_guard<std::mutex> lock(h->mu);
        h->publishTo = nullptr;
        return -1;
    }
    int32_t status;
    {
        std::unique_lock<std::mutex> lock(h->mu);
        h->cv.wait(lock, [h] { return h->status.load() != 0 || h->receiveEnded; });
        h->publishTo = nullptr;
        status = h->status.load();
    }
    if (status == 0) return -1;  // closed before a status arrived
    return status;
}

bool agc_send(AGCHandle* h, std::string_view s) {
    if (!h) return false;
    bool failed = false;
    {
        std::lock_guard<std::mutex> lock(h->sendMutex);
        if (!h->open.load()) return false;
        size_t sent = 0;
        while (sent < s.size() && h->open.load()) {
            long r = sockSend(h->fd, s.data() + sent, s.size() - sent);
            if (r <= 0) {
                failed = true;
                break;
            }
            sent += static_cast<size_t>(r);
        }
        if (!failed && sent < s.size()) return false;  // closed meanwhile
    }
    if (failed) {
        agc_close(h, false);
        return false;
    }
    upload += static_cast<int32_t>(s.size());
    return true;
}

bool agc_sendCurrent(std::string_view s) { return agc_send(gch.load(), s); }

void agc_close(AGCHandle* h, bool wanted) {
    if (!h) return;
    if (wanted) h->closeWanted = true;
    runCloseSteps(h, wanted || h->closeWanted.load());
}

void agc_forceclose(AGCHandle* h) {
    if (h && h->open.load()) sockShutdown(h->fd);
}

void agc_getstats(int32_t* t, int32_t* dl, int32_t* ul) {
    if (t) *t = static_cast<int32_t>(sysClock().now() - conTime.load());
    if (dl) *dl = download.load();
    if (ul) *ul = upload.load();
}

namespace {

void dispatchParsed(AGCHandle* h, const ParsedCommand& c);

// The batched lines waiting for the end of their run; their payloads point
// into the receive buffer (valid until the buffer is reused).
struct PendingRun {
    AGCHandle* h;
    std::vector<ParsedCommand> lines;

    void flush(bool moreFollows = false) {
        if (lines.empty()) return;
        RunDispatcher d = runDispatcher.load();
        auto all = [this] {
            for (const ParsedCommand& c : lines) dispatchParsed(h, c);
        };
        if (d && lines.size() > 1)
            d(all, moreFollows);
        else
            all();
        lines.clear();
    }
    void line(std::string_view text) {
        ParsedCommand c;
        if (!parseCommand(text, &c)) return;
        bool isBatched = batched[static_cast<int>(c.command)].load();
        // A full run goes once the next line is known, which tells whether
        // another run follows at once.
        if (lines.size() >= kMaxRunLines) flush(isBatched);
        if (isBatched) {
            lines.push_back(c);
            return;
        }
        flush();
        dispatchParsed(h, c);
    }
};

}  // namespace

void recvLoop(AGCHandle* h) {
    LineBuffer lb;
    PendingRun run{h, {}};
    run.lines.reserve(kMaxRunLines);
    for (;;) {
        long r = sockRecv(h->fd, lb.writePtr(), lb.writeSpace());
        if (r <= 0) break;
        download += static_cast<int32_t>(r);
        lb.commit(
            static_cast<size_t>(r), [&run](std::string_view line) { run.line(line); },
            [&run] { run.flush(); });
    }
    // Wake agc_connect first: the close steps may reconnect on this thread.
    endReceive(h);
    agc_close(h, false);
    h->receiverDone = true;
}

void agc_recv(AGCHandle* h, std::string_view line) {
    ParsedCommand c;
    if (parseCommand(line, &c)) dispatchParsed(h, c);
}

namespace {

void dispatchParsed(AGCHandle* h, const ParsedCommand& c) {
    switch (c.command) {
        case ServerCommand::Status: {
            std::lock_guard<std::mutex> lock(h->mu);
            int32_t status = parseStatus(c.payload);
            if (h->publishTo && h->status.load() == 0 && status >= 1) {
                conTime = static_cast<int32_t>(sysClock().now());
                *h->publishTo = h;
            }
            h->status = status;
            h->cv.notify_all();
            return;
        }
        case ServerCommand::Challenge: {
            std::lock_guard<std::mutex> lock(h->mu);
            h->challenge = std::string(c.payload);
            h->cv.notify_all();
            return;
        }
        case ServerCommand::Ping:
            ping();
            return;
        default:
            if (CommandHandler fn = handlers[static_cast<int>(c.command)].load())
                fn(c.payload, c.required);
    }
}

}  // namespace
