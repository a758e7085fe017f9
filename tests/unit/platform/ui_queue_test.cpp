#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <poll.h>
#include <unistd.h>

#include "platform/ui_queue.h"

namespace {
using namespace std::chrono_literals;

// A UI thread that drains its queue until told to stop.
struct UiThread {
    UiTaskQueue q;
    std::atomic<bool> stop{false};
    std::thread t;
    std::atomic<bool> ready{false};
    std::function<void()> firstTask;  // runs on the UI thread before the loop

    void start() {
        t = std::thread([this] {
            q.open();
            ready = true;
            if (firstTask) firstTask();
            while (!stop) q.waitAndRun(20);
        });
        while (!ready) std::this_thread::yield();
    }
    ~UiThread() {
        stop = true;
        q.wake();
        if (t.joinable()) t.join();
    }
};

TEST(UiThreadCall, RunsOnTheUiThreadAndBlocksTheCaller) {
    UiThread ui;
    ui.start();
    std::thread::id ranOn;
    bool done = false;
    ASSERT_TRUE(ui.q.call([&] {
        std::this_thread::sleep_for(20ms);
        ranOn = std::this_thread::get_id();
        done = true;
    }));
    EXPECT_TRUE(done);  // the caller waited for it
    EXPECT_EQ(ranOn, ui.t.get_id());
}

TEST(UiThreadCall, NestedCallOnTheUiThreadRunsAtOnce) {
    UiThread ui;
    ui.start();
    int order = 0, inner = -1;
    ASSERT_TRUE(ui.q.call([&] {
        ui.q.call([&] { inner = order++; });
        order++;
    }));
    EXPECT_EQ(inner, 0);
    EXPECT_EQ(order, 2);
}

TEST(UiThreadCall, RunsWhileAModalLoopIsUp) {
    UiThread ui;
    std::atomic<bool> modalOpen{false}, modalClose{false};
    // A "dialog" on the UI thread: its nested loop drains the queue.
    ui.firstTask = [&] {
        modalOpen = true;
        while (!modalClose) ui.q.waitAndRun(5);
    };
    ui.start();
    while (!modalOpen) std::this_thread::yield();
    bool ran = false;
    EXPECT_TRUE(ui.q.call([&] { ran = true; }));
    EXPECT_TRUE(ran);
    modalClose = true;
}

TEST(UiThreadCall, CallersFromSeveralThreadsEachGetTheirOwnTask) {
    UiThread ui;
    ui.start();
    std::atomic<int> sum{0};
    std::vector<std::thread> callers;
    for (int i = 1; i <= 8; ++i)
        callers.emplace_back([&, i] {
            int mine = 0;
            for (int k = 0; k < 50; ++k) ui.q.call([&] { mine += i; });
            sum += mine;
            EXPECT_EQ(mine, 50 * i);
        });
    for (auto& c : callers) c.join();
    EXPECT_EQ(sum, 50 * 36);
}

TEST(UiThreadCall, NoMainWindowMeansTheTaskDoesNotRun) {
    UiTaskQueue never;
    bool ran = false;
    EXPECT_FALSE(never.call([&] { ran = true; }));
    EXPECT_FALSE(ran);

    // A caller waiting when the window goes is released without its task.
    UiTaskQueue q;
    std::atomic<bool> opened{false}, release{false};
    std::thread uiThread([&] {  // opens the queue, then is busy and never drains it
        q.open();
        opened = true;
        while (!release) std::this_thread::sleep_for(1ms);
    });
    while (!opened) std::this_thread::yield();
    std::atomic<bool> returned{false};
    bool result = true;
    std::thread caller([&] {
        result = q.call([&] { ran = true; });
        returned = true;
    });
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(returned);
    q.close();
    caller.join();
    release = true;
    uiThread.join();
    EXPECT_FALSE(result);
    EXPECT_FALSE(ran);
}
}  // namespace

