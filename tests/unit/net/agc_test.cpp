// The connection against a scripted server on 127.0.0.1: framing over real
// TCP, whole-line sends, the login waits, connection series and reconnection
// on a fake clock.
#include "net/agc.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <thread>

#include "net/config.h"
#include "net/login.h"
#include "platform/clock.h"
#include "platform/radix36.h"
#include "speech/record/record_backend.h"
#include "speech/speech.h"
#include "support/recording_ui.h"
#include "support/script_server.h"

namespace {
using namespace std::chrono_literals;
using C = ServerCommand;

const char kNotice[] = "Vous avez \xE9t\xE9 d\xE9" "connect\xE9 du serveur";

// What the handlers saw, shared with the receive threads.
struct Seen {
    std::mutex mu;
    std::condition_variable cv;
    std::vector<std::pair<C, std::string>> lines;

    void add(C c, std::string_view payload) {
        std::lock_guard<std::mutex> lock(mu);
        lines.emplace_back(c, std::string(payload));
        cv.notify_all();
    }
    bool waitFor(size_t n) {
        std::unique_lock<std::mutex> lock(mu);
        return cv.wait_for(lock, 5s, [&] { return lines.size() >= n; });
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mu);
        lines.clear();
    }
    std::vector<std::string> payloads() {
        std::lock_guard<std::mutex> lock(mu);
        std::vector<std::string> out;
        for (auto& l : lines) out.push_back(l.second);
        return out;
    }
} seen;

// A "say " handler that can hold the dispatch thread, as a message box
// waiting for the player does.
std::mutex holdMutex;
std::condition_variable holdCv;
bool holdArmed = false, holding = false;

void onSay(const ParsedCommand& c) {
    const std::string_view p = c.payload;
    std::unique_lock<std::mutex> lock(holdMutex);
    if (holdArmed) {
        holdArmed = false;
        holding = true;
        holdCv.notify_all();
        holdCv.wait(lock, [] { return !holding; });
    }
    lock.unlock();
    seen.add(C::Say, p);
}
// A handler that needs the UI thread, as the history does.
void onSayUrg(const ParsedCommand& c) {
    std::string text(c.payload);
    uiCall([&] { seen.add(C::SayUrg, text); });
}

// The losses the transport reported, with its counters at that moment, when
// a test puts this in place of the client's handler.
struct Loss {
    int32_t status;
    bool wanted;
    int32_t received, sent;
    bool operator==(const Loss&) const = default;
};
std::mutex lossMu;
std::vector<Loss> losses;
void recordLoss(int32_t status, bool wanted) {
    int32_t received = -1, sent = -1;
    agc_getstats(nullptr, &received, &sent);
    std::lock_guard<std::mutex> lock(lossMu);
    losses.push_back({status, wanted, received, sent});
}

class Session : public ::testing::Test {
protected:
    void SetUp() override {
        {
            std::lock_guard<std::mutex> lock(seen.mu);
            seen.lines.clear();
        }
        setClock(&clock);
        setSpeechBackend(&speech);
        agc_init();
        agc_setHandler(C::Say, onSay);
        agc_setHandler(C::SayUrg, onSayUrg);
        loginInstall();
        setLoginClientId("t35t");
        servinfo s;
        s.host = "127.0.0.1";
        s.port = server.port();
        s.login = "joueur";
        s.password = "secret";
        useServers({s}, 0);
    }
    void TearDown() override {
        agc_deinit();
        loginReset();
        agcReset();
        resetConfig();
        setSpeechBackend(nullptr);
        setClock(nullptr);
    }

    // Logs in through agc_connect with the given status; returns the
    // server's side of the connection.
    std::unique_ptr<ServerConn> login(int status, int* result = nullptr) {
        auto r = std::async(std::launch::async, [&] {
            return loginConnect("127.0.0.1", server.port(), "joueur", "secret");
        });
        auto conn = server.acceptLogin(status, &loginSeen);
        int got = r.get();
        if (result) *result = got;
        return conn;
    }

