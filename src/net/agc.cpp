#include "net/agc.h"

#include <chrono>
#include <memory>
#include <vector>

#include "net/line_buffer.h"
#include "net/replies.h"
#include "platform/clock.h"
#include "platform/fields.h"
#include "platform/thread_name.h"
#include "platform/ui.h"

namespace {

// The unit's process-wide state, one record; agcReset() restores it.
struct AgcState {
    // The current connection; null until the first successful login.
    // Published by the receive thread that reads its positive status (or by
    // agc_setCurrent), cleared by agc_deinit; read anywhere.
    std::atomic<AGCHandle*> gch{nullptr};
    // Seconds since 1970 of the last login (0 after a close); bytes received
    // and sent since the last close.  Statistics only; any thread.
    std::atomic<int32_t> conTime{0};
    std::atomic<int32_t> download{0};
    std::atomic<int32_t> upload{0};

    // Written at start-up on the UI thread before any connection exists,
    // read by the receive and dispatch threads (atomics, so a test may
    // change them between connections).
    std::atomic<CommandHandler> handlers[static_cast<int>(ServerCommand::Count)]{};
    std::atomic<bool> batched[static_cast<int>(ServerCommand::Count)]{};
    std::atomic<RunDispatcher> runDispatcher{nullptr};
    std::atomic<ConnectionLostHandler> connectionLost{nullptr};
    std::atomic<int> connectTimeoutMs{kConnectTimeoutMs};

    // Every handle ever created lives in `registry` until agc_deinit (see
    // AGCHandle).  Guarded by registryMutex, as is connectsInProgress: the
    // agc_connect calls that hold a registered handle, which agc_deinit
    // waits for (connectsDone) before releasing the handles.
    std::mutex registryMutex;
    std::condition_variable connectsDone;
    std::vector<std::unique_ptr<AGCHandle>> registry;
    int connectsInProgress = 0;
    // Set by agc_deinit, cleared by agc_init; read by every thread.
    std::atomic<bool> shuttingDown{false};
};
AgcState st;

void dispatchLoop(AGCHandle* h);
void dispatchParsed(AGCHandle* h, const ParsedCommand& c);

// Joins receive threads that have ended, to release their stacks early.
void reapFinished() {
    std::vector<std::thread> done;
    {
        std::lock_guard<std::mutex> lock(st.registryMutex);
        for (auto& h : st.registry)
            if (h->receiverDone.load() && h->receiver.joinable()) done.push_back(std::move(h->receiver));
    }
    for (auto& t : done) t.join();
}

// Shuts the socket down (waking a blocked receive or send) while it is
// still open; the descriptor stays valid.  The handlers' waits outside the
// connection end with it.
void shutdownSocket(AGCHandle* h) {
    {
        std::lock_guard<std::mutex> lock(h->fdMutex);
        if (h->open.exchange(false) && h->fd != kNoSocket) sockShutdown(h->fd);
    }
    h->cancel.cancel();
    // A receive thread waiting for room in the queue looks at `open`.
    { std::lock_guard<std::mutex> lock(h->queueMu); }
    h->queueCv.notify_all();
}

// The send turn of a handle, held for one whole line.  Taken with a
// deadline: a sender holding it is itself bounded, so a waiter past the
// deadline gives up as if its own send had.
class SendTurn {
public:
    SendTurn(AGCHandle* h, std::chrono::steady_clock::time_point deadline) : h_(h) {
        std::unique_lock<std::mutex> lock(h->sendMutex);
        held_ = h->sendCv.wait_until(lock, deadline, [h] { return !h->sending; });
        if (held_) h->sending = true;
    }
    explicit SendTurn(AGCHandle* h) : h_(h), held_(true) {
        std::unique_lock<std::mutex> lock(h->sendMutex);
        h->sendCv.wait(lock, [h] { return !h->sending; });
        h->sending = true;
    }
    ~SendTurn() {
        if (!held_) return;
        {
            std::lock_guard<std::mutex> lock(h_->sendMutex);
            h_->sending = false;
        }
        h_->sendCv.notify_one();
    }
    SendTurn(const SendTurn&) = delete;
    SendTurn& operator=(const SendTurn&) = delete;
    bool held() const { return held_; }

private:
    AGCHandle* h_;
    bool held_ = false;
};

// Closes the descriptor once no thread reads it any more (the receive
// thread has stopped); a send in progress finishes first (bounded).
void releaseSocket(AGCHandle* h) {
    SendTurn turn(h);
    std::lock_guard<std::mutex> lock(h->fdMutex);
    h->open = false;
    sockClose(h->fd);
    h->fd = kNoSocket;
}

void endReceive(AGCHandle* h) {
    std::lock_guard<std::mutex> lock(h->mu);
    h->receiveEnded = true;
    h->cv.notify_all();
}

// The close steps, once per handle.  The counters are zeroed before the
// loss is reported: a reconnection made by the handler starts them afresh.
void runCloseSteps(AGCHandle* h, bool wanted) {
    if (h->closeStepsRun.exchange(true)) return;
    shutdownSocket(h);
    st.conTime = 0;
    st.download = 0;
    st.upload = 0;
    if (ConnectionLostHandler lost = st.connectionLost.load()) lost(h->status.load(), wanted);
}

// Counts an agc_connect call that holds a registered handle, so that
// agc_deinit does not release the handle under it.
class ConnectInProgress {
public:
    ConnectInProgress() = default;  // registryMutex held by the caller
    ~ConnectInProgress() {
        {
            std::lock_guard<std::mutex> lock(st.registryMutex);
            --st.connectsInProgress;
        }
        st.connectsDone.notify_all();
    }
    ConnectInProgress(const ConnectInProgress&) = delete;
    ConnectInProgress& operator=(const ConnectInProgress&) = delete;
};
}  // namespace

