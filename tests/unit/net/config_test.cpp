#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>

#include "audio/sound.h"
#include "net/config.h"
#include "platform/atomic_file.h"
#include "support/comma_locale.h"

namespace fs = std::filesystem;

namespace {

struct Parsed {
    Settings conf;
    std::vector<servinfo> servers;
};

Parsed parse(std::string_view bytes) {
    Parsed p;
    parseConfig(bytes, &p.conf, &p.servers);
    return p;
}

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& p, std::string_view bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

// A fresh folder per test, removed afterwards.
struct ConfigFiles : ::testing::Test {
    fs::path dir;
    std::string fn;
    const std::vector<servinfo>& servers = serverList();
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("kordo-config-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        fn = (dir / "config-debug.ini").string();
        resetConfig();
        setSoundVolumes({});
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir, fs::perms::owner_all, ec);
        fs::remove_all(dir, ec);
        resetConfig();
        setSoundVolumes({});
    }
};

// The game server is always "localhost"; the pages and the download host
// follow the build's download host ("localhost" unless set otherwise).
const std::string kHost = kDefaultDownloadHost;
const std::string kDefaultFile =
    "language=fr\r\nserver.default=0\r\nsound.volume=1\r\nmusic.volume=0.5\r\nmusic.on=0\r\n"
    "server=Kordo local,localhost,1321,http://" +
    kHost + "/about.php,http://" + kHost + "/register.php,http://" + kHost + "/lostpassword.php," +
    kHost + ",/autodl\r\n";

}  // namespace