    size_t noticeCount() {
        size_t n = 0;
        for (auto& l : speech.lines()) n += l.text == kNotice;
        return n;
    }
    bool waitNotices(size_t n) {
        for (int i = 0; i < 500 && noticeCount() < n; ++i) std::this_thread::sleep_for(10ms);
        return noticeCount() >= n;
    }
    // True once the receive thread of h has run its close steps and ended.
    static bool waitReceiverDone(AGCHandle* h) {
        for (int i = 0; i < 500 && !h->receiverDone.load(); ++i) std::this_thread::sleep_for(10ms);
        return h->receiverDone.load();
    }

    // Replaces the list and the selected index, as a loaded file does.
    static void useServers(std::vector<servinfo> list, unsigned serverIndex) {
        Settings s = currentSettings();
        s.serverIndex = serverIndex;
        applySettings(s, std::move(list));
    }
    // The list with entry 0 changed by `change`.
    static void changeEntry(const std::function<void(servinfo*)>& change) {
        std::vector<servinfo> list = serverList();
        change(&list[0]);
        useServers(list, currentSettings().serverIndex);
    }
    FakeClock clock;
    RecordingSpeech speech;
    RecordingUi ui;
    ScriptServer server;
    std::string loginSeen;
};

TEST_F(Session, LinesOverTcpInOrderAndTailDroppedAtClose) {
    int result = 0;
    auto conn = login(1, &result);
    ASSERT_EQ(result, 1);
    EXPECT_EQ(loginSeen,
              "login joueur|secret|65545|fr|t35t|" +
                  toBase36(doChallenge("abc", "joueur", "secret")));
    conn->send("say a\nsay b\nsay c\n");
    conn->send("say sp");
    std::this_thread::sleep_for(20ms);
    conn->send("lit\r\n");
    conn->send("status -5\nsay never dispatched");
    ASSERT_TRUE(seen.waitFor(4));
    AGCHandle* h = agc_current();
    conn->close();
    ASSERT_TRUE(waitReceiverDone(h));  // its close steps are over
    EXPECT_EQ(seen.payloads(), (std::vector<std::string>{"a", "b", "c", "split\r"}));
    EXPECT_EQ(speech.lines().back(), (SpokenLine{kNotice, true}));
    EXPECT_EQ(noticeCount(), 1u);
    // -5: the client stays open and disconnected.
    EXPECT_EQ(server.accept(200), nullptr);
    EXPECT_TRUE(ui.quits().empty());
    EXPECT_TRUE(ui.messageBoxes().empty());
}

// The receive buffer holds 524,288 bytes with the terminator: a line of
// 524,286 bytes and its "\n" fill it exactly and still arrive; one byte more
// is dropped whole, and the connection carries on with the next line.
TEST_F(Session, LinesAtTheReceiveBufferSize) {
    const size_t kBuffer = 524288;
    auto conn = login(1);
    const std::string fits(kBuffer - 2 - 4, 'x');     // with "say ": 524,286 bytes
    const std::string tooLong(kBuffer - 1 - 4, 'y');  // 524,287 bytes
    ASSERT_TRUE(conn->send("say " + fits + "\nsay " + tooLong + "\nsay after\nping\n"));
    EXPECT_EQ(conn->readLine(), "pong");
    ASSERT_TRUE(seen.waitFor(2));
    auto payloads = seen.payloads();
    ASSERT_EQ(payloads.size(), 2u);
    EXPECT_TRUE(payloads[0] == fits) << "first payload of " << payloads[0].size() << " bytes";
    EXPECT_EQ(payloads[1], "after");
    EXPECT_EQ(noticeCount(), 0u);
    EXPECT_TRUE(agc_current()->open.load());
}

TEST_F(Session, PingIsAnsweredOnTheCurrentHandle) {
    auto conn = login(1);
    conn->send("ping\r\npingXYZ\n");
    EXPECT_EQ(conn->readLine(), "pong");
    EXPECT_EQ(conn->readLine(), "pong");
}

TEST_F(Session, ALineRightAfterTheStatusIsAnsweredOnTheNewConnection) {
    auto r = std::async(std::launch::async,
                        [&] { return loginConnect("127.0.0.1", server.port(), "a", "b"); });
    auto c = server.accept();
    c->send("challenge abc\n");
    ASSERT_TRUE(c->readLine().has_value());
    c->send("status 1\nping\n");
    EXPECT_EQ(c->readLine(), "pong");
    EXPECT_EQ(r.get(), 1);
}

