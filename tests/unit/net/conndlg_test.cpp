#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>

#include "net/config.h"
#include "net/conndlg.h"
#include "platform/shell.h"
#include "platform/ui.h"

namespace {

// Records what the dialog asks of the front-end and the shell.  Without a
// main window loop the UI-thread call runs the task at once, as it does when
// called on the UI thread itself.
struct DialogDoubles : UiSeam, ShellSeam {
    std::vector<std::string> titles, addresses;
    std::vector<int> quits;
    bool runOnUiThread(const std::function<void()>& task) override {
        task();
        return true;
    }
    bool isUiThread() const override { return true; }
    void setTitle(const std::string& t) override { titles.push_back(t); }
    void requestQuit(int status) override { quits.push_back(status); }
    bool openAddress(const std::string& a) override {
        addresses.push_back(a);
        return true;
    }
};

servinfo entry(const char* name, std::optional<std::string> login,
               std::optional<std::string> password) {
    servinfo s;
    s.name = name;
    s.host = "h";
    s.port = 1;
    s.login = std::move(login);
    s.password = std::move(password);
    s.createAccountPage = std::string("http://") + name + "/register.php";
    s.lostPasswordPage = std::string("http://") + name + "/lostpassword.php";
    return s;
}

struct ConnDlg : ::testing::Test {
    DialogDoubles doubles;
    int started = 0;
    const std::vector<servinfo>& servers = serverList();
    // Replaces the list and the selected index, as a loaded file does.
    static void useServers(std::vector<servinfo> list, unsigned serverIndex) {
        Settings s = currentSettings();
        s.serverIndex = serverIndex;
        applySettings(s, std::move(list));
    }
    static unsigned serverIndex() { return currentSettings().serverIndex; }
    void SetUp() override {
        started = 0;
        resetConfig();
        useServers({entry("Un", "alice", "motdepasse"), entry("Deux", std::nullopt, std::nullopt),
                    entry("Trois", "carol", "pw12")},
                   0);
        setUi(&doubles);
        setShell(&doubles);
        setConnectionStarter([this] { ++started; });
    }
    void TearDown() override {
        connDlgReset();
        setShell(nullptr);
        setUi(nullptr);
        resetConfig();
    }
};

}  // namespace

TEST_F(ConnDlg, OpeningFillsFromTheList) {
    struct Case {
        unsigned serverIndex;
        size_t nServers;
        int selection;
        const char* login;
        const char* password;
    };
    const Case cases[] = {
        {0, 3, 0, "alice", "motdepasse"},
        {1, 3, 1, "", ""},  // absent credentials show empty
        {2, 3, 2, "carol", "pw12"},
        {3, 3, -1, "", ""},  // index beyond the list: no selection
        {0, 0, -1, "", ""},  // empty list: no selection
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.serverIndex);
        SetUp();
        std::vector<servinfo> list = servers;
        list.resize(c.nServers);
        useServers(list, c.serverIndex);
        ConnDialog d = connDlgOpen();
        EXPECT_EQ(d.serverNames.size(), c.nServers);
        EXPECT_EQ(d.selection, c.selection);
        EXPECT_EQ(d.login, c.login);
        EXPECT_EQ(d.password, c.password);
        EXPECT_EQ(d.focus, ConnDlgControl::Login);
        EXPECT_TRUE(d.open);
    }
    SetUp();
    EXPECT_EQ(connDlgOpen().serverNames, (std::vector<std::string>{"Un", "Deux", "Trois"}));
}

TEST_F(ConnDlg, SelectionChangeReplacesTypedCredentials) {
    ConnDialog d = connDlgOpen();
    d.login = "typed";
    d.password = "typed too";
    connDlgSelectionChanged(&d, 2);
    EXPECT_EQ(d.selection, 2);
    EXPECT_EQ(d.login, "carol");
    EXPECT_EQ(d.password, "pw12");
    connDlgSelectionChanged(&d, 1);
    EXPECT_EQ(d.login, "");
    EXPECT_EQ(d.password, "");
    connDlgSelectionChanged(&d, 7);
    EXPECT_EQ(d.selection, -1);
}