void agc_setHandler(ServerCommand command, CommandHandler handler) {
    int i = static_cast<int>(command);
    if (command == ServerCommand::Status || command == ServerCommand::Challenge) return;
    if (i >= 0 && i < static_cast<int>(ServerCommand::Count)) st.handlers[i] = handler;
}

void agc_setRunDispatcher(RunDispatcher dispatcher) { st.runDispatcher = dispatcher; }

void agc_setBatched(ServerCommand command, bool on) {
    int i = static_cast<int>(command);
    if (command == ServerCommand::Status || command == ServerCommand::Challenge ||
        command == ServerCommand::Ping)
        return;
    if (i >= 0 && i < static_cast<int>(ServerCommand::Count)) st.batched[i] = on;
}

void agc_setConnectTimeoutMs(int ms) { st.connectTimeoutMs = ms; }
int agc_connectTimeoutMs() { return st.connectTimeoutMs.load(); }

AGCHandle* agc_current() { return st.gch.load(); }
void agc_setCurrent(AGCHandle* h) { st.gch = h; }

void agc_setConnectionLost(ConnectionLostHandler handler) { st.connectionLost = handler; }

void agcReset() {
    {
        std::lock_guard<std::mutex> lock(st.registryMutex);
        st.registry.clear();
        st.connectsInProgress = 0;
    }
    st.gch = nullptr;
    st.conTime = 0;
    st.download = 0;
    st.upload = 0;
    for (auto& h : st.handlers) h = nullptr;
    for (auto& b : st.batched) b = false;
    st.runDispatcher = nullptr;
    st.connectionLost = nullptr;
    st.connectTimeoutMs = kConnectTimeoutMs;
    st.shuttingDown = false;
}

void agc_init() {
    st.shuttingDown = false;
    sockStartup();
}

bool agc_shuttingDown() { return st.shuttingDown.load(); }