TEST_F(Session, ConcurrentSendsNeverInterleave) {
    auto conn = login(1);
    const int kThreads = 4, kLines = 300;
    const std::string pad(3000, 'p');
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t)
        senders.emplace_back([&, t] {
            for (int i = 0; i < kLines; ++i)
                agc_send(agc_current(),
                         "t" + std::to_string(t) + " " + std::to_string(i) + " " + pad + "\n");
        });
    std::vector<int> next(kThreads, 0);
    for (int n = 0; n < kThreads * kLines; ++n) {
        auto line = conn->readLine();
        ASSERT_TRUE(line.has_value());
        // "t<thread> <index> <pad>": a line cut by another thread's bytes
        // breaks the shape or the order.
        int t = -1, index = -1, used = 0;
        ASSERT_EQ(std::sscanf(line->c_str(), "t%d %d %n", &t, &index, &used), 2)
            << line->substr(0, 40);
        ASSERT_TRUE(t >= 0 && t < kThreads);
        EXPECT_EQ(line->substr(static_cast<size_t>(used)), pad);
        EXPECT_EQ(index, next[t]++);
    }
    for (auto& s : senders) s.join();
    int32_t up = 0;
    agc_getstats(nullptr, nullptr, &up);
    EXPECT_GE(up, kThreads * kLines * 3000);
}

TEST_F(Session, SendOnClosedHandleAndCounters) {
    auto conn = login(1);
    int32_t elapsed = -1, dl = -1, up = -1;
    agc_getstats(&elapsed, &dl, &up);
    EXPECT_EQ(elapsed, 0);
    EXPECT_GT(dl, 0);  // challenge and status
    EXPECT_TRUE(agc_send(agc_current(), ""));
    EXPECT_TRUE(agc_send(agc_current(), "x\n"));
    agc_getstats(nullptr, nullptr, &up);
    EXPECT_EQ(up, static_cast<int32_t>(loginSeen.size() + 1 + 2));
    agc_close(agc_current(), true);
    EXPECT_FALSE(agc_send(agc_current(), "y\n"));
    agc_getstats(&elapsed, &dl, &up);
    EXPECT_EQ(up, 0);
    EXPECT_EQ(dl, 0);
    EXPECT_EQ(elapsed, clock.now());  // no login since the close
    EXPECT_FALSE(agc_send(nullptr, "z\n"));
}

// A server that stops reading: once the socket is full, the send that no
// longer fits gives up after its bounded wait (the UI thread's, here) and
// closes the connection as lost, so a stalled server never holds a thread.
TEST_F(Session, ASendToAServerThatReadsNothingGivesUp) {
    auto conn = login(1);
    // No reconnection series after the loss: the test ends with it.
    conn->send("status -5\nping\n");
    ASSERT_EQ(conn->readLine(), "pong");
    const std::string line = "chat " + std::string(65536, 'x') + "\n";
    bool failed = false;
    int sent = 0;
    ASSERT_TRUE(uiCall([&] {
        // 4,096 lines (256 MB) is far more than loopback's buffers hold.
        for (; sent < 4096 && !failed; ++sent) failed = !agc_send(agc_current(), line);
    }));
    EXPECT_TRUE(failed) << sent << " lines went into a socket nobody reads";
    EXPECT_TRUE(waitNotices(1));
    EXPECT_FALSE(agc_send(agc_current(), "x\n"));
}

TEST_F(Session, WaitsEndWhenTheConnectionClosesEarly) {
    // Closed before "challenge".
    auto r1 = std::async(std::launch::async,
                         [&] { return loginConnect("127.0.0.1", server.port(), "a", "b"); });
    server.accept()->close();
    EXPECT_EQ(r1.get(), -1);
    // Closed after the login line, before "status ".
    auto r2 = std::async(std::launch::async,
                         [&] { return loginConnect("127.0.0.1", server.port(), "a", "b"); });
    auto c = server.accept();
    c->send("challenge\nstatus nothing\n");  // empty challenge; status 0 keeps waiting
    EXPECT_TRUE(c->readLine().has_value());
    c->close();
    EXPECT_EQ(r2.get(), -1);
    EXPECT_EQ(agc_current(), nullptr);
}

TEST_F(Session, RefusedLoginIsNotPublished) {
    int result = 0;
    auto conn = login(-3, &result);
    EXPECT_EQ(result, -3);
    EXPECT_EQ(agc_current(), nullptr);
}