TEST_F(ConnDlg, ConnectNeedsFourCharactersAndAnEntry) {
    struct Case {
        int selection;
        const char* login;
        const char* password;
        bool connects;
    };
    const Case cases[] = {
        {2, "abc", "longenough", false},  // 3-character login
        {2, "abcd", "abc", false},        // 3-character password
        {2, "", "", false},
        {-1, "abcd", "efgh", false},      // nothing selected: nothing happens
        {2, "abcd", "efgh", true},        // exactly 4 each
        {1, "d\xE9j\xE0", "\xE9t\xE9!", true},  // CP1252 letters count one each
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.login);
        SetUp();
        ConnDialog d = connDlgOpen();
        d.selection = c.selection;
        d.login = c.login;
        d.password = c.password;
        d.focus = ConnDlgControl::Connect;
        const std::vector<servinfo> before = servers;
        EXPECT_EQ(connDlgConnect(&d), c.connects);
        EXPECT_EQ(started, c.connects ? 1 : 0);
        EXPECT_EQ(d.open, !c.connects);
        if (!c.connects) {
            EXPECT_EQ(serverIndex(), 0u);
            EXPECT_EQ(servers, before);
            // Short texts send the focus back to the login; a missing entry
            // changes nothing at all.
            EXPECT_EQ(d.focus, c.selection < 0 ? ConnDlgControl::Connect : ConnDlgControl::Login);
        } else {
            EXPECT_EQ(d.result, 1);
            EXPECT_EQ(serverIndex(), static_cast<unsigned>(c.selection));
            EXPECT_EQ(servers[static_cast<size_t>(c.selection)].login, c.login);
            EXPECT_EQ(servers[static_cast<size_t>(c.selection)].password, c.password);
        }
    }
}

TEST_F(ConnDlg, CredentialsAreCutTo63Characters) {
    // As the fields read them; 63 characters stay whole.
    ConnDialog d = connDlgOpen();
    d.login = std::string(100, 'l');
    d.password = std::string(63, 'p');
    ASSERT_TRUE(connDlgConnect(&d));
    EXPECT_EQ(*servers[0].login, std::string(63, 'l'));
    EXPECT_EQ(*servers[0].password, std::string(63, 'p'));
}

// A connection series reads the selected entry on its own thread (the
// connecting thread, or a receive thread reconnecting) while the UI thread
// may write the list: each copy it takes is one whole entry, whose password
// goes with its login.
TEST_F(ConnDlg, ASeriesReadsTheEntryWholeWhileConnectWritesIt) {
    auto connect = [](int i) {
        ConnDialog d = connDlgOpen();
        connDlgSelectionChanged(&d, i % 3);
        d.login = "user" + std::to_string(i);
        d.password = d.login + "-pw";
        return connDlgConnect(&d);
    };
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(connect(i));
    std::atomic<bool> writing{true};
    std::atomic<int> copies{0}, torn{0};
    std::thread series([&] {
        while (writing || copies < 1000) {
            std::optional<servinfo> s = selectedServerCopy();
            if (!s || !s->login || !s->password || *s->password != *s->login + "-pw") ++torn;
            ++copies;
        }
    });
    int refused = 0;
    for (int i = 3; i < 2000 || copies < 1000; ++i) refused += !connect(i);
    writing = false;
    series.join();
    EXPECT_EQ(refused, 0);
    EXPECT_EQ(torn, 0);
}

TEST_F(ConnDlg, ShowSetsTheTitleInEveryCase) {
    // Connect on another entry: the title names the new login at once,
    // before any login exchange.
    showConnectionDialog([](ConnDialog* d) {
        connDlgSelectionChanged(d, 1);
        d->login = "newuser";
        d->password = "secret";
        connDlgConnect(d);
    });
    // Cancel: the application quits with 0; the title still shows the
    // remembered login of the selected entry.
    showConnectionDialog([](ConnDialog* d) { connDlgCancel(d); });
    useServers(servers, 9);
    showConnectionDialog([](ConnDialog*) {});
    EXPECT_EQ(doubles.titles,
              (std::vector<std::string>{"Le Kordo [newuser]", "Le Kordo [newuser]", "Le Kordo []"}));
    EXPECT_EQ(doubles.quits, std::vector<int>{0});
    EXPECT_EQ(started, 1);
}

TEST_F(ConnDlg, PageButtonsOpenTheSelectedEntrysPages) {
    ConnDialog d = connDlgOpen();
    connDlgSelectionChanged(&d, 1);
    connDlgCreateAccount(d);
    connDlgLostPassword(d);
    std::vector<servinfo> list = servers;
    list[1].lostPasswordPage.reset();
    useServers(list, serverIndex());
    connDlgLostPassword(d);  // no page: nothing
    d.selection = -1;
    connDlgCreateAccount(d);  // no entry: nothing
    EXPECT_EQ(doubles.addresses, (std::vector<std::string>{"http://Deux/register.php",
                                                           "http://Deux/lostpassword.php"}));
}