void agc_deinit() {
    st.shuttingDown = true;
    // A receive thread's close steps may start a reconnection series, which
    // may have registered a handle before the flag was set: repeat until no
    // receive thread is left.
    for (;;) {
        std::vector<std::thread> threads;
        {
            std::lock_guard<std::mutex> lock(st.registryMutex);
            for (auto& h : st.registry) {
                h->closeWanted = true;
                shutdownSocket(h.get());
                if (h->receiver.joinable()) threads.push_back(std::move(h->receiver));
            }
        }
        if (threads.empty()) break;
        for (auto& t : threads) t.join();
    }
    {
        // A series on another thread (the connecting thread, a reconnection)
        // may still be inside agc_connect with a handle whose receive thread
        // has just ended; it returns at once, and only then do handles go.
        std::unique_lock<std::mutex> lock(st.registryMutex);
        st.connectsDone.wait(lock, [] { return st.connectsInProgress == 0; });
        for (auto& h : st.registry) sockClose(h->fd);
        st.gch = nullptr;
        st.registry.clear();
    }
    sockCleanup();
}

int agc_connect(const std::string& host, int port, const LoginAnswer& answer) {
    uint32_t addr = 0;
    if (!sockResolveIPv4(host, &addr)) return 0;
    if (st.shuttingDown.load()) return -1;
    reapFinished();
    SocketHandle fd = sockConnect(addr, port, st.connectTimeoutMs.load(), &st.shuttingDown);
    if (fd == kNoSocket) return -1;

    AGCHandle* h;
    std::optional<ConnectInProgress> inProgress;
    {
        std::lock_guard<std::mutex> lock(st.registryMutex);
        if (st.shuttingDown.load()) {
            sockClose(fd);
            return -1;
        }
        st.registry.push_back(std::make_unique<AGCHandle>());
        h = st.registry.back().get();
        h->fd = fd;
        h->open = true;
        h->dispatcher = std::thread(dispatchLoop, h);
        h->receiver = std::thread(recvLoop, h);
        ++st.connectsInProgress;
        inProgress.emplace();
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
        h->publish = true;
    }
    if (!agc_send(h, answer(challenge))) {
        std::lock_guard<std::mutex> lock(h->mu);
        h->publish = false;
        return -1;
    }
    int32_t status;
    {
        std::unique_lock<std::mutex> lock(h->mu);
        h->cv.wait(lock, [h] { return h->status.load() != 0 || h->receiveEnded; });
        h->publish = false;
        status = h->status.load();
    }
    if (status == 0) return -1;  // closed before a status arrived
    return status;
}

bool agc_send(AGCHandle* h, std::string_view s) {
    if (!h) return false;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(uiThread().isUiThread() ? kUiSendWaitMs : kSendWaitMs);
    bool failed = false;
    {
        SendTurn turn(h, deadline);
        if (!turn.held()) {
            failed = true;
        } else {
            if (!h->open.load()) return false;
            size_t sent = 0;
            while (sent < s.size() && h->open.load()) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
                if (left < 0) left = 0;
                long r = sockSendWithin(h->fd, s.data() + sent, s.size() - sent, static_cast<int>(left));
                // 0: no room before the deadline; the peer has stopped reading.
                if (r < 0 || (r == 0 && left == 0)) {
                    failed = true;
                    break;
                }
                sent += static_cast<size_t>(r);
            }
            if (!failed && sent < s.size()) return false;  // closed meanwhile
        }
    }
    if (failed) {
        agc_close(h, false);
        return false;
    }
    st.upload += static_cast<int32_t>(s.size());
    return true;
}

bool agc_sendCurrent(std::string_view s) { return agc_send(st.gch.load(), s); }

void ping() {
    agc_sendCurrent(pongReply());
}

void agc_close(AGCHandle* h, bool wanted) {
    if (!h) return;
    if (wanted) h->closeWanted = true;
    runCloseSteps(h, wanted || h->closeWanted.load());
}

