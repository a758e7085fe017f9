// The UI-thread call on the GLib loop, with a real GTK main window (run on
// a private display by with_desktop.sh).
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/gtk/gtk_frontend.h"

namespace {
struct GtkUiCall : ::testing::Test {
    static void SetUpTestSuite() { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)); }
};
}  // namespace

TEST_F(GtkUiCall, RunsAtOnceOnTheUiThreadAndNotWithoutWindow) {
    GtkFrontEnd fe;
    bool ran = false;
    EXPECT_FALSE(fe.runOnUiThread([&] { ran = true; }));  // no window yet
    EXPECT_FALSE(ran);
    ASSERT_TRUE(fe.createMainWindow());
    EXPECT_TRUE(fe.runOnUiThread([&] { ran = true; }));
    EXPECT_TRUE(ran);
    fe.closeMainWindow();
}

TEST_F(GtkUiCall, ServedWhileAModalBoxIsUp) {
    GtkFrontEnd fe;
    ASSERT_TRUE(fe.createMainWindow());
    fe.showMainWindow();
    std::atomic<bool> ran{false}, returned{false}, result{false};
    // The other thread's task ends the box by asking to quit, which ends
    // every nested loop.
    std::thread other([&] {
        result = fe.runOnUiThread([&] {
            ran = true;
            fe.requestQuit(0);
        });
        returned = true;
    });
    EXPECT_EQ(fe.messageBox("Texte", "Titre", MBX_OK), 0);
    other.join();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(returned && result);
    fe.closeMainWindow();
}

TEST_F(GtkUiCall, WaitingCallersReleasedWhenTheWindowGoes) {
    GtkFrontEnd fe;
    ASSERT_TRUE(fe.createMainWindow());
    std::atomic<bool> ran{false}, returned{false}, result{true};
    std::thread other([&] {
        result = fe.runOnUiThread([&] { ran = true; });
        returned = true;
    });
    // The UI thread does not iterate its loop: the caller waits...
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(returned);
    // ...until the window goes, which releases it without running the task.
    fe.closeMainWindow();
    other.join();
    EXPECT_FALSE(ran);
    EXPECT_FALSE(result);
    bool later = false;
    EXPECT_FALSE(fe.runOnUiThread([&] { later = true; }));
    EXPECT_FALSE(later);
}