TEST(ConfigParse, SettingsKeys) {
    struct Case {
        const char* file;
        float muVol, fxVol;
        const char* language;
        bool muStopped;
        unsigned serverIndex;
    };
    const Case cases[] = {
        // Untouched defaults.
        {"", 0.5f, 1.0f, "fr", false, 0},
        // Several letters keep the first two; an empty value is empty.
        {"language=english\n", 0.5f, 1.0f, "en", false, 0},
        {"language=\n", 0.5f, 1.0f, "", false, 0},
        // music.on: 0 (in any spelling) or no number stops the music.
        {"music.on=0\n", 0.5f, 1.0f, "fr", true, 0},
        {"music.on= -00\n", 0.5f, 1.0f, "fr", true, 0},
        {"music.on=oui\n", 0.5f, 1.0f, "fr", true, 0},
        {"music.on=2\n", 0.5f, 1.0f, "fr", false, 0},
        {"music.on=99999999999999999999\n", 0.5f, 1.0f, "fr", false, 0},
        // Volumes: decimal reading, blanks and a sign allowed, no number is 0.
        {"music.volume=0.25\nsound.volume= +0.75xyz\n", 0.25f, 0.75f, "fr", false, 0},
        {"music.volume=abc\nsound.volume=\n", 0.0f, 0.0f, "fr", false, 0},
        {"music.volume=-1\nsound.volume=1.5\n", -1.0f, 1.5f, "fr", false, 0},
        {"sound.volume=--1\n", 0.5f, 0.0f, "fr", false, 0},
        // Keys are exact: blanks around "=" or another case ignore the line.
        {"sound.volume = 0.2\nSound.volume=0.2\n", 0.5f, 1.0f, "fr", false, 0},
        // Comment and blank lines, and lines without "=".
        {"#sound.volume=0.1\n;music.volume=0.1\n sound.volume=0.1\n\r\nsound.volume\n", 0.5f,
         1.0f, "fr", false, 0},
        // The last of two lines counts; "\r\n", "\n" and a last line without
        // a line end read the same.
        {"server.default=3\r\nserver.default=7", 0.5f, 1.0f, "fr", false, 7},
        {"server.default=abc\n", 0.5f, 1.0f, "fr", false, 0},
        {"server.default=-1\n", 0.5f, 1.0f, "fr", false, 4294967295u},
        // The value is everything after the first "=".
        {"language==x\n", 0.5f, 1.0f, "=x", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Parsed p = parse(c.file);
        EXPECT_EQ(p.conf.muVol, c.muVol);
        EXPECT_EQ(p.conf.fxVol, c.fxVol);
        EXPECT_EQ(p.conf.language, c.language);
        EXPECT_EQ(p.conf.muStopped, c.muStopped);
        EXPECT_EQ(p.conf.serverIndex, c.serverIndex);
        EXPECT_TRUE(p.servers.empty());
    }
}

TEST(ConfigParse, LineEndsReadTheSame) {
    const std::string crlf = kDefaultFile;
    std::string lf;
    for (char c : crlf)
        if (c != '\r') lf += c;
    Parsed a = parse(crlf), b = parse(lf);
    EXPECT_EQ(a.conf, b.conf);
    EXPECT_EQ(a.servers, b.servers);
    ASSERT_EQ(a.servers.size(), 1u);
    EXPECT_EQ(a.servers[0].dlBase, "/autodl");  // no "\r" left on the last field
}

TEST(ConfigParse, ServerLines) {
    Parsed p = parse(
        "server=,,Alpha,a.example,,1234,,http://a/about,http://a/reg,http://a/lost,dl,/base,"
        "bob,secret,extra,\n"
        "server=Two,b.example\n"                // 2 fields: no port, no entry
        "server=Beta,b.example,99999999999\n"   // port too large for an int
        "server=(null),(null),x,(null),reg\n"   // absent marker, port "x" reads 0
        "server=Gamma,g.example,21\r\n");
    ASSERT_EQ(p.servers.size(), 4u);
    const servinfo& a = p.servers[0];
    EXPECT_EQ(a.name, "Alpha");
    EXPECT_EQ(a.host, "a.example");
    EXPECT_EQ(a.port, 1234);
    EXPECT_EQ(a.aboutPage, "http://a/about");
    EXPECT_EQ(a.createAccountPage, "http://a/reg");
    EXPECT_EQ(a.lostPasswordPage, "http://a/lost");
    EXPECT_EQ(a.dlHost, "dl");
    EXPECT_EQ(a.dlBase, "/base");
    EXPECT_EQ(a.login, "bob");
    EXPECT_EQ(a.password, "secret");

    EXPECT_EQ(p.servers[1].name, "Beta");
    EXPECT_EQ(p.servers[1].port, std::numeric_limits<int>::max());

    const servinfo& c = p.servers[2];
    EXPECT_FALSE(c.name);
    EXPECT_FALSE(c.host);
    EXPECT_EQ(c.port, 0);
    EXPECT_FALSE(c.aboutPage);
    EXPECT_EQ(c.createAccountPage, "reg");
    EXPECT_FALSE(c.lostPasswordPage);

    const servinfo& g = p.servers[3];
    EXPECT_EQ(g.port, 21);
    EXPECT_FALSE(g.aboutPage);
    EXPECT_FALSE(g.login);
    EXPECT_FALSE(g.password);
}

TEST(ConfigParse, NoServerLineGivesEmptyList) {
    EXPECT_TRUE(parse("language=fr\nserver.default=0\n").servers.empty());
}

TEST(ConfigWrite, DefaultFileIsByteExact) {
    EXPECT_EQ(defaultConfigBytes(), kDefaultFile);
    // Read back and written again, the default file is unchanged: absent
    // trailing fields stay absent and are left out again.
    Parsed p = parse(kDefaultFile);
    EXPECT_TRUE(p.conf.muStopped);
    ASSERT_EQ(p.servers.size(), 1u);
    EXPECT_FALSE(p.servers[0].login);
    EXPECT_FALSE(p.servers[0].password);
    EXPECT_EQ(serializeConfig(p.conf, p.servers), kDefaultFile);
}

TEST(ConfigWrite, SettingsFormat) {
    Settings s;
    s.language = "en";
    s.serverIndex = 2;
    s.fxVol = 0.1f;       // float 0.100000001 still writes 5 significant digits
    s.muVol = 0.123456f;
    s.muStopped = false;
    EXPECT_EQ(serializeConfig(s, {}),
              "language=en\r\nserver.default=2\r\nsound.volume=0.1\r\n"
              "music.volume=0.12346\r\nmusic.on=1\r\n");
    // The index is written as a signed int and reads back unchanged.
    for (const auto& [file, written] :
         {std::pair{"server.default=-1\n", "server.default=-1\r\n"},
          {"server.default=3000000000\n", "server.default=-1294967296\r\n"},
          {"server.default=2147483647\n", "server.default=2147483647\r\n"}}) {
        SCOPED_TRACE(file);
        Parsed p = parse(file);
        const std::string out = serializeConfig(p.conf, {});
        EXPECT_NE(out.find(written), std::string::npos) << out;
        EXPECT_EQ(parse(out).conf.serverIndex, p.conf.serverIndex);
    }
}

TEST(ConfigWrite, NumbersIgnoreTheCLocale) {
    // A front-end may switch to a locale whose decimal point is ",".
    if (!useCommaLocale()) GTEST_SKIP() << "no locale with a decimal comma is installed";
    Settings s;
    s.muVol = 0.25f;
    const std::string out = serializeConfig(s, {});
    Parsed p = parse("music.volume=0.75\n");
    std::setlocale(LC_ALL, "C");
    EXPECT_NE(out.find("music.volume=0.25\r\n"), std::string::npos) << out;
    EXPECT_EQ(p.conf.muVol, 0.75f);
}

TEST(ConfigWrite, AbsentFieldsRoundTrip) {
    auto entry = [](std::initializer_list<std::optional<std::string>> tail) {
        servinfo s;
        s.name = "N";
        s.host = "h";
        s.port = 7;
        std::optional<std::string>* f[] = {&s.aboutPage, &s.createAccountPage,
                                           &s.lostPasswordPage, &s.dlHost, &s.dlBase,
                                           &s.login, &s.password};
        size_t i = 0;
        for (const auto& v : tail) *f[i++] = v;
        return s;
    };
    const std::nullopt_t no = std::nullopt;
    struct Case {
        servinfo in;
        const char* line;
    };
    const Case cases[] = {
        {entry({}), "server=N,h,7\r\n"},
        {entry({"a", "c", "l", "d", "b", "u", "p"}), "server=N,h,7,a,c,l,d,b,u,p\r\n"},
        // Absent in the middle: the marker keeps the later fields in place.
        {entry({no, no, no, no, no, "u", "p"}),
         "server=N,h,7,(null),(null),(null),(null),(null),u,p\r\n"},
        {entry({"a", no, "l", no, no, no, "p"}),
         "server=N,h,7,a,(null),l,(null),(null),(null),p\r\n"},
        {entry({"a", "c", no, no, no, no, no}), "server=N,h,7,a,c\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string bytes = serializeConfig(Settings{}, {c.in});
        EXPECT_EQ(bytes.substr(bytes.find("server=")), c.line);
        Parsed back = parse(bytes);
        ASSERT_EQ(back.servers.size(), 1u);
        EXPECT_EQ(back.servers[0], c.in);
    }
}

TEST(ConfigWrite, UnwritableTextsBecomeAbsent) {
    // The format cannot carry an empty text, a "," or a line end, nor tell
    // the marker itself from an absent field: such texts are not remembered
    // rather than read back changed (a password "ab,cd" would come back as
    // "ab" and shift every later field).
    servinfo s;
    s.name = "";
    s.host = "h";
    s.port = 1;
    s.login = "bob";
    s.password = "ab,cd";
    servinfo t = s;
    t.password = "x\r\ny";
    servinfo u = s;
    u.login = std::string(kAbsentField);
    u.password = "good";
    const std::string bytes = serializeConfig(Settings{}, {s, t, u});
    Parsed back = parse(bytes);
    ASSERT_EQ(back.servers.size(), 3u);
    EXPECT_FALSE(back.servers[0].name);
    EXPECT_EQ(back.servers[0].login, "bob");
    EXPECT_FALSE(back.servers[0].password);
    EXPECT_FALSE(back.servers[1].password);
    EXPECT_FALSE(back.servers[2].login);
    EXPECT_EQ(back.servers[2].password, "good");
    EXPECT_EQ(serializeConfig(back.conf, back.servers), bytes);  // a fixed point
}

TEST(ConfigClamp, VolumesOutsideRangeTakeDefaults) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        float mu, fx, muOut, fxOut;
    };
    const Case cases[] = {
        {0.0f, 1.0f, 0.0f, 1.0f}, {1.0f, 0.0f, 1.0f, 0.0f}, {0.3f, 0.7f, 0.3f, 0.7f},
        {-1.0f, 1.5f, 0.5f, 1.0f}, {1.0001f, -0.0001f, 0.5f, 1.0f},
        {nan, nan, 0.5f, 1.0f},   {inf, -inf, 0.5f, 1.0f},
    };
    for (const Case& c : cases) {
        Settings s;
        s.muVol = c.mu;
        s.fxVol = c.fx;
        clampVolumes(&s);
        EXPECT_EQ(s.muVol, c.muOut) << c.mu;
        EXPECT_EQ(s.fxVol, c.fxOut) << c.fx;
    }
    // From the file: "nan" and an overflowing number are outside too.
    Parsed p = parse("music.volume=nan\nsound.volume=1e999\n");
    clampVolumes(&p.conf);
    EXPECT_EQ(p.conf.muVol, 0.5f);
    EXPECT_EQ(p.conf.fxVol, 1.0f);
}

