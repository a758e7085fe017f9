#include "files/checkfiles.h"

#include <gtest/gtest.h>
#include <utime.h>

#include "files_fixture.h"
#include "history/history.h"
#include "speech/record/record_backend.h"
#include "speech/speech.h"
#include "support/recording_ui.h"

namespace {
TEST(CheckList, Tokens) {
    struct Case {
        const char* payload;
        std::vector<std::pair<std::string, uint64_t>> entries;
    } cases[] = {
        {"", {}},
        {"   ", {}},
        {"a b", {{"a", 1}, {"b", 1}}},
        {"+5000 a  b", {{"a", 5000}, {"b", 1}}},
        {"+ a", {{"a", 0}}},
        {"+12x3 a", {{"a", 12}}},
        {"+18446744073709551615 a", {{"a", UINT64_MAX}}},
        {"+18446744073709551616 a", {{"a", 0}}},  // wraps
        {"+1 +2 a", {{"a", 2}}},
        {"a +7", {{"a", 1}}},  // trailing date: no effect
        {"a\tb", {{"a\tb", 1}}},
    };
    for (const Case& c : cases) {
        std::vector<std::pair<std::string, uint64_t>> got;
        for (const CheckEntry& e : parseCheckList(c.payload)) got.emplace_back(e.name, e.date);
        EXPECT_EQ(got, c.entries) << c.payload;
    }
}

TEST(CheckList, FileTimeConversion) {
    EXPECT_EQ(ft2ms(116444736000000000ULL), 0u);
    EXPECT_EQ(ft2ms(116444736000000000ULL + 50000000ULL), 5000u);
    EXPECT_EQ(ft2ms(116444736000000000ULL - 10000ULL), 1844674407370954u);  // before 1970 wraps
}

class CheckFiles : public FilesFixture {
protected:
    void SetUp() override {
        FilesFixture::SetUp();
        speechReset();
        setSpeechBackend(&speech);
        server.setReply(ok("new"));
    }
    void TearDown() override {
        speechReset();
        FilesFixture::TearDown();
    }
    void putAt(const std::string& rel, int64_t mtime) {
        put(rel, "old");
        utimbuf t{static_cast<time_t>(mtime), static_cast<time_t>(mtime)};
        ASSERT_EQ(::utime(path(rel).c_str(), &t), 0);
    }
    std::vector<std::string> history() {
        std::vector<std::string> out;
        for (int i = 0; i < historyCounts().length; i++) out.push_back(historyAt(i));
        return out;
    }
    std::vector<std::string> spoken() {
        std::vector<std::string> out;
        for (const SpokenLine& l : speech.lines())
            out.push_back((l.interrupt ? "interrupt " : "") + l.text);
        return out;
    }
    // The main window, active unless a test says otherwise: the history
    // speaks a message only then (or when told to speak it always).
    RecordingUi ui;
    RecordingSpeech speech;
};

TEST_F(CheckFiles, FileTimes) {
    putAt("a.ogg", 4999);
    EXPECT_EQ(fileTimesMs(path("a.ogg"), 2), 4999u);
    EXPECT_EQ(fileTimesMs(path("missing.ogg"), 2), 0u);
    EXPECT_EQ(fileTimesMs(dir.string(), 2), 0u);  // a folder is no file
    putAt("old.ogg", -10);
    // Wrapped: far beyond any real date (year 50000 and more).
    EXPECT_GT(fileTimesMs(path("old.ogg"), 2), 1000000000000u);
}

TEST_F(CheckFiles, Freshness) {
    struct Case {
        const char* name;
        const char* payload;
        std::vector<std::pair<const char*, int64_t>> local;  // file, last write (s)
        std::vector<std::string> fetched;
    } cases[] = {
        {"missing", "sounds/a.ogg", {}, {"sounds/a.ogg"}},
        {"present, no date", "sounds/a.ogg", {{"sounds/a.ogg", 100}}, {}},
        {"older", "+5000 sounds/a.ogg", {{"sounds/a.ogg", 4999}}, {"sounds/a.ogg"}},
        {"equal is fresh", "+5000 sounds/a.ogg", {{"sounds/a.ogg", 5000}}, {}},
        {"date for one file only", "+5000 sounds/a.ogg sounds/b.ogg",
         {{"sounds/a.ogg", 10}, {"sounds/b.ogg", 10}}, {"sounds/a.ogg"}},
        {"date 0, missing", "+0 sounds/a.ogg", {}, {}},
        {"empty", "", {}, {}},
        {"trailing date", "+9 ", {}, {}},
        {"before 1970 never fetched", "+4102444800 a.ogg", {{"a.ogg", -5}}, {}},
        {"library name checked as written", "+5000 x.dll.v2", {{"x.dll", 6000}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        historyReset();
        speech.clear();
        for (auto& [f, t] : c.local) putAt(f, t);
        size_t before = server.requests().size();
        checkFiles(c.payload);
        std::vector<std::string> expectHistory;
        for (const std::string& f : c.fetched) {
            expectHistory.push_back("T\xE9l\xE9" "chargement de " + f + "...");
            expectHistory.push_back("T\xE9l\xE9" "chargement de " + f + " termin\xE9.");
            EXPECT_EQ(read(f), "new");
        }
        EXPECT_EQ(history(), expectHistory);
        // Both announcements are spoken as well, queued behind other speech.
        EXPECT_EQ(spoken(), expectHistory);
        EXPECT_EQ(server.requests().size() - before, c.fetched.size());
    }
}

// The announcements are ordinary spoken messages: while the player is in
// another window they are stored but not spoken.
TEST_F(CheckFiles, AnnouncementsFollowTheWindow) {
    ui.active = false;
    checkFiles("a.ogg");
    EXPECT_EQ(history().size(), 2u);
    EXPECT_TRUE(spoken().empty());
}

// A failed or refused download still gets both messages, and the list goes on.
TEST_F(CheckFiles, FailuresAnnouncedLikeSuccess) {
    checkFiles("../escape.ogg next.ogg");
    EXPECT_EQ(history(), (std::vector<std::string>{
                             "T\xE9l\xE9" "chargement de ../escape.ogg...",
                             "T\xE9l\xE9" "chargement de ../escape.ogg termin\xE9.",
                             "T\xE9l\xE9" "chargement de next.ogg...",
                             "T\xE9l\xE9" "chargement de next.ogg termin\xE9.",
                         }));
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(dir.parent_path() / "escape.ogg"));
    EXPECT_EQ(read("next.ogg"), "new");
}
}  // namespace
