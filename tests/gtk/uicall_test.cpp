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

// A message holding a NUL byte is shown, the NUL as a blank; the rest of the
// history is kept.  One row of the list changes in place.
TEST_F(GtkUiCall, HistoryShowsNulAsBlankAndListRowsChangeInPlace) {
    GtkFrontEnd fe;
    ASSERT_TRUE(fe.createMainWindow());
    struct Case {
        std::string text, shown;
    } cases[] = {
        {std::string("a\0b", 3), "a b"},
        {std::string("\0", 1), " "},
        {std::string("\xE9t\xE9\0\0fin", 8), "\xE9t\xE9  fin"},
    };
    std::string all;
    for (const Case& c : cases) {
        fe.historyAppend(c.text + "\r\n");
        all += c.shown + "\r\n";
    }
    EXPECT_EQ(fe.historyText(), all);
    fe.historySetText(std::string("x\0y", 3));
    EXPECT_EQ(fe.historyText(), "x y");

    for (const char* l : {"un", "deux", "trois"}) fe.listAdd(l);
    fe.listSelect(2);
    fe.listSetItem(1, "DEUX");
    fe.listSetItem(7, "nowhere");
    EXPECT_EQ(fe.listCount(), 3);
    EXPECT_EQ(fe.listSelection(), 2);
    fe.closeMainWindow();
}
