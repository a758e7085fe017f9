// The server connection: opening it, the receive thread that cuts the byte
// stream into lines, the dispatch thread that hands them to their handlers,
// sending whole lines, closing, and the traffic counters.  It holds no
// policy: what the client does once a connection is lost belongs to the
// handler set with agc_setConnectionLost.  Its state is one record in
// agc.cpp (see agcReset, at the end of this header).
//
// Threads: agc_connect runs on the connecting thread (or a reconnection
// series' thread) and starts the handle's two threads, which the handle
// owns (AGCHandle::receiver, AGCHandle::dispatcher).  The receive thread
// runs recvLoop: it reads the socket, cuts lines, parses each line once,
// takes "challenge" and "status " at once, drops empty lines and lines of
// no known command, and queues every other line, parsed, in order, for the
// dispatch thread.  The dispatch thread runs dispatchLoop: every command
// handler runs there, one line after the other, each with the command as
// the receive thread parsed it; runs of lines may be handed on from there
// to the UI thread (agc_setRunDispatcher).  Once the socket has stopped
// delivering, the receive thread lets the dispatch thread finish the lines
// queued before the end, joins it, and runs the close steps.  "ping" is answered
// there in its turn, always: its "pong" goes only once every line before it
// has been handled, however long that took (a message box, a download), so
// a server may use the ping as a barrier.  What a handler waits on outside
// the connection is bounded by its own unit (downloads have deadlines) and
// watches the handle's `cancel`, which the end of the connection sets, so a
// lost connection is reported at once rather than after the wait.
// agc_send may be called from any thread (one lock per handle keeps lines
// whole) and waits a bounded time; agc_close runs on whichever thread
// detects the loss.
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
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "net/cancel.h"
#include "net/protocol.h"
#include "platform/caps.h"
#include "platform/sockets.h"

// kConnectTimeoutMs, kSendWaitMs, kUiSendWaitMs, kMaxQueuedBytes and
// kMaxRunLines are in platform/caps.h.

// One received line as the receive thread parsed it, for the dispatch
// thread: where it lies in its chunk's `bytes`, its command, and where its
// payload starts, so that the line is never parsed again.
struct QueuedLine {
    uint32_t at = 0;      // offset of the line in ReceivedChunk::bytes
    uint32_t length = 0;  // bytes of the line, without its "\n"
    uint8_t command = 0;  // a ServerCommand
    // Offset of the payload within the line; kNoQueuedPayload when the line
    // has none (ParsedCommand::payload empty).
    uint8_t payloadAt = 0;
    bool required = true;  // ParsedCommand::required
};
constexpr uint8_t kNoQueuedPayload = 0xFF;

// Received lines of one receive, copied for the dispatch thread: each line
// is followed by a zero byte in `bytes`, as in the receive buffer.  Only
// lines of a known command other than "status " and "challenge" are kept.
struct ReceivedChunk {
    std::string bytes;
    std::vector<QueuedLine> lines;
};
// The parsed command of `line`, its views into chunk.bytes (valid while the
// chunk is neither changed nor destroyed).
ParsedCommand queuedCommand(const ReceivedChunk& chunk, const QueuedLine& line);

// What a queued chunk holds in memory, as the queue cap counts it: its
// record, its two arrays as allocated (capacity, not size), and an
// allocator's bookkeeping for each.
size_t receivedChunkFootprint(const ReceivedChunk& chunk);

// One connection attempt; never reused for another connection.  Handles are
// kept until agc_deinit, so a pointer read from agc_current() stays valid even
// after a reconnection has replaced it.
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
    // While agc_connect waits for the status: a positive status makes this
    // handle the current connection.  Publishing from the receive thread,
    // before the next line is dispatched, lets a line that follows "status "
    // at once (a "ping", a menu) be answered on this connection.
    bool publish = false;

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
    size_t queuedBytes = 0;   // receivedChunkFootprint of the queue
    bool queueEnded = false;  // the receive thread has stopped reading
    // Set once the connection ends, by either side (the receive thread at
    // the end of the stream, any shutdown of the socket).  Whatever a
    // handler waits on outside the connection watches it and gives up (see
    // agc_dispatchCancel); the lines still queued are handled as before.
    CancelSwitch cancel;
    std::atomic<bool> closeStepsRun{false};
    std::atomic<bool> closeWanted{false};
    // The handle's threads, both started by agc_connect.  The receive thread
    // joins the dispatch thread once the queue has ended; the receive thread
    // itself is joined by the next agc_connect once it is done (to release
    // its stack) or by agc_deinit.
    std::thread receiver;
    std::thread dispatcher;
    std::atomic<bool> receiverDone{false};
};

// The cancel switch of the connection whose dispatch thread calls, for a
// handler's wait outside the connection (a download) to watch; null on any
// other thread.
CancelSwitch* agc_dispatchCancel();

// Tests: the connect time-out of later agc_connect calls (default
// kConnectTimeoutMs; agcReset restores it).
void agc_setConnectTimeoutMs(int ms);
int agc_connectTimeoutMs();

// The current connection: null until the first successful login and after
// agc_deinit.  Published by the receive thread that reads its positive
// status; read anywhere.
AGCHandle* agc_current();
// Makes h the current connection (null: none), as a login does.  Tests that
// run a case without a connection, or with one of their own.
void agc_setCurrent(AGCHandle* h);

