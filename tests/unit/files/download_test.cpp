#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "support/recording_diag.h"
#include "files/download.h"
#include "files/http_reader.h"
#include "files_fixture.h"
#include "net/config.h"

namespace {
using Download = FilesFixture;
const char kAgent[] = "\r\nUser-Agent:Orvandel Audiogame client\r\n\r\n";

TEST_F(Download, RequestBytesAndWrittenNames) {
    struct Case {
        const char *given, *requestLine, *written;
    } cases[] = {
        {"sounds/step.ogg", "GET /autodl/sounds/step.ogg HTTP/1.0", "sounds/step.ogg"},
        {"ext/tool.dll", "GET /autodl/ext/tool.dle HTTP/1.0", "ext/tool.dll"},
        {"a.dll.old", "GET /autodl/a.dle HTTP/1.0", "a.dll"},
        {"caf\xE9 x.ogg", "GET /autodl/caf\xE9 x.ogg HTTP/1.0", "caf\xE9 x.ogg"},  // verbatim, no escaping
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.given);
        server.setReply(ok(std::string("body of ") + c.given));
        const std::string given = c.given;
        size_t before = server.requests().size();
        EXPECT_EQ(downloadFile(given), 1);
        EXPECT_EQ(given, c.given);
        ASSERT_EQ(server.requests().size(), before + 1);
        EXPECT_EQ(server.requests().back(), std::string(c.requestLine) + "\r\nHost:127.0.0.1" + kAgent);
        EXPECT_EQ(read(c.written), std::string("body of ") + c.given);
    }
    // Sub-folders were created ("sounds/", "ext/"), nothing else left behind.
    EXPECT_EQ(fileCount(), 4);
}

TEST_F(Download, BuiltInEndpoint) {
    DownloadEndpoint ep = defaultDownloadEndpoint();
    EXPECT_EQ(ep.port, 80);
    EXPECT_EQ(ep.base, "/autodl");
    EXPECT_EQ(ep.idleTimeoutMs, 30000);
    // One build-time host: the download area and the default server entry's
    // download host are the same.
    EXPECT_EQ(ep.host, kDefaultDownloadHost);
    std::vector<servinfo> entries;
    Settings settings;
    parseConfig(defaultConfigBytes(), &settings, &entries);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].dlHost, ep.host);
    EXPECT_EQ(downloadRequest(ep, "x.ogg"), "GET /autodl/x.ogg HTTP/1.0\r\nHost:" + ep.host + kAgent);
}

