#include "files/newversion.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <mutex>

#include "files_fixture.h"
#include "platform/clock.h"
#include "platform/shell.h"
#include "speech/record/record_backend.h"
#include "speech/speech.h"
#include "support/recording_ui.h"

namespace {
struct RecordingShell : ShellSeam {
    std::mutex mu;
    std::vector<std::string> calls;
    bool openAddress(const std::string& a) override {
        std::lock_guard<std::mutex> l(mu);
        calls.push_back("open " + a);
        return true;
    }
    bool executeFile(const std::string& p) override {
        std::lock_guard<std::mutex> l(mu);
        calls.push_back("execute " + p);
        return true;
    }
};

const char kRequired[] =
    "Une nouvelle version du client est disponible.\r\n"
    "Cette mise \xE0 jour est obligatoire pour pouvoir continuer \xE0 jouer.\r\n"
    "Voulez-vous la t\xE9l\xE9" "charger et l'installer maintenant ?";
const char kOptional[] =
    "Une nouvelle version du client est disponible.\r\n"
    "Voulez-vous la t\xE9l\xE9" "charger et l'installer maintenant ?";

class NewVersion : public FilesFixture {
protected:
    void SetUp() override {
        FilesFixture::SetUp();
        setShell(&shellRec);
        setClock(&clock);
        speechReset();
        setSpeechBackend(&speech);
    }
    void TearDown() override {
        speechReset();
        setClock(nullptr);
        setShell(nullptr);
        FilesFixture::TearDown();
    }
    RecordingShell shellRec;
    FakeClock clock;
    RecordingSpeech speech;
};

TEST_F(NewVersion, Answers) {
    const int yes = 6, no = 7;
    struct Case {
        const char* name;
        bool required;
        int answer;
        const char* prompt;
        bool fetches, quits;
    } cases[] = {
        {"setup.exe", false, no, kOptional, false, false},
        {"setup.exe", false, yes, kOptional, true, true},
        {"setup.exe", true, no, kRequired, false, true},
        {"setup.exe", true, yes, kRequired, true, true},
        {"setup.exe", false, 2, kOptional, false, false},  // a closed box counts as No
        // A name outside the program folder is never fetched nor started,
        // but the player hears the usual progress and the client closes.
        {"../setup.exe", false, yes, kOptional, false, true},
        {"../setup.exe", true, no, kRequired, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.required) + " " +
                     std::to_string(c.answer));
        const bool yesAnswer = c.answer == yes;
        RecordingUi ui;
        ui.messageBoxAnswer = c.answer;
        server.setReply(ok("installer"));
        std::filesystem::remove(path("setup.exe"));
        shellRec.calls.clear();
        speech.clear();
        size_t requests = server.requests().size();
        int64_t slept = clock.sleptMs();

        downloadNewVersion(c.name, c.required);

        ASSERT_EQ(ui.messageBoxes().size(), 1u);
        EXPECT_EQ(ui.messageBoxes()[0].text, c.prompt);
        EXPECT_EQ(ui.messageBoxes()[0].title, "Nouvelle version");
        EXPECT_EQ(ui.messageBoxes()[0].flags, 0x34u);
        EXPECT_EQ(server.requests().size() - requests, c.fetches ? 1u : 0u);
        if (yesAnswer) {
            EXPECT_EQ(speech.lines(),
                      (std::vector<SpokenLine>{
                          {"T\xE9l\xE9" "chargement du programme d'installation en cours...", true},
                          {"T\xE9l\xE9" "chargement termin\xE9", true}}));
        } else {
            EXPECT_TRUE(speech.lines().empty());
        }
        if (c.fetches) {
            EXPECT_EQ(read("setup.exe"), "installer");
            // Handed to the shell by its absolute name.
            EXPECT_EQ(shellRec.calls, std::vector<std::string>{"execute " + path("setup.exe")});
        } else {
            EXPECT_TRUE(shellRec.calls.empty());
            EXPECT_EQ(read("setup.exe"), "<missing>");
        }
        EXPECT_EQ(clock.sleptMs() - slept, c.quits ? 1000 : 0);
        using Beeps = std::vector<std::pair<int, int>>;
        const Beeps beeps = c.quits ? Beeps{{131, 60}} : Beeps{};
        EXPECT_EQ(ui.beeps(), beeps);
        EXPECT_EQ(ui.quits(), c.quits ? std::vector<int>{0} : std::vector<int>{});
    }
}

