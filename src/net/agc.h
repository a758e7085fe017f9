// The server connection: opening it, the receive thread that cuts the byte
// stream into lines and dispatches them, sending whole lines, closing, and
// the traffic counters.
//
// Threads: agc_connect runs on the connecting thread; each handle has one
// receive thread running recvLoop, which reads the socket, cuts lines,
// takes "challenge" and "status " at once, and hands every other line, in
// order, to the handle's dispatch thread, on which every command handler
// runs.  "ping" is answered in its turn there, so its "pong" follows what
// the lines before it caused; but while a handler waits on something
// outside the connection (a download, marked with AgcOutsideWait), the
// receive thread answers a ping that has waited kPingAnswerMs itself.
// agc_send may be
// called from any thread (one lock per handle keeps lines whole) and waits
// a bounded time; agc_close runs on whichever thread detects the loss.
//
// Time limits: a connect that has not completed in kConnectTimeoutMs fails
// (a failed attempt of the series); a line that cannot be handed to the
// socket within kSendWaitMs (kUiSendWaitMs on the UI thread, which must
// stay responsive and must let the window close within 2 s) closes the
// connection as lost.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "net/protocol.h"
#include "platform/sockets.h"

constexpr int kConnectTimeoutMs = 10000;
constexpr int kPingAnswerMs = 750;
constexpr int kSendWaitMs = 5000;
constexpr int kUiSendWaitMs = 1000;
// Bytes of received lines waiting for the dispatch thread; past it the
// receive thread stops reading until the handlers catch up.
constexpr size_t kMaxQueuedBytes = size_t(8) << 20;

// Received lines of one receive, copied for the dispatch thread: each line
// is followed by a zero byte in `bytes`, as in the receive buffer.
struct ReceivedChunk {
    std::string bytes;
    std::vector<std::pair<uint32_t, uint32_t>> lines;  // offset, length
};

// One connection attempt; never reused for another connection.  Handles are
// kept until agc_deinit, so a pointer read from gch stays valid even after a
// reconnection has replaced it.
struct AGCHandle {
    // The descriptor, owned: closed (and set to kNoSocket) by the receive
    // thread once it has stopped reading, holding both the send turn and
    // fdMutex, so no other thread can ever use it after its number is
    // reused.  Senders read it holding the send turn, shutdowns under fdMutex.
    SocketHandle fd = kNoSocket;
    std::mutex fdMutex;
    // False once the connection is closed: lines sent then are dropped.
    std::atomic<bool> open{false};
    // 0 until the first "status " line, then the latest value.
    std::atomic<int32_t> status{0};

    // Guarded by mu; waiters in agc_connect are woken through cv.
    std::mutex mu;
    std::condition_variable cv;
    std::optional<std::string> challenge;
    bool receiveEnded = false;
    // While agc_connect waits for the status: where a positive status
    // publishes this handle.  Publishing from the receive thread, before the
    // next line is dispatched, lets a line that follows "status " at once
    // (a "ping", a menu) be answered on this connection.
    std::atomic<AGCHandle*>* publishTo = nullptr;

    // One whole line at a time: `sending` is the send turn, taken with a
    // deadline (a flag under a mutex rather than a timed mutex, whose timed
    // lock the thread sanitizer cannot follow).
    std::mutex sendMutex;
    std::condition_variable sendCv;
    bool sending = false;
    // Lines between the receive thread and the dispatch thread.
    std::mutex queueMu;
    std::condition_variable queueCv;
    std::deque<ReceivedChunk> queue;
    size_t queuedBytes = 0;
    bool queueEnded = false;  // the receive thread has stopped reading
    // Pings are numbered in stream order; each is answered once, by the
    // dispatch thread in its turn or by the receive thread when late.
    std::mutex pingMu;
    uint64_t pingsAnswered = 0;    // guarded by pingMu
    uint64_t pingsDispatched = 0;  // dispatch thread (or agc_recv) only
    // AgcOutsideWait guards held on this handle's dispatch thread.
    std::atomic<int> outsideWaits{0};
    std::atomic<bool> closeStepsRun{false};
    std::atomic<bool> closeWanted{false};
    std::thread receiver;
    std::atomic<bool> receiverDone{false};
};

