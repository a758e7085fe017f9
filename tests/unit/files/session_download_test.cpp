// Downloads asked for by the game server, on the connection's dispatch
// thread: they keep the line order ("pong" after the download that came
// before the "ping"), and the end of the connection ends them at once.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "files/checkfiles.h"
#include "files_fixture.h"
#include "net/agc.h"
#include "support/recording_ui.h"
#include "support/script_server.h"

namespace {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::mutex lossMu;
std::condition_variable lossCv;
int losses = 0;
void onLost(int32_t, bool) {
    std::lock_guard<std::mutex> lock(lossMu);
    ++losses;
    lossCv.notify_all();
}
void onCheckFile(const ParsedCommand& c) {
    checkFiles(c.payload);
}

class SessionDownload : public FilesFixture {
protected:
    void SetUp() override {
        FilesFixture::SetUp();
        {
            std::lock_guard<std::mutex> lock(lossMu);
            losses = 0;
        }
        agc_init();
        agc_setHandler(ServerCommand::CheckFile, onCheckFile);
        agc_setConnectionLost(onLost);
    }
    void TearDown() override {
        // Ends a download the connection left running, if any.
        cancelDownloads(true);
        agc_deinit();
        agcReset();
        FilesFixture::TearDown();
    }
    // A logged-in connection; the server's side.
    std::unique_ptr<ServerConn> login() {
        auto r = std::async(std::launch::async, [this] {
            return agc_connect("127.0.0.1", game.port(),
                               [](std::string_view) { return std::string("login x\n"); });
        });
        auto conn = game.acceptLogin(1);
        EXPECT_EQ(r.get(), 1);
        return conn;
    }
    bool waitLoss(std::chrono::milliseconds bound) {
        std::unique_lock<std::mutex> lock(lossMu);
        return lossCv.wait_for(lock, bound, [] { return losses > 0; });
    }

    RecordingUi ui;
    ScriptServer game;
};

// A listener whose accept queue is full: Linux drops further connection
// requests, so a connect to it waits until its time-out.
struct DroppingHost {
    int fd = -1;
    int port = 0;
    std::vector<SocketHandle> fillers;
    DroppingHost() {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        ::listen(fd, 0);
        socklen_t len = sizeof sa;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
        port = ntohs(sa.sin_port);
        for (int i = 0; i < 4; ++i) {
            SocketHandle f = sockConnect(htonl(INADDR_LOOPBACK), port, 300);
            if (f == kNoSocket) break;
            fillers.push_back(f);
        }
    }
    bool full() const { return !fillers.empty() && fillers.size() < 4; }
    ~DroppingHost() {
        for (SocketHandle f : fillers) sockClose(f);
        ::close(fd);
    }
};

// The server closes the game connection while a download it asked for is
// connecting, waiting for its head or trickling its body, each of which
// would last far longer (time-outs of 10 and 30 s, a body of minutes): the
// download ends at once, and the loss is reported well within the bound.
TEST_F(SessionDownload, ALostConnectionEndsItsDownloadAtOnce) {
    changeEndpoint([](DownloadEndpoint& ep) { ep.idleTimeoutMs = 30000; });
    DroppingHost dropping;
    ASSERT_TRUE(dropping.full()) << "the accept queue never filled";
    struct Case {
        const char* what;
        HttpReply reply;
        bool connectHangs;
    } cases[] = {
        {"connecting", {}, true},
        {"waiting for the head", {"", 0, true}, false},
        {"trickling the body", {"HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n", 100000, false, false, 200},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        {
            std::lock_guard<std::mutex> lock(lossMu);
            losses = 0;
        }
        put("sounds/a.ogg", "old copy");
        server.setReply(c.reply);
        changeEndpoint([&](DownloadEndpoint& ep) { ep.port = c.connectHangs ? dropping.port : server.port(); });
        const size_t asked = server.requests().size();
        auto conn = login();
        AGCHandle* h = agc_current();
        ASSERT_NE(h, nullptr);
        ASSERT_TRUE(conn->send("checkfile +4102444800 sounds/a.ogg\n"));
        if (c.connectHangs) {
            std::this_thread::sleep_for(300ms);  // inside its connect by now
        } else {
            for (int i = 0; i < 500 && server.requests().size() == asked; ++i) std::this_thread::sleep_for(10ms);
            ASSERT_GT(server.requests().size(), asked);
            std::this_thread::sleep_for(100ms);  // the head or a few bytes in
        }
        const Clock::time_point closed = Clock::now();
        conn->close();
        EXPECT_TRUE(waitLoss(5s));
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - closed).count();
        RecordProperty(std::string("loss_after_close_ms_while_") + c.what, static_cast<int>(ms));
        for (int i = 0; i < 500 && !h->receiverDone.load(); ++i) std::this_thread::sleep_for(10ms);
        EXPECT_TRUE(h->receiverDone.load());
        EXPECT_EQ(read("sounds/a.ogg"), "old copy");
        EXPECT_EQ(fileCount(), 1);  // no temporary file left
        // The next connection's downloads are not cancelled.
        server.setReply(ok("new copy"));
        changeEndpoint([&](DownloadEndpoint& ep) { ep.port = server.port(); });
        auto next = login();
        ASSERT_TRUE(next->send("checkfile +4102444800 sounds/a.ogg\nping\n"));
        EXPECT_EQ(next->readLine(10000), "pong");
        EXPECT_EQ(read("sounds/a.ogg"), "new copy");
        agc_close(agc_current(), true);
    }
}

// A "ping" after a "checkfile" is answered once the download is over, as
// any line's answer: the server may take the "pong" as a barrier.
TEST_F(SessionDownload, PongComesAfterTheDownloadBeforeIt) {
    const std::string body(40, '\0');
    // 40 bytes, one every 50 ms: about 2 s.
    server.setReply({"HTTP/1.0 200 OK\r\nContent-Length: 40\r\n\r\n", 40, false, false, 50});
    auto conn = login();
    ASSERT_TRUE(conn->send("checkfile sounds/a.ogg\nping\nping\n"));
    EXPECT_EQ(conn->readLine(20000), "pong");
    EXPECT_EQ(read("sounds/a.ogg"), body);
    EXPECT_EQ(conn->readLine(5000), "pong");
    EXPECT_EQ(conn->readLine(300), std::nullopt);  // one answer per ping
}
}  // namespace
