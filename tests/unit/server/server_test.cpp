// The practice server over loopback: login checks, the game's menus parsed
// by the client's own parser, the grid game, chat, keep-alive, malformed
// lines and the download area.  The server runs in-process on ephemeral
// ports; every wait is bounded.
#include "server.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "files/download.h"
#include "menu/audiomenu.h"
#include "net/login.h"
#include "platform/radix36.h"
#include "support/script_server.h"

namespace {

namespace fs = std::filesystem;

struct RunningServer {
    explicit RunningServer(ServerOptions o) : server(std::move(o)) {
        std::string error;
        started = server.start(&error);
        EXPECT_TRUE(started) << error;
        if (started) thread = std::thread([this] { server.run(); });
    }
    ~RunningServer() {
        server.stop();
        if (thread.joinable()) thread.join();
    }
    Server server;
    bool started = false;
    std::thread thread;
};

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("kordo-server-test-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        opt.port = 0;
        opt.httpPort = 0;
        opt.tryHttp80 = false;
        opt.accountsFile = (dir / "accounts.txt").string();
        opt.downloadDir = KORDO_TEST_AUTODL;
        setLoginClientId("k3x9");  // loginLine() sends it; the server requires one
    }
    void TearDown() override {
        srv.reset();
        fs::remove_all(dir);
    }
    void startServer() { srv = std::make_unique<RunningServer>(opt); }

    std::unique_ptr<ServerConn> connect(int port = 0) {
        uint32_t lo = htonl(INADDR_LOOPBACK);
        SocketHandle s = sockConnect(lo, port ? port : srv->server.port());
        EXPECT_NE(s, kNoSocket);
        return std::make_unique<ServerConn>(s);
    }

    // Logs in with the client's own login line; returns the status number
    // (or 99 when no status came).
    int login(ServerConn& c, const std::string& name, const std::string& password) {
        auto ch = c.readLine();
        if (!ch || !ch->starts_with("challenge ")) return 99;
        c.send(loginLine(ch->substr(10), name, password));
        return statusOf(c);
    }
    static int statusOf(ServerConn& c) {
        auto st = c.readLine();
        if (!st || !st->starts_with("status ")) return 99;
        return std::stoi(st->substr(7));
    }

    // Reads lines until one begins with `prefix`; that line, or "" after
    // the time-out.
    static std::string until(ServerConn& c, std::string_view prefix, std::vector<std::string>* seen = nullptr) {
        while (auto l = c.readLine(3000)) {
            if (seen) seen->push_back(*l);
            if (l->starts_with(prefix)) return *l;
        }
        return {};
    }

    std::unique_ptr<ServerConn> player(const std::string& name) {
        auto c = connect();
        EXPECT_EQ(login(*c, name, "secret"), 1) << name;
        EXPECT_FALSE(until(*c, "menu 1|").empty());
        return c;
    }

    fs::path dir;
    ServerOptions opt;
    std::unique_ptr<RunningServer> srv;
};

