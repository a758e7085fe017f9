// The UI-thread call as every module relies on it: at once on the UI
// thread, blocking elsewhere until run, served from a modal loop, and not
// run at all when there is no main window.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/ui.h"
#include "platform/ui_queue.h"
#include "support/recording_ui.h"

namespace {

TEST(UiCall, RunsAtOnceWhenCalledOnTheUiThread) {
    RecordingUi ui;
    int order = 0, inner = -1, after = -1;
    ASSERT_TRUE(uiCall([&] {
        EXPECT_TRUE(ui.isUiThread());
        EXPECT_TRUE(uiCall([&] { inner = order++; }));  // nested: no deadlock
        after = order++;
    }));
    EXPECT_EQ(inner, 0);
    EXPECT_EQ(after, 1);
}

TEST(UiCall, AnotherThreadWaitsUntilItRan) {
    RecordingUi ui;
    std::atomic<bool> ran{false};
    std::thread::id where;
    std::thread receiver([&] {
        EXPECT_TRUE(uiCall([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            where = std::this_thread::get_id();
            ran = true;
        }));
        EXPECT_TRUE(ran.load());  // returned only after the task ran
    });
    receiver.join();
    EXPECT_NE(where, receiver.get_id());
}

TEST(UiCall, RunsWhileAModalLoopIsUp) {
    UiTaskQueue queue;
    queue.open();  // this thread is the UI thread
    std::atomic<bool> answered{false};
    std::thread receiver([&] { EXPECT_TRUE(queue.call([&] { answered = true; })); });
    // A dialog shown from a UI task: its nested loop keeps serving calls.
    bool dialogRan = queue.call([&] {
        for (int i = 0; i < 1000 && !answered.load(); ++i) queue.waitAndRun(10);
    });
    receiver.join();
    EXPECT_TRUE(dialogRan);
    EXPECT_TRUE(answered.load());
    queue.close();
}

TEST(UiCall, DoesNotRunWithoutAMainWindow) {
    bool ran = false;
    EXPECT_FALSE(uiCall([&] { ran = true; }));  // the null UI
    EXPECT_FALSE(ran);
    RecordingUi ui;
    ui.closeWindow();
    EXPECT_FALSE(uiCall([&] { ran = true; }));
    EXPECT_FALSE(ran);
}

}  // namespace