TEST_F(Download, BodiesWrittenExactly) {
    const std::string zeros("a\0b\0\0c\r\n\r\nd", 11);
    struct Case {
        const char* name;
        HttpReply reply;
        std::string expected;
    } cases[] = {
        {"empty body truncates", ok(""), ""},
        {"zero bytes and a second separator", ok(zeros), zeros},
        {"no Content-Length: body runs to the close", {"HTTP/1.0 200 OK\r\n\r\nuntil close"}, "until close"},
        {"bytes past Content-Length dropped", {"HTTP/1.0 200 OK\r\ncontent-length:  3 \r\n\r\nabcdef"}, "abc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        put("f.ogg", "old content");
        server.setReply(c.reply);
        EXPECT_EQ(downloadFileFrom(downloadEndpoint(), filesRoot(), "f.ogg"), DownloadResult::Written);
        EXPECT_EQ(read("f.ogg"), c.expected);
        EXPECT_EQ(fileCount(), 1);
    }
}

// Every faulty answer leaves the good local copy and no temporary file.
TEST_F(Download, FaultsKeepTheLocalCopy) {
    changeEndpoint([](DownloadEndpoint& ep) { ep.idleTimeoutMs = 200; });
    struct Case {
        const char* name;
        HttpReply reply;
        DownloadResult result;
    } cases[] = {
        {"404 with a page", {"HTTP/1.0 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found"}, DownloadResult::BadResponse},
        {"500 without length", {"HTTP/1.0 500 Oops\r\n\r\nerror"}, DownloadResult::BadResponse},
        {"no header end", {"HTTP/1.0 200 OK\r\nContent-Length: 4\r\nabcd"}, DownloadResult::BadResponse},
        {"nothing at all", {""}, DownloadResult::BadResponse},
        {"not HTTP", {"garbage\r\n\r\nbody"}, DownloadResult::BadResponse},
        {"bad Content-Length", {"HTTP/1.0 200 OK\r\nContent-Length: -4\r\n\r\nabcd"}, DownloadResult::BadResponse},
        {"short body then close", {"HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nhalf"}, DownloadResult::Incomplete},
        {"stall mid-body", {"HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nhalf", 0, true}, DownloadResult::Incomplete},
        {"stall before the head ends", {"HTTP/1.0 200 OK\r\n", 0, true}, DownloadResult::BadResponse},
        // Without Content-Length only the server's close ends the body.
        {"stall, no length", {"HTTP/1.0 200 OK\r\n\r\nhalf", 0, true}, DownloadResult::Incomplete},
        {"reset, no length", {"HTTP/1.0 200 OK\r\n\r\nhalf", 0, false, true}, DownloadResult::Incomplete},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        put("sounds/a.ogg", "good copy");
        server.setReply(c.reply);
        EXPECT_EQ(downloadFileFrom(downloadEndpoint(), filesRoot(), "sounds/a.ogg"), c.result);
        EXPECT_EQ(downloadFile("sounds/a.ogg"), 1);  // the exchange took place
        EXPECT_EQ(read("sounds/a.ogg"), "good copy");
        EXPECT_EQ(fileCount(), 1);
    }
}

// A hostile or broken server cannot hold a download for ever nor fill the
// disk: an overall deadline (which a trickle of bytes never trips as an
// idle time-out would), a size cap checked on Content-Length before any
// byte is written and on the body as it comes.  The local copy stays and
// no ".part" is left.
TEST_F(Download, DeadlineAndSizeCapEndHostileBodies) {
    changeEndpoint([](DownloadEndpoint& ep) {
        ep.idleTimeoutMs = 2000;
        ep.overallTimeoutMs = 600;
        ep.maxBytes = 1000;
    });
    struct Case {
        const char* name;
        HttpReply reply;
        DownloadResult result;
    } cases[] = {
        {"trickle of one byte per 50 ms", {"HTTP/1.0 200 OK\r\nContent-Length: 200\r\n\r\n", 200, false, false, 50},
         DownloadResult::Incomplete},
        {"trickle without length", {"HTTP/1.0 200 OK\r\n\r\n", 200, false, false, 50}, DownloadResult::Incomplete},
        {"Content-Length above the cap", {"HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n", 5000},
         DownloadResult::TooLarge},
        {"endless body without length", {"HTTP/1.0 200 OK\r\n\r\n", 1 << 20}, DownloadResult::TooLarge},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        put("sounds/a.ogg", "good copy");
        server.setReply(c.reply);
        EXPECT_EQ(downloadFileFrom(downloadEndpoint(), filesRoot(), "sounds/a.ogg"), c.result);
        EXPECT_EQ(read("sounds/a.ogg"), "good copy");
        EXPECT_EQ(fileCount(), 1);
    }
    // At the cap exactly is still a file.
    server.setReply(ok(std::string(1000, 'x')));
    EXPECT_EQ(downloadFileFrom(downloadEndpoint(), filesRoot(), "sounds/a.ogg"), DownloadResult::Written);
}

// Closing the client cancels a download in progress: it ends at once and
// its ".part" file is removed; later downloads are refused until reset.
TEST_F(Download, CancelEndsADownloadAndRemovesItsPart) {
    changeEndpoint([](DownloadEndpoint& ep) { ep.idleTimeoutMs = 30000; });
    put("sounds/a.ogg", "good copy");
    server.setReply({"HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nhalf", 0, true});
    std::atomic<bool> partSeen{false};
    std::thread closer([&] {
        for (int i = 0; i < 100 && !partSeen; ++i) {
            partSeen = std::filesystem::exists(path("sounds/a.ogg.part"));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        cancelDownloads(true);
    });
    EXPECT_EQ(downloadFileFrom(downloadEndpoint(), filesRoot(), "sounds/a.ogg"), DownloadResult::Cancelled);
    closer.join();
    EXPECT_TRUE(partSeen);
    EXPECT_EQ(read("sounds/a.ogg"), "good copy");
    EXPECT_EQ(fileCount(), 1);
    size_t asked = server.requests().size();
    EXPECT_EQ(downloadFile("sounds/a.ogg"), 0);
    EXPECT_EQ(server.requests().size(), asked);
    cancelDownloads(false);
}

// Two downloads at once (two connections' dispatch threads) of one target
// take turns: the second starts its own exchange once the first is over, and
// the file is the second's, whole.  Downloads of other targets go on side by
// side.
TEST_F(Download, DownloadsOfOneTargetTakeTurns) {
    server.setConcurrent(true);
    struct Case {
        const char* what;
        const char* second;
        std::vector<std::string> log;
    } cases[] = {
        {"same target", "sounds/a.ogg",
         {"GET /autodl/sounds/a.ogg", "end /autodl/sounds/a.ogg", "GET /autodl/sounds/a.ogg",
          "end /autodl/sounds/a.ogg"}},
        {"another target", "sounds/b.ogg",
         {"GET /autodl/sounds/a.ogg", "GET /autodl/sounds/b.ogg", "end /autodl/sounds/b.ogg",
          "end /autodl/sounds/a.ogg"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(dir / "sounds");
        const size_t logged = server.log().size();
        // The first: 10 bytes at once, then 40, one every 25 ms.
        server.queueReply({"HTTP/1.0 200 OK\r\nContent-Length: 50\r\n\r\n" + std::string(10, 'A'), 40, false,
                           false, 25});
        server.queueReply(ok(std::string(50, 'B')));
        DownloadResult first = DownloadResult::Refused;
        std::thread t([&] { first = downloadFileFrom(downloadEndpoint(), filesRoot(), "sounds/a.ogg"); });
        for (int i = 0; i < 500 && server.log().size() == logged; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const DownloadResult second = downloadFileFrom(downloadEndpoint(), filesRoot(), c.second);
        t.join();
        EXPECT_EQ(first, DownloadResult::Written);
        EXPECT_EQ(second, DownloadResult::Written);
        const std::vector<std::string> log = server.log();
        EXPECT_EQ(std::vector<std::string>(log.begin() + static_cast<long>(logged), log.end()), c.log);
        if (std::string(c.second) == "sounds/a.ogg") {
            EXPECT_EQ(read("sounds/a.ogg"), std::string(50, 'B'));
            EXPECT_EQ(fileCount(), 1);
        } else {
            EXPECT_EQ(read("sounds/a.ogg"), std::string(10, 'A') + std::string(40, '\0'));
            EXPECT_EQ(read("sounds/b.ogg"), std::string(50, 'B'));
            EXPECT_EQ(fileCount(), 2);
        }
    }
}

// The temporary file is a new file of the download's own: whatever already
// has the usual temporary name (a link planted there, another client's
// download in the same folder) is neither written through nor removed.
TEST_F(Download, AnythingInTheWayOfTheTemporaryFileIsLeftAlone) {
    struct Case {
        const char* what;
        bool link;
    } cases[] = {{"a link to another file", true}, {"another download's file", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir / "sounds");
        put("victim", "precious");
        if (c.link)
            std::filesystem::create_symlink(path("victim"), path("sounds/a.ogg.part"));
        else
            put("sounds/a.ogg.part", "half of another copy");
        server.setReply(ok("new"));
        EXPECT_EQ(downloadFileFrom(downloadEndpoint(), filesRoot(), "sounds/a.ogg"), DownloadResult::Written);
        EXPECT_EQ(read("victim"), "precious");
        EXPECT_FALSE(std::filesystem::is_symlink(path("sounds/a.ogg")));
        EXPECT_EQ(read("sounds/a.ogg"), "new");
        EXPECT_EQ(std::filesystem::is_symlink(path("sounds/a.ogg.part")), c.link);
        if (!c.link) {
            EXPECT_EQ(read("sounds/a.ogg.part"), "half of another copy");
        }
        EXPECT_EQ(fileCount(), 3);
    }
}

// With every temporary name taken (leftovers of crashes, other clients),
// the file counts as not writable: nothing is written over them, and the
// next free name is used once one goes.
TEST_F(Download, PastTheTemporaryNamesTheFileIsNotWritable) {
    std::filesystem::create_directories(dir / "sounds");
    put("sounds/a.ogg.part", "leftover");
    for (int i = 1; i < kTemporaryNames; ++i) put("sounds/a.ogg." + std::to_string(i) + ".part", "leftover");
    server.setReply(ok("new"));
    EXPECT_EQ(downloadFileFrom(downloadEndpoint(), filesRoot(), "sounds/a.ogg"), DownloadResult::WriteFailed);
    EXPECT_FALSE(std::filesystem::exists(path("sounds/a.ogg")));
    EXPECT_EQ(fileCount(), kTemporaryNames);
    std::filesystem::remove(path("sounds/a.ogg.7.part"));
    EXPECT_EQ(downloadFileFrom(downloadEndpoint(), filesRoot(), "sounds/a.ogg"), DownloadResult::Written);
    EXPECT_EQ(read("sounds/a.ogg"), "new");
    EXPECT_FALSE(std::filesystem::exists(path("sounds/a.ogg.7.part")));
}

TEST_F(Download, NamesOutsideTheFolderAreRefusedUnsent) {
    put("keep.ogg", "kept");
    server.setReply(ok("evil"));
    for (const char* name : {"/etc/passwd", "../keep.ogg", "sounds/../../x.ogg", "C:/x.ogg", "c:x.ogg",
                             "sounds\\x.ogg", "", "sounds//x.ogg", "./x.ogg", "sounds/", "x\n.ogg",
                             "../evil.dll",
                             // Windows devices, whatever the folder, case or extension.
                             "sounds/nul.ogg", "NUL", "sounds/Com1.ogg", "lpt9.dll", "aux .txt",
                             "con/x.ogg", "CONOUT$", "prn.tar.gz", "com\xB9.ogg"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(isSafeRelativeName(downloadNames(name).local) && isSafeRelativeName(downloadNames(name).remote));
        EXPECT_EQ(downloadFileFrom(downloadEndpoint(), filesRoot(), name), DownloadResult::Refused);
        EXPECT_EQ(downloadFile(name), 0);
    }
    EXPECT_TRUE(server.requests().empty());
    EXPECT_EQ(read("keep.ogg"), "kept");
    EXPECT_EQ(fileCount(), 1);
    for (const char* name : {"a.ogg", "sounds/x y/a..b.ogg", ".hidden", "ext/tool.dll", "null.ogg",
                             "sounds/console.ogg", "com10.ogg", "xnul.ogg", "lpt.ogg"})
        EXPECT_TRUE(isSafeRelativeName(name)) << name;
}

TEST_F(Download, UnwritableTargetSaysSoAndKeepsGoing) {
    put("sounds", "a file where the folder should be");
    server.setReply(ok("data"));
    RecordingDiag diag;
    ::testing::internal::CaptureStdout();
    DownloadResult r = downloadFileFrom(downloadEndpoint(), filesRoot(), "sounds/a.ogg");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(diag.take(), "Failed to open file\r\n");
    EXPECT_EQ(r, DownloadResult::WriteFailed);
    EXPECT_EQ(downloadFile("sounds/a.ogg"), 1);
    EXPECT_EQ(read("sounds"), "a file where the folder should be");
}

TEST_F(Download, NoServerMeansNoExchange) {
    int port = 0;
    SocketHandle l = sockListenLoopback(0, &port);
    sockClose(l);  // a port nobody listens on
    changeEndpoint([&](DownloadEndpoint& ep) { ep.port = port; });
    EXPECT_EQ(downloadFileFrom(downloadEndpoint(), filesRoot(), "a.ogg"), DownloadResult::NoConnection);
    EXPECT_EQ(downloadFile("a.ogg"), 0);
    changeEndpoint([](DownloadEndpoint& ep) { ep.host = "name.invalid"; });
    EXPECT_EQ(downloadFileFrom(downloadEndpoint(), filesRoot(), "a.ogg"), DownloadResult::NoHost);
    EXPECT_EQ(fileCount(), 0);
}

// The reader gives the same body and state however the bytes are split.
TEST(HttpReader, SplitAnywhere) {
    const std::string resp = "HTTP/1.0 200 OK\r\nX: y\r\nContent-Length: 6\r\n\r\nab\r\n\r\ncd";
    for (size_t a = 0; a <= resp.size(); a++)
        for (size_t b = a; b <= resp.size(); b++) {
            HttpReader r;
            std::string body;
            body += httpFeed(&r, std::string_view(resp).substr(0, a));
            body += httpFeed(&r, std::string_view(resp).substr(a, b - a));
            body += httpFeed(&r, std::string_view(resp).substr(b));
            ASSERT_EQ(body, "ab\r\n\r\n") << a << "," << b;
            ASSERT_EQ(r.state, HttpState::Complete);
            ASSERT_EQ(r.status, 200);
            ASSERT_TRUE(httpBodyComplete(r));
        }
}

TEST(HttpReader, Heads) {
    struct Case {
        std::string bytes;
        HttpState state;
        int status;
        int64_t length;
    } cases[] = {
        {"HTTP/1.1 404 Not Found\r\n\r\n", HttpState::Body, 404, -1},
        {"HTTP/1.0 200\r\n\r\n", HttpState::Body, 200, -1},
        {"HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n", HttpState::Complete, 200, 0},
        {"HTTP/1.0 200 OK\r\nContent-Length: 2\r\nContent-Length: 2\r\n\r\n", HttpState::Body, 200, 2},
        {"HTTP/1.0 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\n", HttpState::Malformed, 200, 2},
        {"HTTP/1.0 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n", HttpState::Malformed, 200, -1},
        {"HTTP/1.0 20x OK\r\n\r\n", HttpState::Malformed, 0, -1},
        {"HTTP/1.0 2000\r\n\r\n", HttpState::Malformed, 0, -1},
        {"HTTP/1.0 200 OK\r\n", HttpState::Head, 0, -1},
        {"HTTP/1.0 200 OK\r\n" + std::string(kHttpMaxHead, 'x'), HttpState::Malformed, 0, -1},
    };
    for (const Case& c : cases) {
        HttpReader r;
        httpFeed(&r, c.bytes);
        EXPECT_EQ(r.state, c.state) << c.bytes.substr(0, 60);
        EXPECT_EQ(r.status, c.status) << c.bytes.substr(0, 60);
        EXPECT_EQ(r.contentLength, c.length) << c.bytes.substr(0, 60);
    }
}
}  // namespace