// Only the file this download has just written is started: after a failed
// download an older file of that name (here the configuration, with its
// password) is left alone, and the client still closes.
TEST_F(NewVersion, AFailedDownloadStartsNothing) {
    struct Case {
        const char* what;
        HttpReply reply;
    } cases[] = {
        {"not found", {"HTTP/1.0 404 Not Found\r\nContent-Length: 3\r\n\r\nnon"}},
        {"cut short", {"HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nshort"}},
        {"no head", {"garbage"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingUi ui;
        ui.messageBoxAnswer = 6;
        put("config-debug.ini", "password=secret\n");
        server.setReply(c.reply);
        shellRec.calls.clear();
        downloadNewVersion("config-debug.ini", false);
        EXPECT_TRUE(shellRec.calls.empty());
        EXPECT_EQ(read("config-debug.ini"), "password=secret\n");
        EXPECT_EQ(ui.quits(), std::vector<int>{0});
    }
    changeEndpoint([](DownloadEndpoint& ep) { ep.port = 1; });  // nothing listens: no connection
    RecordingUi ui;
    ui.messageBoxAnswer = 6;
    shellRec.calls.clear();
    downloadNewVersion("config-debug.ini", false);
    EXPECT_TRUE(shellRec.calls.empty());
}

// A name with text after ".dll" fetches "<stem>.dle" into "<stem>.dll": that
// file, the one the download wrote, is the one started, never a file of the
// whole given name that was already in the folder.
TEST_F(NewVersion, StartsExactlyTheFileTheDownloadWrote) {
    RecordingUi ui;
    ui.messageBoxAnswer = 6;
    put("x.dllfoo", "an older program");
    server.setReply(ok("installer"));
    downloadNewVersion("x.dllfoo", false);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].substr(0, server.requests()[0].find("\r\n")), "GET /autodl/x.dle HTTP/1.0");
    EXPECT_EQ(read("x.dll"), "installer");
    EXPECT_EQ(read("x.dllfoo"), "an older program");
    EXPECT_EQ(shellRec.calls, std::vector<std::string>{"execute " + path("x.dll")});
}

// What the shell is given in the client, where names are relative to the
// working directory (the program folder): absolute paths, and for a file
// without an execute bit the URI the desktop's handler understands.
TEST_F(NewVersion, ShellGetsAbsoluteNames) {
    put("setup.run", "#!/bin/sh\n");
    ::chmod(path("setup.run").c_str(), 0755);
    put("mise \xE0 jour.sh", "#!/bin/sh\n");
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    setFilesRoot("");
    execute("setup.run");
    execute("mise \xE0 jour.sh");
    execute("../outside.run");  // never started
    std::filesystem::current_path(before);
    const std::string abs = std::filesystem::canonical(dir).string();
    // Whether the file is a program is the shell's to decide (the desktop's
    // shell runs it or opens it with the default program).
    EXPECT_EQ(shellRec.calls, (std::vector<std::string>{"execute " + abs + "/setup.run",
                                                        "execute " + abs + "/mise \xE0 jour.sh"}));
}

// After the update the client closes as when the player closes the main
// window (which says "quit" to the server), on the UI thread, after the beep.
TEST_F(NewVersion, ClosesThroughTheMainWindowClose) {
    struct ClosingUi : RecordingUi {
        std::atomic<int> closes{0}, closesOnUi{0};
        std::atomic<size_t> beepsBefore{0};
        void closeClient() override {
            closes++;
            if (isUiThread()) closesOnUi++;
            beepsBefore = beeps().size();
        }
    } recording;
    recording.messageBoxAnswer = 7;
    downloadNewVersion("setup.exe", true);
    EXPECT_EQ(recording.closes, 1);
    EXPECT_EQ(recording.closesOnUi, 1);
    EXPECT_EQ(recording.beepsBefore, 1u);
    EXPECT_TRUE(recording.quits().empty());  // the close itself ends the loop
}

TEST_F(NewVersion, NoWindowRequiredStillCloses) {
    // Null UI: the question cannot be shown; a required update still ends
    // the session (through the quit request, which the null UI ignores).
    downloadNewVersion("setup.exe", true);
    EXPECT_TRUE(server.requests().empty());
    EXPECT_EQ(clock.sleptMs(), 1000);
    downloadNewVersion("setup.exe", false);
    EXPECT_EQ(clock.sleptMs(), 1000);
}
}  // namespace