TEST_F(ConfigFiles, MissingFileCreatesAndReadsDefault) {
    EXPECT_TRUE(loadConfig(fn));
    EXPECT_EQ(readFile(fn), kDefaultFile);
    EXPECT_TRUE(currentSettings().muStopped);
    ASSERT_EQ(servers.size(), 1u);
    EXPECT_EQ(servers[0].name, "Kordo local");
    EXPECT_EQ(servers[0].host, "localhost");
    EXPECT_EQ(servers[0].port, 1321);
    EXPECT_EQ(selectedServer(), &servers[0]);
}

TEST_F(ConfigFiles, UnreadableAndUnwritableRunsWithDefaultsInMemory) {
    // A path whose folder does not exist can be neither read nor written.
    const std::string bad = (dir / "missing" / "config-debug.ini").string();
    EXPECT_FALSE(loadConfig(bad));
    EXPECT_FALSE(fs::exists(bad));
    EXPECT_TRUE(currentSettings().muStopped);
    ASSERT_EQ(servers.size(), 1u);
    EXPECT_EQ(servers[0].name, "Kordo local");
}

TEST_F(ConfigFiles, SaveThenLoadKeepsEverything) {
    ASSERT_TRUE(loadConfig(fn));
    Settings conf = currentSettings();
    conf.fxVol = 0.35f;
    conf.muVol = 0.8f;
    conf.muStopped = false;
    conf.language = "en";
    std::vector<servinfo> list = servers;
    list[0].login = "bob";
    list[0].password = "s\xE9same";  // CP1252 bytes pass unchanged
    list.push_back(list[0]);
    list[1].name = "Deux";
    list[1].aboutPage.reset();
    conf.serverIndex = 1;
    applySettings(conf, list);
    ASSERT_TRUE(saveConfig(fn));
    EXPECT_FALSE(fs::exists(fn + ".tmp"));

    resetConfig();
    setSoundVolumes({});
    ASSERT_TRUE(loadConfig(fn));
    EXPECT_EQ(currentSettings(), conf);
    EXPECT_EQ(servers, list);
}

