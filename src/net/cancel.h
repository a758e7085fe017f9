// A cancel switch for blocking work done on behalf of something that may end
// under it: the downloads a connection's handlers run end when the
// connection does, and every download ends when the client closes.
//
// cancel() sets the switch and runs, once, the action of every watch held
// on it at that moment; a watch made once it is set runs its action at
// once.  Actions wake the blocked work: a socket watch shuts its socket
// down, which returns a blocked connect, receive or send at once (on
// Winsock within the shim's 100 ms slices); a condition watch wakes a
// condition variable's waiters.  The work then reads cancelled() and gives
// up.  No thread polls the switch.
//
// Threads: any thread may cancel, reset, watch and read.  Actions run on the
// cancelling thread (or the watching one) under the switch's own lock: an
// action must be short, must not touch the switch, and may take only locks
// that are never held around a watch's creation or end.  Once a watch has
// ended (its destructor has returned), its action never runs again, so a
// socket may be closed right after its watch ends.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/sockets.h"

class CancelSwitch {
public:
    bool cancelled() const { return cancelled_.load(); }
    // Sets the switch and runs every watch's action; later calls do nothing.
    void cancel();
    // Clears the switch for work to come.  Only while no watch is held
    // (between runs, in tests).
    void reset();

private:
    friend class CancelWatch;
    std::mutex mu_;
    std::atomic<bool> cancelled_{false};
    uint64_t nextId_ = 0;                                            // guarded by mu_
    std::vector<std::pair<uint64_t, std::function<void()>>> watches_;  // guarded by mu_
};

// Runs `action` when `sw` is cancelled, for as long as this object lives
// (see CancelSwitch).  A null switch is never cancelled: the watch does
// nothing.
class CancelWatch {
public:
    CancelWatch(CancelSwitch* sw, std::function<void()> action);
    ~CancelWatch();
    CancelWatch(const CancelWatch&) = delete;
    CancelWatch& operator=(const CancelWatch&) = delete;

    // A watch that shuts `s` down (sockShutdown) when cancelled.
    static std::function<void()> shutdownOf(SocketHandle s);
    // A watch that wakes every waiter of `cv`, taking `m` first so that a
    // waiter between its test and its wait does not miss the wake.
    static std::function<void()> wakeOf(std::mutex& m, std::condition_variable& cv);

private:
    CancelSwitch* sw_;
    uint64_t id_ = 0;
};