// Starts the socket library and lets connections start (after agc_deinit).
void agc_init();
// Stops the threads of every connection (their sockets are shut down; each
// receive thread ends its dispatch thread; no connection starts any more:
// agc_shuttingDown() turns true), waits for the
// agc_connect calls that hold a handle to return, and releases every handle.
// UI thread, once, at exit, after the front-end stopped accepting UI-thread
// calls.
void agc_deinit();
// True from agc_deinit until the next agc_init: a connection series must
// stop (any thread).
bool agc_shuttingDown();

// The login line (with its "\n") that answers the server's challenge.
using LoginAnswer = std::function<std::string(std::string_view challenge)>;

// Opens a connection, waits for "challenge", sends answer(challenge) and
// waits for "status ".  0: host not resolved; -1: no TCP connection, login
// not sent, or the connection closed before "challenge" or "status "
// arrived; otherwise the server's status (a positive one makes the handle
// the current connection, agc_current).  The login unit's loginConnect
// gives the client's own answer.
int agc_connect(const std::string& host, int port, const LoginAnswer& answer);

// Sends a whole line (with its "\n").  False when h is null or closed, or the
// send failed (then the close steps have run on this thread).
bool agc_send(AGCHandle* h, std::string_view s);
// Convenience: agc_send on the current handle (agc_current).
bool agc_sendCurrent(std::string_view s);

// Closes h once (later calls do nothing): shuts its socket down, zeroes the
// counters, then reports the loss through the ConnectionLostHandler.
// `wanted`: the client itself ends this connection (exit, the player's
// command), which must not be answered with a reconnection.
void agc_close(AGCHandle* h, bool wanted);
void agc_forceclose(AGCHandle* h);
// The statistics: seconds since the last login, bytes received and sent
// since the last close.  Any thread.
void agc_getstats(int32_t* t, int32_t* dl, int32_t* ul);
// Tests: sets what agc_getstats reads (`loginTime` in seconds since 1970).
void agc_setstats(int32_t loginTime, int32_t dl, int32_t ul);

// Answers "ping" with "pong\n" on the current handle.
void ping();

// The receive thread of h (started by agc_connect).
void recvLoop(AGCHandle* h);
// Parses `line` (without its "\n") and handles it at once on the calling
// thread, as the dispatch thread handles a line that is not in a run, with
// "status " and "challenge" acting on h: the dispatcher without a socket
// (tests, benchmarks).
void agc_recv(AGCHandle* h, std::string_view line);
// The receive thread's part of one line cut from the stream (without its
// "\n"): "status " and "challenge" act on h at once; an empty line or one
// of no known command is dropped; any other line is appended to *chunk,
// followed by a zero byte, with its parsed command, for the dispatch
// thread.
void agc_receiveLine(AGCHandle* h, ReceivedChunk* chunk, std::string_view line);

// Handler of one server command, given the line as the receive thread
// parsed it: its command, its payload and, for "newVersion", whether the
// update is required.  The payload lives in the queued chunk and is valid
// until the handler returns.  Runs on the dispatch thread, or on the UI
// thread inside a run handed there (agc_setRunDispatcher).
using CommandHandler = void (*)(const ParsedCommand& command);
// Installs the handler of a row (nullptr: the line is ignored).  "status "
// and "challenge" are handled here and cannot be replaced.  Set at start-up
// before any connection exists.
void agc_setHandler(ServerCommand command, CommandHandler handler);

// Runs of lines.  Consecutive lines of commands marked with agc_setBatched
// that one receive brought in are dispatched together: the run dispatcher
// gets them in order, each with its handler, and must call every handler
// once, in order, before it returns (the client does so on the UI thread
// through one synchronous UI-thread call, where each line would otherwise
// cost a hand-over of its own).  Order is kept: a line of another command
// ends the run before it is dispatched, and the dispatch thread waits until
// the run has been handled, as for a single line.  A run holds at most
// kMaxRunLines lines, so the UI thread is never held for long; `moreFollows`
// tells the dispatcher that the run was cut there and the next line, already
// received, starts another run at once (a flood), so work common to the
// runs may wait for the last of them: that next run goes to the dispatcher
// however short it is, so the work left waiting is always done.  Otherwise a
// run of one line, or any run while no run dispatcher is set, is dispatched
// line by line on the dispatch thread.  A batched command with no handler is
// ignored, as an unknown line is.  Set at start-up before any connection
// exists.
struct RunLine {
    CommandHandler handler;  // never null
    ParsedCommand command;
};
using RunDispatcher = void (*)(const std::vector<RunLine>& run, bool moreFollows);
void agc_setRunDispatcher(RunDispatcher dispatcher);
void agc_setBatched(ServerCommand command, bool batched);

// What happens once a connection has gone: called once per handle, after
// its socket was shut down and the counters zeroed, on the thread that found
// the loss (the receive thread, a thread whose send failed -- the UI thread
// included --, or the caller of agc_close).  `status` is the handle's last
// "status " value (0 when none came); `wanted` is agc_close's.  The
// transport holds no policy: the client's notice, reconnection and quit are
// the handler's (see loginInstall).  Set at start-up before any connection
// exists; nullptr: losses are not reported.
using ConnectionLostHandler = void (*)(int32_t status, bool wanted);
void agc_setConnectionLost(ConnectionLostHandler handler);

// The unit's process-wide state is one record in agc.cpp (the current
// connection, the counters, the handlers, the handle registry).  agcReset()
// restores what a fresh process has; it is called at start-up (before
// agc_init) and by tests between cases, with no connection alive: before
// agc_init or after agc_deinit.
void agcReset();