// Held by a handler, on a dispatch thread, around a wait on something
// outside the game connection (an HTTP download may take minutes).  While
// one is held, the receive thread answers a ping that has waited
// kPingAnswerMs; any other handler, however slow, keeps "pong" in its turn,
// so a pong still tells the server that every line before its ping has been
// handled.  Does nothing off a dispatch thread.
class AgcOutsideWait {
public:
    AgcOutsideWait();
    ~AgcOutsideWait();
    AgcOutsideWait(const AgcOutsideWait&) = delete;
    AgcOutsideWait& operator=(const AgcOutsideWait&) = delete;

private:
    AGCHandle* h_;
};

// The current connection; null until the first successful login.
extern std::atomic<AGCHandle*> gch;
// Seconds since 1970 of the last login (0 after a close); bytes received and
// sent since the last close.  Statistics only.
extern std::atomic<int32_t> conTime;
extern std::atomic<int32_t> download;
extern std::atomic<int32_t> upload;

// Tests: the connect time-out of later agc_connect calls (default
// kConnectTimeoutMs).
void agc_setConnectTimeoutMs(int ms);

void agc_init();
// Stops every receive thread (their sockets are shut down; no reconnection
// starts any more) and releases every handle.  UI thread, once, at exit,
// after the front-end stopped accepting UI-thread calls.
void agc_deinit();

// 0: host not resolved; -1: no TCP connection, login not sent, or the
// connection closed before "challenge" or "status " arrived; otherwise the
// server's status (published in *hh when positive).
int agc_connect(std::atomic<AGCHandle*>* hh, const std::string& host, int port,
                const std::string& login, const std::string& password);

// Sends a whole line (with its "\n").  False when h is null or closed, or the
// send failed (then the close steps have run on this thread).
bool agc_send(AGCHandle* h, std::string_view s);
// Convenience: agc_send on the current handle.
bool agc_sendCurrent(std::string_view s);

void agc_close(AGCHandle* h, bool wanted);
void agc_forceclose(AGCHandle* h);
void agc_getstats(int32_t* t, int32_t* dl, int32_t* ul);

void recvLoop(AGCHandle* h);
void agc_recv(AGCHandle* h, std::string_view line);

// Handler of one server command: the payload lives in the receive buffer and
// is valid until the handler returns; `flag` is "required" for "newVersion".
using CommandHandler = void (*)(std::string_view payload, bool flag);
// Installs the handler of a row (nullptr: the line is ignored).  "status "
// and "challenge" are handled here and cannot be replaced.  Set at start-up
// before any connection exists.
void agc_setHandler(ServerCommand command, CommandHandler handler);

// Runs of lines.  Consecutive lines of commands marked with agc_setBatched
// that one receive brought in are dispatched together: the run dispatcher
// gets one function that runs their handlers in order, and must call it
// exactly once before it returns (the client calls it on the UI thread
// through one synchronous UI-thread call, where each line would otherwise
// cost a hand-over of its own).  Order is kept: a line of another command
// ends the run before it is dispatched, and the receive thread waits until
// the run has been handled, as for a single line.  A run holds at most
// kMaxRunLines lines, so the UI thread is never held for long; `moreFollows`
// tells the dispatcher that the run was cut there and the next line, already
// received, starts another run at once (a flood), so work common to the
// runs may wait for the last of them.  A run of one line, or any run while
// no run dispatcher is set, is dispatched line by line on the receive
// thread.  Set at start-up before any connection exists.
constexpr size_t kMaxRunLines = 256;
using RunDispatcher = void (*)(const std::function<void()>& dispatchRun, bool moreFollows);
void agc_setRunDispatcher(RunDispatcher dispatcher);
void agc_setBatched(ServerCommand command, bool batched);