TEST_F(ServerTest, LoginChecksEachFieldAndTheChallengeResponse) {
    opt.bans = {"voyou"};
    startServer();
    ASSERT_TRUE(srv->started);
    auto response = [](const std::string& challenge, const std::string& name, const std::string& pw) {
        return toBase36(doChallenge(challenge, name, pw));
    };
    // Lines built by hand, so each field can be wrong on its own.
    auto build = [&](const std::string& name, const std::string& pw,
                     const std::string& proto, const std::string& lang, const std::string& cid,
                     const std::string& resp) {
        return "login " + name + "|" + pw + "|" + proto + "|" + lang + "|" + cid + "|" + resp + "\n";
    };
    struct Row {
        const char* what;
        const char* name;
        const char* proto;
        const char* lang;
        const char* cid;
        bool goodResponse;
        int status;
    };
    const Row rows[] = {
        {"good", "alice", "65545", "fr", "k3x9", true, 1},
        {"wrong response", "alice", "65545", "fr", "k3x9", false, -3},
        {"wrong protocol", "alice", "65544", "fr", "k3x9", true, -8},
        {"no language", "alice", "65545", "", "k3x9", true, -8},
        {"no client id", "alice", "65545", "fr", "", true, -8},
        {"unknown and too short to create", "bob", "65545", "fr", "k3x9", true, -3},
        {"banned", "voyou", "65545", "fr", "k3x9", true, -4},
    };
    for (const Row& r : rows) {
        auto c = connect();
        auto ch = c->readLine();
        ASSERT_TRUE(ch && ch->starts_with("challenge ")) << r.what;
        std::string challenge = ch->substr(10);
        std::string resp = r.goodResponse ? response(challenge, r.name, "pw") : response("x" + challenge, r.name, "pw");
        c->send(build(r.name, "pw", r.proto, r.lang, r.cid, resp));
        EXPECT_EQ(statusOf(*c), r.status) << r.what;
        if (r.status <= 0) {
            EXPECT_TRUE(c->waitClosed(3000)) << r.what << ": refused login stays open";
        }
    }
    // A malformed login line (too few fields) is refused, not a crash.
    auto c = connect();
    c->readLine();
    c->send("login a|b\n");
    EXPECT_EQ(statusOf(*c), -8);
}

TEST_F(ServerTest, ChallengesDifferAndAccountsKeepTheirPasswordAcrossRestarts) {
    startServer();
    auto a = connect(), b = connect();
    auto ca = a->readLine(), cb = b->readLine();
    ASSERT_TRUE(ca && cb);
    EXPECT_NE(*ca, *cb);
    a.reset();
    b.reset();

    EXPECT_EQ(login(*connect(), "carole", "sésame"), 1);  // created
    EXPECT_EQ(login(*connect(), "carole", "autre"), -3);
    EXPECT_EQ(login(*connect(), "carole", "sésame"), 1);

    srv.reset();
    std::string saved;
    {
        std::ifstream f(opt.accountsFile);
        std::stringstream ss;
        ss << f.rdbuf();
        saved = ss.str();
    }
    EXPECT_NE(saved.find("carole|"), std::string::npos);
    EXPECT_EQ(saved.find("sésame"), std::string::npos) << "password kept in clear";
    startServer();
    EXPECT_EQ(login(*connect(), "carole", "autre"), -3);
    EXPECT_EQ(login(*connect(), "carole", "sésame"), 1);
}

TEST_F(ServerTest, UnreadableAccountsFileAndBusyPortAreClearErrors) {
    opt.accountsFile = dir.string();  // a folder
    Server s1(opt);
    std::string error;
    EXPECT_FALSE(s1.start(&error));
    EXPECT_NE(error.find("accounts file"), std::string::npos) << error;

    opt.accountsFile = (dir / "accounts.txt").string();
    startServer();
    opt.port = srv->server.port();
    Server s2(opt);
    error.clear();
    EXPECT_FALSE(s2.start(&error));
    EXPECT_NE(error.find("in use"), std::string::npos) << error;
}