// The transport reports each loss once, with the last status and whether
// the client wanted the close, after zeroing the counters (a reconnection
// made by the handler counts afresh).  It says and starts nothing itself.
TEST_F(Session, EachLossIsReportedOnceAndTheTransportDecidesNothing) {
    agc_setConnectionLost(recordLoss);
    const struct {
        const char* what;
        const char* last;  // the server's last line before the end
        bool clientCloses;
        Loss reported;
    } cases[] = {
        {"the server closes", "", false, {1, false, 0, 0}},
        {"status -7 then close", "status -7\n", false, {-7, false, 0, 0}},
        {"the client closes", "", true, {1, true, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        {
            std::lock_guard<std::mutex> lock(lossMu);
            losses.clear();
        }
        auto conn = login(1);
        AGCHandle* h = agc_current();
        ASSERT_NE(h, nullptr);
        if (*c.last) conn->send(c.last);
        if (c.clientCloses)
            agc_close(h, true);
        else
            conn->close();
        ASSERT_TRUE(waitReceiverDone(h));
        agc_close(h, false);  // once per handle
        std::lock_guard<std::mutex> lock(lossMu);
        EXPECT_EQ(losses, std::vector<Loss>{c.reported});
    }
    EXPECT_EQ(noticeCount(), 0u);
    EXPECT_TRUE(ui.quits().empty());
    EXPECT_EQ(server.accept(100), nullptr);
}

// The player closes the window while a series is inside agc_connect (here:
// making its login answer): the exit waits for that connect to return
// before it releases the connection's handle.
TEST_F(Session, ExitWaitsForAConnectInProgress) {
    std::promise<void> answering;
    auto r = std::async(std::launch::async, [&] {
        return agc_connect("127.0.0.1", server.port(), [&](std::string_view) {
            answering.set_value();
            for (int i = 0; i < 500 && !agc_shuttingDown(); ++i) std::this_thread::sleep_for(10ms);
            std::this_thread::sleep_for(100ms);  // the exit goes on meanwhile
            return std::string("login a|b\n");
        });
    });
    auto c = server.accept();
    ASSERT_NE(c, nullptr);
    c->send("challenge abc\n");
    answering.get_future().wait();
    agc_deinit();
    EXPECT_EQ(r.get(), -1);
    agc_init();
}

struct SeriesCase {
    const char* name;
    bool listening;
    int status;          // what the server answers when it accepts
    int64_t sleptMs;     // fake time waited by the series
    int connections;     // connections the server sees
    bool message;        // "Erreur" box then quit
    const char* says;    // a fragment of the message
};

TEST_F(Session, ConnectionSeries) {
    const SeriesCase cases[] = {
        {"unreachable: four attempts", false, 0, 1000 + 3000 + 5000 + 11000, 0, true,
         "injoignable"},
        {"wrong credentials: one attempt", true, -3, 1000, 1, true, "identifiants"},
        {"banned", true, -4, 1000, 1, true, "banni"},
        {"-5 is silent", true, -5, 1000, 1, false, ""},
        {"-9 shows its code", true, -9, 1000, 1, true, "Code d'erreur: -9."},
        {"logged in", true, 1, 1000, 1, false, ""},
    };
    for (const SeriesCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptServer local;
        const int port = c.listening ? local.port() : [] {
            ScriptServer closed;
            int p = closed.port();
            closed.stop();
            return p;
        }();
        changeEntry([port](servinfo* s) { s->port = port; });
        setLastSeriesStart(0);
        size_t boxesBefore = ui.messageBoxes().size(), quitsBefore = ui.quits().size();
        int64_t sleptBefore = clock.sleptMs();
        auto series = std::async(std::launch::async, [] { return doConnect2(nullptr); });
        int accepted = 0;
        std::unique_ptr<ServerConn> conn;
        if (c.listening) {
            conn = local.acceptLogin(c.status);
            accepted += conn != nullptr;
        }
        EXPECT_EQ(series.get(), 0);
        if (c.listening) {
            // No further attempt after a refusal or a success.
            EXPECT_EQ(local.accept(100), nullptr);
        }
        EXPECT_EQ(accepted, c.connections);
        EXPECT_EQ(clock.sleptMs() - sleptBefore, c.sleptMs);
        auto boxes = ui.messageBoxes();
        ASSERT_EQ(boxes.size() - boxesBefore, c.message ? 1u : 0u);
        if (c.message) {
            EXPECT_EQ(boxes.back().title, "Erreur");
            EXPECT_EQ(boxes.back().flags, MBX_OK | MBX_ICONERROR);
            EXPECT_NE(boxes.back().text.find(c.says), std::string::npos);
            EXPECT_EQ(ui.quits().size() - quitsBefore, 1u);
        }
        if (conn) conn->close();
        agc_deinit();  // ends the handles of this case
        agc_init();
    }
}

// Each attempt is refused the same way (the server closes before
// "challenge": -1), so the series makes all four, each after its own wait.
TEST_F(Session, FourAttemptsAfterWaitsOfOneThreeFiveAndElevenSeconds) {
    const int64_t start = clock.nowMs();
    auto series = std::async(std::launch::async, [] { return doConnect2(nullptr); });
    // The series waits inside agc_connect until the connection closes, so
    // the fake time read at each accept is the time of that attempt.
    std::vector<int64_t> attempts;
    while (auto c = server.accept(attempts.size() < 4 ? 5000 : 200)) {
        attempts.push_back(clock.nowMs() - start);
        c->close();
    }
    EXPECT_EQ(series.get(), 0);
    EXPECT_EQ(attempts, (std::vector<int64_t>{1000, 4000, 9000, 20000}));
    ASSERT_EQ(ui.messageBoxes().size(), 1u);
    EXPECT_EQ(ui.messageBoxes()[0].text, connectFailureMessage(-1));
    EXPECT_EQ(ui.quits(), std::vector<int>{0});
}

TEST_F(Session, UnresolvedHostEndsTheSeriesWithCodeZero) {
    changeEntry([](servinfo* s) { s->host.reset(); });
    doConnect2(nullptr);
    EXPECT_EQ(clock.sleptMs(), 1000);
    ASSERT_EQ(ui.messageBoxes().size(), 1u);
    EXPECT_NE(ui.messageBoxes()[0].text.find("Code d'erreur: 0."), std::string::npos);
}

TEST_F(Session, ServerIndexOutsideTheListMakesNoAttempt) {
    useServers(serverList(), 3);
    doConnect2(nullptr);
    EXPECT_EQ(clock.sleptMs(), 0);
    EXPECT_EQ(server.accept(100), nullptr);
    ASSERT_EQ(ui.messageBoxes().size(), 1u);
}

// A series starts only when 23 seconds or more have passed since the
// previous one started; the time is recorded either way.
TEST_F(Session, GuardAllowsASeriesAfter23SecondsOnly) {
    const struct {
        int64_t since;
        bool attempts;
    } cases[] = {{22, false}, {23, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.since);
        const size_t boxesBefore = ui.messageBoxes().size();
        setLastSeriesStart(clock.now() - c.since);
        const int64_t started = clock.now(), sleptBefore = clock.sleptMs();
        auto series = std::async(std::launch::async, [] { return doConnect2(nullptr); });
        auto conn = server.accept(c.attempts ? 5000 : 200);
        EXPECT_EQ(conn != nullptr, c.attempts);
        if (conn) {  // log in, so that a series that should not run still ends
            conn->send("challenge abc\n");
            EXPECT_TRUE(conn->readLine().has_value());
            conn->send("status 1\n");
        }
        series.get();
        EXPECT_EQ(server.accept(100), nullptr);
        EXPECT_EQ(lastSeriesStart(), started);
        EXPECT_EQ(clock.sleptMs() - sleptBefore, c.attempts ? 1000 : 0);
        auto boxes = ui.messageBoxes();
        if (c.attempts) {
            EXPECT_NE(agc_current(), nullptr);
            EXPECT_EQ(boxes.size(), boxesBefore);
        } else {
            ASSERT_EQ(boxes.size(), boxesBefore + 1);
            EXPECT_EQ(boxes.back().text, connectFailureMessage(-1));
        }
        agc_deinit();
        agc_init();
    }
}

// Logs in with doConnect2 on its own thread.
std::unique_ptr<ServerConn> seriesLogin(ScriptServer& server) {
    auto series = std::async(std::launch::async, [] { return doConnect2(nullptr); });
    auto conn = server.acceptLogin(1);
    series.get();
    return conn;
}

TEST_F(Session, ForcedCloseGivesOneNoticeAndOneReconnection) {
    auto first = seriesLogin(server);
    AGCHandle* old = agc_current();
    ASSERT_NE(old, nullptr);
    clock.advanceMs(30000);
    agc_forceclose(old);
    auto second = server.acceptLogin(1);
    ASSERT_NE(second, nullptr);
    for (int i = 0; i < 500 && agc_current() == old; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_NE(agc_current(), old);
    EXPECT_EQ(noticeCount(), 1u);
    EXPECT_EQ(server.accept(100), nullptr);
    EXPECT_TRUE(ui.messageBoxes().empty());
    // The new handle is live.
    second->send("ping\n");
    EXPECT_EQ(second->readLine(), "pong");
}

TEST_F(Session, LossSoonAfterTheSeriesEndsTheApplication) {
    auto conn = seriesLogin(server);
    clock.advanceMs(10000);
    conn->close();
    ASSERT_TRUE(ui.waitForQuits(1));
    ASSERT_EQ(ui.messageBoxes().size(), 1u);
    EXPECT_NE(ui.messageBoxes()[0].text.find("injoignable"), std::string::npos);
    EXPECT_EQ(server.accept(100), nullptr);
}

TEST_F(Session, StatusMinusSevenThenCloseQuitsWithoutReconnecting) {
    auto conn = seriesLogin(server);
    clock.advanceMs(30000);
    conn->send("status -7\n");
    conn->close();
    ASSERT_TRUE(ui.waitForQuits(1));
    EXPECT_EQ(ui.quits(), std::vector<int>{0});
    EXPECT_EQ(noticeCount(), 1u);
    EXPECT_TRUE(ui.messageBoxes().empty());
    EXPECT_EQ(server.accept(100), nullptr);
}

TEST_F(Session, WantedCloseDoesNotReconnect) {
    auto conn = seriesLogin(server);
    clock.advanceMs(30000);
    agc_close(agc_current(), true);
    EXPECT_TRUE(conn->waitClosed());
    EXPECT_EQ(server.accept(200), nullptr);
    EXPECT_EQ(noticeCount(), 1u);
}

TEST_F(Session, FailedSendOnTheUiThreadReconnectsWithoutHoldingIt) {
    auto conn = seriesLogin(server);
    AGCHandle* old = agc_current();
    clock.advanceMs(30000);
    // Hold the receive thread in a handler so that the UI thread's send is
    // the one that finds the connection gone.
    {
        std::lock_guard<std::mutex> lock(holdMutex);
        holdArmed = true;
    }
    conn->send("say hold\n");
    {
        std::unique_lock<std::mutex> lock(holdMutex);
        ASSERT_TRUE(holdCv.wait_for(lock, 5s, [] { return holding; }));
    }
    conn->close();
    bool failed = false;
    ASSERT_TRUE(uiCall([&] {
        for (int i = 0; i < 200 && !failed; ++i) {
            failed = !agc_send(agc_current(), "input 60003|bonjour\n");
            std::this_thread::sleep_for(5ms);
        }
    }));
    ASSERT_TRUE(failed);
    // The new connection's first lines need the UI thread before its status.
    auto c = server.accept();
    ASSERT_NE(c, nullptr);
    c->send("challenge abc\n");
    ASSERT_TRUE(c->readLine().has_value());
    c->send("sayurg bienvenue\nstatus 1\n");
    ASSERT_TRUE(seen.waitFor(1));
    for (int i = 0; i < 500 && noticeCount() < 1; ++i) std::this_thread::sleep_for(10ms);
    {
        std::lock_guard<std::mutex> lock(holdMutex);
        holding = false;
        holdCv.notify_all();
    }
    EXPECT_EQ(seen.payloads().front(), "bienvenue");
    c->send("ping\n");
    EXPECT_EQ(c->readLine(), "pong");
    // The released receive thread finds its connection gone too; the close
    // steps already ran on the UI thread, so it adds no notice.
    ASSERT_TRUE(waitReceiverDone(old));
    EXPECT_EQ(noticeCount(), 1u);
}
// "pong" comes in its turn, always: while a handler is busy (a message box,
// a download) no ping behind it is answered, and once it returns, the pongs
// follow the lines before them, one per ping.
TEST_F(Session, PongFollowsEveryEarlierLineHoweverLongItTakes) {
    auto conn = login(1);
    ASSERT_NE(conn, nullptr);
    {
        std::lock_guard<std::mutex> lock(holdMutex);
        holdArmed = true;
    }
    conn->send("say hold\nping\nsay after\nping\n");
    {
        std::unique_lock<std::mutex> lock(holdMutex);
        ASSERT_TRUE(holdCv.wait_for(lock, 5s, [] { return holding; }));
    }
    EXPECT_EQ(conn->readLine(1500), std::nullopt);
    EXPECT_TRUE(seen.payloads().empty());
    {
        std::lock_guard<std::mutex> lock(holdMutex);
        holding = false;
        holdCv.notify_all();
    }
    EXPECT_EQ(conn->readLine(3000), "pong");
    EXPECT_EQ(conn->readLine(3000), "pong");
    EXPECT_EQ(seen.payloads(), (std::vector<std::string>{"hold", "after"}));
    conn->send("ping\n");
    EXPECT_EQ(conn->readLine(3000), "pong");
    EXPECT_EQ(conn->readLine(300), std::nullopt);
}

// What the lines waiting for the dispatch thread hold in memory: each
// chunk's record and its arrays as allocated.
struct Queued {
    size_t bytes = 0, lines = 0;
    std::string last;  // the last line queued
};
Queued queued(AGCHandle* h) {
    Queued q;
    std::lock_guard<std::mutex> lock(h->queueMu);
    for (const ReceivedChunk& c : h->queue) {
        q.bytes += sizeof c + c.bytes.capacity() + c.lines.capacity() * sizeof c.lines[0];
        q.lines += c.lines.size();
        if (!c.lines.empty()) q.last = c.bytes.substr(c.lines.back().at, c.lines.back().length);
    }
    return q;
}

// Holds the dispatch thread in a "say" handler, as a message box would.
void holdDispatch(ServerConn& conn) {
    {
        std::lock_guard<std::mutex> lock(holdMutex);
        holdArmed = true;
    }
    conn.send("say hold\n");
    std::unique_lock<std::mutex> lock(holdMutex);
    ASSERT_TRUE(holdCv.wait_for(lock, 5s, [] { return holding; }));
}
void releaseDispatch() {
    std::lock_guard<std::mutex> lock(holdMutex);
    holding = false;
    holdCv.notify_all();
}

// While a handler waits, a flood of short lines fills the queue up to its
// cap and no further: the cap counts what each line costs in memory, not
// only its bytes (a "ping" costs more than its five).
TEST_F(Session, AFloodWhileAHandlerWaitsStaysWithinTheQueueCap) {
    auto conn = login(1);
    AGCHandle* h = agc_current();
    holdDispatch(*conn);
    std::string burst;
    for (int i = 0; i < 50000; ++i) burst += "ping\n";
    // Until the client stops reading (at most 100 MB).
    int bursts = 0;
    while (bursts < 400 && conn->sendWithin(burst, 1000)) ++bursts;
    ASSERT_LT(bursts, 400) << "the client never stopped reading";
    const Queued q = queued(h);
    EXPECT_GT(q.lines, 100000u);
    // Past the cap by one receive's lines at most (the receive buffer holds
    // 512 KB).
    EXPECT_LE(q.bytes, kMaxQueuedBytes + (size_t(2) << 20)) << q.lines << " lines";
    conn->close();
    releaseDispatch();
}

// Empty lines and lines of no known command are dropped as they arrive:
// they never wait in the queue, whatever their number.
TEST_F(Session, LinesOfNoCommandNeverReachTheQueue) {
    auto conn = login(1);
    AGCHandle* h = agc_current();
    holdDispatch(*conn);
    std::string junk;
    for (int i = 0; i < 100000; ++i) junk += "\nzzz\nsay\n\r\nPing\n";
    ASSERT_TRUE(conn->sendWithin(junk, 5000));
    ASSERT_TRUE(conn->send("say end\n"));
    Queued q;
    for (int i = 0; i < 500 && (q = queued(h)).last != "say end"; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(q.last, "say end");
    EXPECT_EQ(q.lines, 1u);
    releaseDispatch();
    ASSERT_TRUE(seen.waitFor(2));
    EXPECT_EQ(seen.payloads(), (std::vector<std::string>{"hold", "end"}));
    conn->send("ping\n");
    EXPECT_EQ(conn->readLine(), "pong");
}

// A server that floods "ping" and never reads fills the socket: the sends
// (the receive side's pongs, the UI thread's key reports) give up after a
// bounded wait and the connection is closed as lost, with the usual notice,
// instead of freezing the client.
TEST_F(Session, AServerThatStopsReadingLosesTheConnection) {
    auto conn = login(1);
    ASSERT_NE(conn, nullptr);
    AGCHandle* h = agc_current();
    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        std::string burst;
        for (int i = 0; i < 20000; ++i) burst += "ping\n";
        for (int i = 0; i < 4000 && flooding && conn->send(burst); ++i) {
        }
    });
    // The UI thread keeps reporting keys; each send returns, and once the
    // connection is found stuck they fail.
    bool failed = false;
    // (Filling the loopback buffers takes a few seconds, more under the
    // sanitizers.)
    for (int i = 0; i < 900 && !failed; ++i) {
        ASSERT_TRUE(uiCall([&] { failed = !agc_send(h, "key 65\n"); }));
        if (!failed) std::this_thread::sleep_for(100ms);
    }
    EXPECT_TRUE(failed);
    EXPECT_TRUE(waitReceiverDone(h));
    EXPECT_FALSE(h->open.load());
    EXPECT_TRUE(waitNotices(1));
    // The client's socket is closed: the server's sends now fail.
    flooding = false;
    flood.join();
    conn->close();
}

// Each connection's socket is closed once its receive thread has ended,
// not at exit: reconnections do not pile up descriptors.
TEST_F(Session, EachEndedConnectionReleasesItsSocket) {
    auto openFds = [] {
        int n = 0;
        for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) (void)e, ++n;
        return n;
    };
    const int before = openFds();
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        auto conn = login(1);
        ASSERT_NE(conn, nullptr);
        AGCHandle* h = agc_current();
        agc_close(h, true);  // (a lost one would start a series here)
        ASSERT_TRUE(conn->waitClosed());
        ASSERT_TRUE(waitReceiverDone(h));
        conn->close();
        EXPECT_EQ(h->fd, kNoSocket);
        EXPECT_EQ(openFds(), before);
    }
}