void agc_forceclose(AGCHandle* h) {
    if (h) shutdownSocket(h);
}

void agc_getstats(int32_t* t, int32_t* dl, int32_t* ul) {
    if (t) *t = static_cast<int32_t>(sysClock().now() - st.conTime.load());
    if (dl) *dl = st.download.load();
    if (ul) *ul = st.upload.load();
}

void agc_setstats(int32_t loginTime, int32_t dl, int32_t ul) {
    st.conTime = loginTime;
    st.download = dl;
    st.upload = ul;
}

namespace {

// The batched lines waiting for the end of their run; their payloads point
// into the chunk being handled (the run is flushed before it goes).
struct PendingRun {
    AGCHandle* h;
    std::vector<RunLine> lines;
    // The last run handed to the run dispatcher said another follows at
    // once: the next one goes to it too, however short, so that what the
    // dispatcher left for the last run of a flood is done.
    bool promised = false;

    void flush(bool moreFollows = false) {
        if (lines.empty()) return;
        RunDispatcher d = st.runDispatcher.load();
        if (d && (lines.size() > 1 || promised)) {
            d(lines, moreFollows);
            promised = moreFollows;
        } else {
            for (const RunLine& l : lines) l.handler(l.command);
            promised = false;
        }
        lines.clear();
    }
    void line(const ParsedCommand& c) {
        const int i = static_cast<int>(c.command);
        const bool isBatched = st.batched[i].load();
        // A full run goes once the next line is known, which tells whether
        // another run follows at once.
        if (lines.size() >= kMaxRunLines) flush(isBatched);
        if (isBatched) {
            if (CommandHandler fn = st.handlers[i].load()) lines.push_back({fn, c});
            return;
        }
        flush();
        dispatchParsed(h, c);
    }
};

// The handle whose dispatch thread this thread is, set once as the thread
// starts and never changed; null on every other thread (receive,
// connecting, UI, ...).  Per thread because each connection has its own
// dispatch thread, and a handler must find the connection it runs for
// without being told: agc_dispatchCancel() gives its cancel switch to the
// waits that handlers make outside the connection (downloads).
thread_local AGCHandle* dispatching = nullptr;

// The dispatch thread of h: the handlers of every queued line, in order, a
// run per receive as the receive thread cut them.  Ends once the receive
// thread has ended the queue and the queue is empty.
void dispatchLoop(AGCHandle* h) {
    setThreadName("kordo-dispatch");
    dispatching = h;
    PendingRun run{h, {}};
    run.lines.reserve(kMaxRunLines);
    for (;;) {
        ReceivedChunk chunk;
        {
            std::unique_lock<std::mutex> lock(h->queueMu);
            h->queueCv.wait(lock, [h] { return !h->queue.empty() || h->queueEnded; });
            if (h->queue.empty()) return;
            chunk = std::move(h->queue.front());
            h->queue.pop_front();
        }
        // Once the connection is closed (lost, or the client closing), what
        // is still queued is dropped: the exit must not wait for it.  A
        // server's own close leaves it open until the close steps, so its
        // last lines are handled.
        if (h->open.load()) {
            for (const QueuedLine& l : chunk.lines) run.line(queuedCommand(chunk, l));
            run.flush();
        }
        {
            std::lock_guard<std::mutex> lock(h->queueMu);
            h->queuedBytes -= receivedChunkFootprint(chunk);
        }
        h->queueCv.notify_all();
    }
}

}  // namespace

CancelSwitch* agc_dispatchCancel() { return dispatching ? &dispatching->cancel : nullptr; }

ParsedCommand queuedCommand(const ReceivedChunk& chunk, const QueuedLine& line) {
    ParsedCommand c;
    c.command = static_cast<ServerCommand>(line.command);
    c.required = line.required;
    if (line.payloadAt != kNoQueuedPayload)
        c.payload = std::string_view(chunk.bytes.data() + line.at + line.payloadAt,
                                     line.length - line.payloadAt);
    return c;
}