TEST_F(ServerTest, MenusParseWithTheClientParserAndTheGridGameEnds) {
    startServer();
    auto c = connect();
    ASSERT_EQ(login(*c, "denise", "pw"), 1);
    std::vector<std::string> seen;
    std::string mainLine = until(*c, "menu ", &seen);
    ASSERT_FALSE(mainLine.empty());
    // Before the menu: the files check, the preload and the place's music.
    auto has = [&](std::string_view p) {
        return std::any_of(seen.begin(), seen.end(), [&](const std::string& l) { return l.starts_with(p); });
    };
    EXPECT_TRUE(has("checkfile +"));
    EXPECT_TRUE(has("preload menubounds"));
    EXPECT_TRUE(has("music mustart"));

    auto mainMenu = menu_create(std::string_view(mainLine).substr(5));
    ASSERT_EQ(mainMenu->id, 1);
    ASSERT_GE(mainMenu->nItems, 10);
    int morpion = -1;
    for (int i = 0; i < mainMenu->nItems; ++i) {
        const menuitem& it = mainMenu->items[i];
        ASSERT_TRUE(it.label && it.value && it.sound) << "item " << i;
        if (*it.value == "morpion") morpion = i;
    }
    ASSERT_GE(morpion, 0);

    c->send("select 1|" + std::to_string(morpion) + "|morpion\n");
    seen.clear();
    std::string gridLine = until(*c, "menu ", &seen);
    ASSERT_FALSE(gridLine.empty());
    auto grid = menu_create(std::string_view(gridLine).substr(5));
    EXPECT_EQ(grid->width, 3);
    ASSERT_EQ(grid->nItems, 9);
    for (int k = 0; k < 9; ++k) {
        // "case <volume> <2 + column> <pitch>": pan outside -1..1 is positional.
        std::istringstream spec(*grid->items[k].sound);
        std::string name;
        float vol = 0, pan = 0;
        spec >> name >> vol >> pan;
        EXPECT_EQ(pan, 2 + k % 3) << "cell " << k;
    }
    EXPECT_TRUE(has("music mujeu"));

    // Play the first free cell until the game ends; the grid model follows
    // the server's "uitem" lines, so an occupied cell is never chosen.
    std::string end;
    for (int move = 0; move < 5 && end.empty(); ++move) {
        int k = 0;
        while (k < 9 && grid->items[k].label->find("vide") == std::string::npos) ++k;
        ASSERT_LT(k, 9);
        c->send("select 2|" + std::to_string(k) + "|case" + std::to_string(k + 1) + "\n");
        int updates = 0;
        // The server's move ends with its "say"; a lost game's question
        // follows at once, so wait a little longer for it.
        int wait = 3000;
        while (auto l = c->readLine(wait)) {
            if (l->starts_with("uitem ")) {
                EXPECT_EQ(menu_updateitem(grid.get(), std::string_view(*l).substr(5)), 0) << *l;
                ++updates;
            }
            if (l->starts_with("msgbox 3|")) {
                end = *l;
                break;
            }
            if (l->starts_with("say Le serveur joue")) wait = 300;
        }
        EXPECT_GE(updates, 1);
    }
    ASSERT_FALSE(end.empty()) << "no end of game after five moves";
    // "No" to a new game closes the grid and brings the welcome music back.
    c->send("msgboxresp 3|7\n");
    EXPECT_EQ(c->readLine(), "close menu");
    EXPECT_EQ(c->readLine(), "music mustart");
}

TEST_F(ServerTest, ChatReachesOthersWithTheSenderNameWhoAndWhispers) {
    startServer();
    auto a = player("alice"), b = player("bruno"), d = player("denis");
    a->send("input 60003|Bonjour \xe0 tous\n");
    EXPECT_EQ(until(*b, "say alice"), "say alice : Bonjour \xe0 tous");
    EXPECT_EQ(until(*d, "say alice"), "say alice : Bonjour \xe0 tous");

    a->send("who\n");  // typed as "//who"
    std::string who = until(*a, "say Connect");
    for (const char* n : {"alice", "bruno", "denis"}) EXPECT_NE(who.find(n), std::string::npos) << who;

    a->send("@bruno psst\n");
    EXPECT_EQ(until(*b, "sayurg "), "sayurg alice vous chuchote : psst");
    // Denis gets nothing of the whisper: his next line is the answer to his
    // own request.
    d->send("input 60003|fin\n");
    EXPECT_EQ(until(*d, "say "), "say denis : fin");

    // A leaving player is gone from the list.
    d.reset();
    for (int tries = 0; tries < 30 && who.find("denis") != std::string::npos; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        a->send("who\n");
        who = until(*a, "say Connect");
    }
    EXPECT_EQ(who.find("denis"), std::string::npos) << who;
}