TEST_F(ConfigFiles, FailedSaveKeepsThePreviousFile) {
    writeFile(fn, kDefaultFile);
    // The temporary file cannot be created: a folder stands in its way.
    fs::create_directory(fn + ".tmp");
    Settings conf = currentSettings();
    conf.language = "en";
    applySettings(conf, servers);
    EXPECT_FALSE(saveConfig(fn));
    EXPECT_EQ(readFile(fn), kDefaultFile);
    fs::remove(fn + ".tmp");

    // The save replaces the file in one step: it never exists half-written,
    // and a stale temporary file from an interrupted save does not matter.
    writeFile(fn + ".tmp", "partial garbage");
    EXPECT_TRUE(saveConfig(fn));
    EXPECT_EQ(readFile(fn).substr(0, 13), "language=en\r\n");
    EXPECT_FALSE(fs::exists(fn + ".tmp"));
}

TEST_F(ConfigFiles, LongLinesAreNotCut) {
    // A line far beyond any fixed read buffer stays one line.
    const std::string page = "http://h/" + std::string(2000, 'p');
    writeFile(fn, "server=N,h,1," + page + "\r\nlanguage=en\r\n");
    ASSERT_TRUE(loadConfig(fn));
    ASSERT_EQ(servers.size(), 1u);
    EXPECT_EQ(servers[0].aboutPage, page);
    EXPECT_EQ(currentSettings().language, "en");
}

// The volumes and the pause switch are the sound unit's: loading hands the
// file's to it, the start-up rule applies to what it holds, and saving
// writes what it holds then (a volume key between the two included).
TEST_F(ConfigFiles, VolumesGoToSoundAndComeBackFromIt) {
    writeFile(fn, "sound.volume=0.25\r\nmusic.volume=7\r\nmusic.on=0\r\n");
    ASSERT_TRUE(loadConfig(fn));
    SoundVolumes v = soundVolumes();
    EXPECT_EQ(v.effects, 0.25f);
    EXPECT_EQ(v.music, 7.0f);
    EXPECT_TRUE(v.musicStopped);
    clampVolumes();
    EXPECT_EQ(soundVolumes().music, 0.5f);
    EXPECT_EQ(soundVolumes().effects, 0.25f);

    setSoundVolumes({0.125f, 0.75f, false});
    ASSERT_TRUE(saveConfig(fn));
    EXPECT_EQ(readFile(fn),
              "language=fr\r\nserver.default=0\r\nsound.volume=0.75\r\nmusic.volume=0.125\r\n"
              "music.on=1\r\n");
}
