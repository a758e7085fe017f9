// Runs of lines: consecutive lines of batched commands that one receive
// brought in are handed to the run dispatcher together, in order, and the
// receive buffer's lines stay valid until the run has been handled.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/agc.h"
#include "net/login.h"
#include "net/line_buffer.h"
#include "platform/clock.h"
#include "speech/record/record_backend.h"
#include "speech/speech.h"
#include "support/recording_ui.h"
#include "support/script_server.h"

namespace {
using C = ServerCommand;

// What the handlers and the run dispatcher saw, in order: "[" and "]" mark
// the start and end of a run handed over together.
std::mutex mu;
std::vector<std::string> events;
std::vector<size_t> runSizes;
size_t inRun = 0;

void note(std::string e) {
    std::lock_guard<std::mutex> lock(mu);
    events.push_back(std::move(e));
    if (inRun) ++inRun;
}
void onSay(const ParsedCommand& c) {
    note("say " + std::string(c.payload));
}
void onSayI(const ParsedCommand& c) {
    note("sayi " + std::string(c.payload));
}
void onPlay(const ParsedCommand& c) {
    note("play " + std::string(c.payload));
}
void runInBrackets(const std::vector<RunLine>& run, bool moreFollows) {
    {
        std::lock_guard<std::mutex> lock(mu);
        events.push_back("[");
        inRun = 1;
    }
    for (const RunLine& l : run) l.handler(l.command);
    std::lock_guard<std::mutex> lock(mu);
    // "]+": the dispatcher was told another run follows at once.
    events.push_back(moreFollows ? "]+" : "]");
    runSizes.push_back(inRun - 1);
    inRun = 0;
}

class Runs : public ::testing::Test {
  protected:
    void SetUp() override {
        events.clear();
        runSizes.clear();
        setClock(&clock);
        setSpeechBackend(&speech);
        agc_init();
        agc_setHandler(C::Say, onSay);
        agc_setHandler(C::SayI, onSayI);
        agc_setHandler(C::Play, onPlay);
        agc_setBatched(C::Say, true);
        agc_setBatched(C::SayI, true);
        agc_setRunDispatcher(runInBrackets);
    }
    void TearDown() override {
        agc_deinit();
        agcReset();
        setSpeechBackend(nullptr);
        setClock(nullptr);
    }
    std::unique_ptr<ServerConn> login() {
        auto r = std::async(std::launch::async, [&] {
            return loginConnect("127.0.0.1", server.port(), "joueur", "secret");
        });
        std::string seen;
        auto conn = server.acceptLogin(1, &seen);
        EXPECT_EQ(r.get(), 1);
        return conn;
    }
    std::vector<std::string> seen() {
        std::lock_guard<std::mutex> lock(mu);
        return events;
    }