TEST_F(ServerTest, MalformedLinesAreIgnoredAndTheSessionGoesOn) {
    startServer();
    auto c = player("eliane");
    for (const char* l : {"", "select", "select x|y|z", "select 1", "kem", "kem a|b|c", "msgboxresp 1",
                          "msgboxresp 99|6", "input abc", "input 5|x", "dllqr", "key", "\xff\xfe\x01",
                          "select 999|0|x", "select 1|-1|-1", "select 1|55|nope", "uitem 1|a|b|c|d",
                          "login a|b|c|d|e|f"})
        c->send(std::string(l) + "\n");
    c->send(std::string(5000, 'z') + "\n");
    // Still served: the live menu opens and its counter updates in place.
    c->send("select 1|3|vivant\n");
    std::string live = until(*c, "menu 4|");
    ASSERT_FALSE(live.empty());
    auto m = menu_create(std::string_view(live).substr(5));
    c->send("select 4|1|ajouter\n");
    std::string add = until(*c, "uitem ");
    EXPECT_EQ(menu_updateitem(m.get(), std::string_view(add).substr(5)), m->nItems);
    c->send("select 4|0|compteur\n");
    std::string upd = until(*c, "uitem ");
    EXPECT_EQ(menu_updateitem(m.get(), std::string_view(upd).substr(5)), 0);
    EXPECT_EQ(*m->items[0].label, "Compteur : 1");
    c->send("select 4|2|retirer\n");
    std::string del = until(*c, "uitem ");
    EXPECT_LT(menu_updateitem(m.get(), std::string_view(del).substr(5)), 0);
    c->send("select 4|4|premier\n");
    EXPECT_EQ(until(*c, "movem"), "movem 4|0");
    // The about page is announced on the port the download area answers on.
    c->send("select 1|8|apropos\n");
    EXPECT_EQ(until(*c, "browse "),
              "browse http://localhost:" + std::to_string(srv->server.httpPort()) + "/about.php");
    // And another player can still log in.
    player("fanny");
}

TEST_F(ServerTest, FlagEightMenuAnswersKemKeysAndEscapeCloses) {
    startServer();
    auto c = player("gaston");
    c->send("select 1|2|touches\n");
    std::string keys = until(*c, "menu 3|");
    auto m = menu_create(std::string_view(keys).substr(5));
    EXPECT_TRUE(m->flags & MENU_KEY_CONTEXT);
    c->send("kem " + std::to_string(65 + 512) + "|3|1|poire\n");
    EXPECT_EQ(until(*c, "saynh "), "saynh Ctrl+A sur poire");
    c->send("kem 27|3|1|poire\n");
    EXPECT_EQ(until(*c, "close menu"), "close menu");
}

TEST_F(ServerTest, KeepAlivePingsAndSilentClientsAreDropped) {
    opt.pingMs = 100;
    opt.idleTimeoutMs = 1000;
    startServer();
    auto quiet = player("henri");
    auto talker = player("irene");
    EXPECT_EQ(until(*talker, "ping"), "ping");
    // irene answers every ping; henri says nothing and is dropped.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1800);
    while (std::chrono::steady_clock::now() < deadline)
        if (auto l = talker->readLine(100); l && *l == "ping") talker->send("pong\n");
    EXPECT_TRUE(quiet->waitClosed(3000));
    talker->send("who\n");
    EXPECT_NE(until(*talker, "say Connect").find("irene"), std::string::npos);
}

std::string httpGet(int port, const std::string& path) {
    SocketHandle s = sockConnect(htonl(INADDR_LOOPBACK), port);
    if (s == kNoSocket) return {};
    ServerConn c(s);
    c.send("GET " + path + " HTTP/1.0\r\nHost:localhost\r\nUser-Agent:test\r\n\r\n");
    std::string all;
    while (auto l = c.readLine(3000)) all += *l + "\n";
    return all;
}