// A host that drops the connection request: every connect has a time-out
// (and ends when the client closes), and a timed-out connect is a failed
// attempt like a refused one.
TEST_F(Session, ConnectTimesOutOnAHostThatDropsTheRequest) {
    // A listener with a full accept queue: Linux drops further requests.
    int lfd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(lfd, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(lfd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_EQ(::listen(lfd, 0), 0);
    socklen_t len = sizeof sa;
    ::getsockname(lfd, reinterpret_cast<sockaddr*>(&sa), &len);
    const int port = ntohs(sa.sin_port);
    std::vector<SocketHandle> fillers;
    for (int i = 0; i < 4; ++i) {
        SocketHandle f = sockConnect(htonl(INADDR_LOOPBACK), port, 300);
        if (f == kNoSocket) break;
        fillers.push_back(f);
    }
    ASSERT_FALSE(fillers.empty());
    ASSERT_LT(fillers.size(), 4u) << "the accept queue never filled";

    struct Case {
        const char* what;
        int timeoutMs;
        bool cancelled;
    } cases[] = {{"time-out", 300, false}, {"cancel", 0, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::atomic<bool> cancel{false};
        std::thread canceller([&] {
            if (!c.cancelled) return;
            std::this_thread::sleep_for(200ms);
            cancel = true;
        });
        EXPECT_EQ(sockConnect(htonl(INADDR_LOOPBACK), port, c.timeoutMs, &cancel), kNoSocket);
        canceller.join();
    }
    agc_setConnectTimeoutMs(300);
    EXPECT_EQ(loginConnect("127.0.0.1", port, "joueur", "secret"), -1);
    agc_setConnectTimeoutMs(kConnectTimeoutMs);
    for (SocketHandle f : fillers) sockClose(f);
    ::close(lfd);
}
}  // namespace