    FakeClock clock;
    RecordingSpeech speech;
    RecordingUi ui;
    ScriptServer server;
};

// Each send below is one small write on loopback, read by one receive; the
// "ping" at its end is answered only after every line before it was
// handled, which keeps the next send out of this receive.
TEST_F(Runs, ConsecutiveBatchedLinesGoTogetherAndOtherLinesEndTheRun) {
    auto conn = login();
    conn->send("say a\nsay b\nplay x\nsay c\nsayi d\nunknown\nsay e\nping\n");
    ASSERT_EQ(conn->readLine(), "pong");
    conn->send("say f\nsay g\nsay h\nsa");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    conn->send("y i\nping\n");
    ASSERT_EQ(conn->readLine(), "pong");
    EXPECT_EQ(seen(),
              (std::vector<std::string>{"[", "say a", "say b", "]", "play x",
                                        // An unknown line is no line at all: it does not end a run.
                                        "[", "say c", "sayi d", "say e", "]",
                                        // The unfinished line waits for its end, after the run.
                                        "[", "say f", "say g", "say h", "]", "say i"}));
}

TEST_F(Runs, ARunIsCappedSoTheDispatcherIsNeverHeldLong) {
    auto conn = login();
    std::string burst;
    const size_t n = kMaxRunLines + 44;
    for (size_t i = 0; i < n; ++i) burst += "say " + std::to_string(i) + "\n";
    conn->send(burst + "ping\n");
    ASSERT_EQ(conn->readLine(), "pong");
    std::vector<std::string> got = seen();
    std::vector<std::string> says;
    for (auto& e : got)
        if (e.rfind("say ", 0) == 0) says.push_back(e);
    ASSERT_EQ(says.size(), n);
    for (size_t i = 0; i < n; ++i) EXPECT_EQ(says[i], "say " + std::to_string(i));
    std::lock_guard<std::mutex> lock(mu);
    EXPECT_EQ(runSizes, (std::vector<size_t>{kMaxRunLines, n - kMaxRunLines}));
    EXPECT_EQ(std::count(events.begin(), events.end(), "]+"), 1) << "the cut run says another follows";
    EXPECT_EQ(events.back(), "]") << "the last run of the burst does not";
}

// A full run followed by a line of another command: no run follows it.
TEST_F(Runs, AFullRunBeforeAnotherCommandSaysNoRunFollows) {
    auto conn = login();
    std::string burst;
    for (size_t i = 0; i < kMaxRunLines; ++i) burst += "say " + std::to_string(i) + "\n";
    conn->send(burst + "play x\nping\n");
    ASSERT_EQ(conn->readLine(), "pong");
    std::vector<std::string> got = seen();
    ASSERT_GE(got.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(got.end() - 2, got.end()), (std::vector<std::string>{"]", "play x"}));
}

// A run cut full says another follows at once: that run goes to the
// dispatcher however short, so what the dispatcher left for the last run of
// the flood (the view text of a history run) is done.
TEST_F(Runs, TheRunAfterACutRunGoesToTheDispatcherEvenAlone) {
    auto conn = login();
    std::string burst;
    for (size_t i = 0; i <= kMaxRunLines; ++i) burst += "say " + std::to_string(i) + "\n";
    conn->send(burst + "ping\n");
    ASSERT_EQ(conn->readLine(), "pong");
    std::lock_guard<std::mutex> lock(mu);
    EXPECT_EQ(runSizes, (std::vector<size_t>{kMaxRunLines, 1}));
    EXPECT_EQ(std::vector<std::string>(events.end() - 3, events.end()),
              (std::vector<std::string>{"[", "say " + std::to_string(kMaxRunLines), "]"}));
}

TEST_F(Runs, WithoutARunDispatcherEachLineIsDispatchedAlone) {
    agc_setRunDispatcher(nullptr);
    auto conn = login();
    conn->send("say a\nsayi b\nping\n");
    ASSERT_EQ(conn->readLine(), "pong");
    EXPECT_EQ(seen(), (std::vector<std::string>{"say a", "sayi b"}));
}

// agcReset gives back what a fresh process has: no handler, no run
// dispatcher, the default connect time-out.
TEST_F(Runs, ResetForgetsHandlersRunsAndTheTimeOut) {
    agc_setConnectTimeoutMs(300);
    agcReset();
    EXPECT_EQ(agc_connectTimeoutMs(), kConnectTimeoutMs);
    auto conn = login();
    conn->send("say a\nsay b\nplay x\nping\n");
    ASSERT_EQ(conn->readLine(), "pong");
    EXPECT_TRUE(seen().empty());
}

// The lines given out by one commit stay valid until linesDone has run,
// including when the buffer then keeps an unfinished line at its start, and
// linesDone also runs when an over-long line is being dropped.
TEST(LineBufferRuns, LinesStayValidUntilLinesDone) {
    LineBuffer lb(16);
    std::vector<std::string_view> kept;
    std::vector<std::string> atDone;
    auto fn = [&](std::string_view l) { kept.push_back(l); };
    auto done = [&] {
        for (auto v : kept) atDone.emplace_back(v);
        atDone.push_back("|");
        kept.clear();
    };
    auto feed = [&](std::string_view bytes) {
        std::memcpy(lb.writePtr(), bytes.data(), bytes.size());
        lb.commit(bytes.size(), fn, done);
    };
    // 15 bytes of room: "0123456789abcde" fills it without a "\n", so that
    // line is dropped up to its end ("xy").
    feed("ab\ncd\nefgh");
    feed("\n0123456789");
    feed("abcde");
    feed("xy\nz\n");
    EXPECT_EQ(atDone, (std::vector<std::string>{"ab", "cd", "|", "efgh", "|", "|", "z", "|"}));
}

}  // namespace