size_t receivedChunkFootprint(const ReceivedChunk& chunk) {
    // Two blocks from the heap, each with the allocator's header and
    // rounding (16 bytes on the usual 64-bit allocators; counted generously).
    constexpr size_t kAllocOverhead = 32;
    return sizeof(ReceivedChunk) + 2 * kAllocOverhead + chunk.bytes.capacity() +
           chunk.lines.capacity() * sizeof(chunk.lines[0]);
}

void agc_receiveLine(AGCHandle* h, ReceivedChunk* chunk, std::string_view line) {
    ParsedCommand c;
    // Nothing would handle it: dropped here, so that no flood of such lines
    // waits in the queue.
    if (!parseCommand(line, &c)) return;
    if (c.command == ServerCommand::Status || c.command == ServerCommand::Challenge) {
        dispatchParsed(h, c);
        return;
    }
    QueuedLine q;
    q.at = static_cast<uint32_t>(chunk->bytes.size());
    q.length = static_cast<uint32_t>(line.size());
    q.command = static_cast<uint8_t>(c.command);
    // A payload is the line's tail from its row's offset (at most 15).
    q.payloadAt =
        c.payload.empty() ? kNoQueuedPayload : static_cast<uint8_t>(c.payload.data() - line.data());
    q.required = c.required;
    chunk->lines.push_back(q);
    chunk->bytes.append(line);
    chunk->bytes.push_back('\0');
}

void recvLoop(AGCHandle* h) {
    setThreadName("kordo-receive");
    LineBuffer lb;
    ReceivedChunk chunk;
    for (;;) {
        long r = sockRecv(h->fd, lb.writePtr(), lb.writeSpace());
        if (r <= 0) break;
        st.download += static_cast<int32_t>(r);
        // The lines this receive completes take at most the bytes held and
        // received (each "\n" becomes the zero byte): one allocation.
        chunk.bytes.reserve(chunk.bytes.size() + lb.held() + static_cast<size_t>(r));
        lb.commit(static_cast<size_t>(r), [&](std::string_view line) { agc_receiveLine(h, &chunk, line); });
        if (chunk.lines.empty()) continue;
        // Lines dropped here leave room the queue would count: give it back.
        if (chunk.bytes.capacity() > 2 * chunk.bytes.size() + 256) chunk.bytes.shrink_to_fit();
        const size_t footprint = receivedChunkFootprint(chunk);
        // Waits while the handlers are far behind, so a flood cannot grow
        // the queue past its cap; the dispatch thread's progress or a
        // shutdown ends the wait.
        std::unique_lock<std::mutex> lock(h->queueMu);
        h->queueCv.wait(lock, [h] { return h->queuedBytes < kMaxQueuedBytes || !h->open.load(); });
        if (!h->open.load()) break;
        h->queuedBytes += footprint;
        h->queue.push_back(std::move(chunk));
        chunk = ReceivedChunk{};
        lock.unlock();
        h->queueCv.notify_all();
    }
    // Whatever a handler waits on outside the connection ends now; the lines
    // received before the end are still handled before the close steps.
    h->cancel.cancel();
    {
        std::lock_guard<std::mutex> lock(h->queueMu);
        h->queueEnded = true;
    }
    h->queueCv.notify_all();
    // The lines queued before the end are handled before the close steps.
    if (h->dispatcher.joinable()) h->dispatcher.join();
    releaseSocket(h);
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
            int32_t status = readInt32(c.payload);
            if (h->publish && h->status.load() == 0 && status >= 1) {
                st.conTime = static_cast<int32_t>(sysClock().now());
                st.gch = h;
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
            // In its turn: every line before it has been handled.
            ping();
            return;
        default:
            if (CommandHandler fn = st.handlers[static_cast<int>(c.command)].load()) fn(c);
    }
}

}  // namespace
