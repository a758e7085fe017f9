// The headless front-end's event stream: the UI thread's events wait in the
// buffer until it flushes (before every wait), while events a reader waits
// on, and every event of another thread, go out at once, in order.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "app/headless/headless_ui.h"

namespace {

class EventStream : public ::testing::Test {
  protected:
    void SetUp() override {
        path = std::filesystem::temp_directory_path() /
               ("kordo-events-" + std::to_string(reinterpret_cast<uintptr_t>(this)) + ".txt");
        file = std::fopen(path.string().c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::setvbuf(file, nullptr, _IOFBF, 1 << 16);
    }
    void TearDown() override {
        if (file) std::fclose(file);
        std::filesystem::remove(path);
    }
    // What a reader of the stream has been given so far.
    std::string written() const {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::filesystem::path path;
    std::FILE* file = nullptr;
};

TEST_F(EventStream, UiThreadEventsWaitForTheFlushAndOthersGoAtOnce) {
    EventOut out(file);
    out.holdOn(std::this_thread::get_id());
    out.emit("history", "\r\nun", true);
    out.emit("speak 0", "un", true);
    EXPECT_EQ(written(), "");
    out.flush();
    EXPECT_EQ(written(), "history \\r\\nun\nspeak 0 un\n");

    // An event the reader answers takes everything before it along.
    out.emit("list-reset");
    out.emit("dialog input", "Nom|Votre nom ?|", true, true);
    EXPECT_EQ(written(),
              "history \\r\\nun\nspeak 0 un\nlist-reset\ndialog input Nom|Votre nom ?|\n");

    // Another thread's event goes out at once, after what waited.
    out.emit("list-add", "L0", true);
    std::thread([&] {
        out.emit("speak 1",
                 "d\xE9"
                 "connect\xE9",
                 true);
    }).join();
    EXPECT_EQ(written().substr(written().find("list-add")),
              "list-add L0\nspeak 1 d\xC3\xA9"
              "connect\xC3\xA9\n");

    // Holding nobody: every event goes out as it comes.
    out.emit("title", "x", true);
    out.holdOn({});
    EXPECT_NE(written().find("title x\n"), std::string::npos)
        << "what waited goes out with the change";
    out.emit("quit 0");
    EXPECT_EQ(written().substr(written().size() - 7), "quit 0\n");
}

}  // namespace