std::string fileBytes(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::string bodyOf(const std::string& resp) {
    size_t at = resp.find("\r\n\r\n");
    return at == std::string::npos ? std::string() : resp.substr(at + 4);
}

TEST_F(ServerTest, DownloadAreaServesFilesTheDleRuleAndPages) {
    startServer();
    const int hp = srv->server.httpPort();
    const fs::path autodl = KORDO_TEST_AUTODL;
    // The last line of a binary body may lack "\n": readLine drops it, so
    // compare through a file with a known end only when it ends with "\n".
    std::string r = httpGet(hp, "/autodl/kordo-setup.sh");
    EXPECT_TRUE(r.starts_with("HTTP/1.0 200")) << r.substr(0, 40);
    EXPECT_NE(r.find("Last-Modified: "), std::string::npos);
    EXPECT_EQ(bodyOf(r), fileBytes(autodl / "kordo-setup.sh"));

    struct Row {
        const char* path;
        const char* status;
    } rows[] = {
        {"/autodl/sounds/item1.ogg", "HTTP/1.0 200"}, {"/autodl/kordoext.dle", "HTTP/1.0 200"},
        {"/about.php", "HTTP/1.0 200"},               {"/register.php", "HTTP/1.0 200"},
        {"/lostpassword.php", "HTTP/1.0 200"},        {"/autodl/../CMakeCache.txt", "HTTP/1.0 403"},
        {"/autodl/sounds/absent.ogg", "HTTP/1.0 404"}, {"/autre", "HTTP/1.0 404"},
    };
    for (const Row& row : rows) EXPECT_TRUE(httpGet(hp, row.path).starts_with(row.status)) << row.path;
    // "x.dle" is the library: its ELF header comes back.
    EXPECT_NE(httpGet(hp, "/autodl/kordoext.dle").find("\x7f" "ELF"), std::string::npos);
}

TEST_F(ServerTest, CheckfileDatesAreTheFilesLastWriteTimes) {
    startServer();
    auto c = connect();
    ASSERT_EQ(login(*c, "jules", "pw"), 1);
    std::string line = until(*c, "checkfile ");
    std::istringstream in(line.substr(10));
    std::string tok;
    long long date = -1;
    int files = 0;
    while (in >> tok) {
        if (tok[0] == '+') {
            date = std::stoll(tok.substr(1));
            continue;
        }
        // A name the client refuses (a Windows device such as "nul.ogg")
        // would be fetched again at every login and never stored.
        EXPECT_TRUE(isSafeRelativeName(tok)) << tok;
        struct stat st {};
        ASSERT_EQ(::stat((std::string(KORDO_TEST_AUTODL) + "/" + tok).c_str(), &st), 0) << tok;
        EXPECT_EQ(date, static_cast<long long>(st.st_mtime)) << tok;
        date = -1;
        ++files;
    }
    EXPECT_GE(files, 20);
    EXPECT_NE(line.find("sounds/mustart.ogg"), std::string::npos);
    EXPECT_NE(line.find("kordoext.so"), std::string::npos);
}

TEST(ServerExtension, ExportedFunctionAnswersTheDllqRequest) {
    void* h = dlopen(KORDO_TEST_AUTODL "/kordoext.so", RTLD_NOW);
    ASSERT_NE(h, nullptr) << dlerror();
    using Fn = const char* (*)(int32_t, const char*);
    auto fn = reinterpret_cast<Fn>(dlsym(h, "kordo_ext_query"));
    ASSERT_NE(fn, nullptr);
    EXPECT_STREQ(fn(7, "abc"), "requete 7, 3 octets, a l'envers : cba");
    EXPECT_STREQ(fn(1, nullptr), "requete 1, 0 octets, a l'envers : ");
    dlclose(h);
}

}  // namespace