namespace {
// A loop that sleeps in poll() on a pipe (the terminal front-end's) learns
// of each queued task through the notify hook, and the caller is released
// once the loop has run it.
TEST(UiThreadCall, NotifyWakesALoopThatPollsADescriptor) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    UiTaskQueue q;
    q.setNotify([fd = p[1]] {
        const char c = 'w';
        ASSERT_EQ(write(fd, &c, 1), 1);
    });
    q.open();
    std::atomic<bool> ran{false};
    bool answered = false;
    std::thread caller([&] { answered = q.call([&] { ran = true; }); });
    pollfd fd{p[0], POLLIN, 0};
    ASSERT_EQ(poll(&fd, 1, 10000), 1) << "no wake-up for the queued task";
    char c;
    ASSERT_EQ(read(p[0], &c, 1), 1);
    // The byte comes after the task is queued: it is there to run.
    EXPECT_EQ(q.runPending(), 1);
    caller.join();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(answered);
    q.close();
    close(p[0]);
    close(p[1]);
}
}  // namespace

namespace {
// A loop that sleeps outside the queue (GLib, the Win32 message queue) and
// drains when its notify hook fires, as a front-end's idle source or posted
// message does.  Counts the notifies.
struct NotifiedLoop {
    UiTaskQueue q;
    std::mutex mu;
    std::condition_variable cv;
    int notifies = 0;  // guarded by mu
    int seen = 0;      // notifies the loop has answered; UI thread only

    NotifiedLoop() {
        q.setNotify([this] {
            std::lock_guard<std::mutex> lock(mu);
            ++notifies;
            cv.notify_all();
        });
    }
    // Waits (bounded) for a notify not answered yet.
    bool nextNotify() {
        std::unique_lock<std::mutex> lock(mu);
        if (!cv.wait_for(lock, 10s, [&] { return notifies > seen; })) return false;
        seen = notifies;
        return true;
    }
    int count() {
        std::lock_guard<std::mutex> lock(mu);
        return notifies;
    }
};

// Callers that queue while a wake-up is pending add none of their own, and
// a task that runs a nested loop (a modal box) still has later calls wake
// that loop.
TEST(UiThreadCall, OneWakeUpPerDrainAndNestedLoopsAreWokenToo) {
    NotifiedLoop loop;
    loop.q.open();
    std::atomic<int> ran{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < 3; ++i) callers.emplace_back([&] { EXPECT_TRUE(loop.q.call([&] { ++ran; })); });
    ASSERT_TRUE(loop.nextNotify());
    std::this_thread::sleep_for(50ms);  // the other callers queue meanwhile
    EXPECT_EQ(loop.count(), 1);
    while (ran < 3) loop.q.runPending();
    for (auto& c : callers) c.join();
    const int before = loop.seen = loop.count();

    bool inner = false;
    std::thread caller([&] {
        EXPECT_TRUE(loop.q.call([&] {
            // The "modal box": a call queued now needs a wake-up of its own.
            std::thread nested([&] { EXPECT_TRUE(loop.q.call([&] { inner = true; })); });
            EXPECT_TRUE(loop.nextNotify());
            loop.q.runPending();
            nested.join();
        }));
    });
    ASSERT_TRUE(loop.nextNotify());
    loop.q.runPending();
    caller.join();
    EXPECT_TRUE(inner);
    EXPECT_EQ(loop.count(), before + 2);
    loop.q.close();
}

// A flood drained in slices: the drain lingers for the caller's next call,
// which then needs no wake-up; at the end of a slice the drain hands back
// with its wake still pending, and the next slice picks up what came.
TEST(UiThreadCall, SlicesTakeAFloodWithoutAWakeUpPerCall) {
    NotifiedLoop loop;
    loop.q.open();
    std::thread caller([&] {
        for (int i = 0; i < 20; ++i) EXPECT_TRUE(loop.q.call([] {}));
    });
    ASSERT_TRUE(loop.nextNotify());
    EXPECT_FALSE(loop.q.runSlice(200ms, 10s)) << "the queue stayed empty: the drain is over";
    caller.join();
    EXPECT_EQ(loop.count(), 1);

    std::atomic<int> ran{0};
    std::thread more([&] {
        for (int i = 0; i < 2; ++i) EXPECT_TRUE(loop.q.call([&] { ++ran; }));
    });
    ASSERT_TRUE(loop.nextNotify());
    EXPECT_TRUE(loop.q.runSlice(200ms, 0ms)) << "one task, and the slice is over";
    EXPECT_EQ(ran.load(), 1);
    // The second call queues with the wake still pending: no notify, the
    // caller's next slice runs it.
    EXPECT_FALSE(loop.q.runSlice(200ms, 10s));
    more.join();
    EXPECT_EQ(ran.load(), 2);
    EXPECT_EQ(loop.count(), 2);
    loop.q.close();
}
}  // namespace
