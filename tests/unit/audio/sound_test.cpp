// The client's sound operations over the real mixer, with sounds generated
// by sox into a temporary folder and the output rendered into memory.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <mutex>
#include <random>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "audio/memory/memory_sink.h"
#include "audio/sound.h"
#include "measure.h"
#include "support/recording_ui.h"

namespace fs = std::filesystem;

namespace {

std::string dir;  // the program folder of this test process

// The menu grid the caller of a play hands over.
int menuWidth = 0, menuSelection = 0;
bool menuOpen = false;

struct Started {
    std::string name;
    float volume, pan, rate;
};

struct AudioSoundTest : ::testing::Test {
    static void SetUpTestSuite() {
        dir = (fs::temp_directory_path() / ("kordo-audio-" + std::to_string(std::random_device{}()))).string();
        fs::create_directories(dir + "/sounds");
        std::string s = dir + "/sounds/";
        ASSERT_TRUE(makeSound("sox -q -n -r 44100 -c 1 " + s + "door.ogg synth 1 sine 440 gain -3"));
        ASSERT_TRUE(fs::copy_file(s + "door.ogg", s + "menubounds.ogg"));
        ASSERT_TRUE(fs::copy_file(s + "door.ogg", dir + "/evil.ogg"));
        // Two musics on separate sides so a mix shows which one is heard.
        ASSERT_TRUE(makeSound("sox -q -n -r 44100 -c 2 " + s + "left.ogg synth 2 sine 330 remix 1 0 gain -3"));
        ASSERT_TRUE(makeSound("sox -q -n -r 44100 -c 2 " + s + "right.ogg synth 2 sine 550 remix 0 1 gain -3"));
        ASSERT_TRUE(makeSound("sox -q -n -r 22050 -c 1 " + s + "slow.ogg synth 0.3 sine 440 gain -3"));
        for (const char* r : {"r1", "r2", "r3", "r4", "r5"})  // more musics on the right
            ASSERT_TRUE(fs::copy_file(s + "right.ogg", s + r + ".ogg"));
    }
    static void TearDownTestSuite() { fs::remove_all(dir); }
    // The player's volumes, which the sound module holds.
    static void setEffectsVolume(float v) {
        SoundVolumes s = soundVolumes();
        s.effects = v;
        setSoundVolumes(s);
    }
    static void setMusicVolumeTo(float v) {
        SoundVolumes s = soundVolumes();
        s.music = v;
        setSoundVolumes(s);
    }

    void SetUp() override {
        soundReset();
        setSoundsFolder(dir + "/sounds");
        menuOpen = false;
        // Starts come from the UI thread and the sound loader; the test
        // reads them after playSound has returned and the loads are done.
        setSoundStartObserver([this](std::string_view n, float v, float p, float r) {
            std::lock_guard<std::mutex> lock(startedMu);
            started.push_back({std::string(n), v, p, r});
        });
        setMusicEventObserver([this](std::string_view e, std::string_view a) {
            music.push_back(std::string(e) + (a.empty() ? "" : " ") + std::string(a));
        });
        ASSERT_TRUE(audioOpen(&sink));
    }
    void TearDown() override {
        soundReset();
    }

    std::vector<float> seconds(double s) { return sink.render(int(s * 44100)); }
    // A play as a server line makes it, and the wait for the load it needs.
    void play(const std::string& payload, int flags = 1) {
        const MenuGrid grid{menuWidth, menuSelection};
        playSound(payload, flags, menuOpen ? &grid : nullptr);
        soundFinishLoads();
    }
    std::vector<std::string> startedNames() {
        std::vector<std::string> names;
        for (const Started& x : started) names.push_back(x.name);
        return names;
    }

    RecordingUi ui;
    MemorySink sink;
    std::mutex startedMu;
    std::vector<Started> started;
    std::vector<std::string> music;
};

TEST_F(AudioSoundTest, FlagsGateOnWindowAndDialog) {
    struct Case {
        int flags;
        bool active, dialog, plays;
    } cases[] = {
        {0, true, false, true},   {0, false, false, false}, {0, false, true, true},
        {1, true, false, true},   {1, false, false, true},  {1, false, true, true},
        {2, true, false, false},  {2, false, false, true},  {2, false, true, false},
        {3, true, false, false},  {3, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "flags " << c.flags << " active " << c.active << " dialog " << c.dialog);
        ui.active = c.active;
        ui.setInDialog(c.dialog);
        started.clear();
        play("door", c.flags);
        Energy e = energyOf(sink.render(4096));
        EXPECT_EQ(started.size(), c.plays ? 1u : 0u);
        EXPECT_EQ(e.l > 1.0, c.plays);
        sink.render(48000);  // let it end
    }
}

TEST_F(AudioSoundTest, PanVolumeAndPositionalPanAreHeard) {
    play("door");
    Energy centre = energyOf(sink.render(8192));
    sink.render(44100);

    struct Case {
        const char* payload;
        bool menu;
        int width, selection;
        float fx, volume, pan;  // expected fxVol x volume and pan
    } cases[] = {
        {"door", false, 0, 0, 1, 1, 0},
        {"  door   0.5  -1", false, 0, 0, 1, 0.5f, -1},
        {"door 1 1", true, 4, 5, 1, 1, 1},     // in range: not positional
        {"door 1 5", true, 4, 5, 1, 1, 1},     // column 3, cursor in column 1
        {"door 1 -5", true, 4, 5, 1, 1, -1},
        {"door 1 2", true, 8, 0, 1, 1, 0},     // the cursor's column: centred
        {"door 1 3", true, 4, 4, 1, 1, 0.5f},  // one column right of the cursor
        {"door 1 5", false, 0, 0, 1, 1, 1},    // no menu: heard full right
        {"door 1 5", true, 0, 3, 1, 1, 0},     // a grid of no columns: centred
        {"door 0.5", false, 0, 0, 0.5f, 0.25f, 0},
        {"door x y", false, 0, 0, 1, 0, 0},    // no leading number: 0
        {"door nan inf", false, 0, 0, 1, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payload);
        setEffectsVolume(c.fx);
        menuOpen = c.menu;
        menuWidth = c.width;
        menuSelection = c.selection;
        started.clear();
        play(c.payload);
        Energy e = energyOf(sink.render(8192));
        ASSERT_EQ(started.size(), 1u);
        EXPECT_EQ(started[0].name, "door");
        EXPECT_FLOAT_EQ(started[0].volume, c.volume);
        EXPECT_FLOAT_EQ(started[0].pan, c.pan);
        EXPECT_EQ(started[0].rate, 0.0f);
        float p = std::clamp(c.pan, -1.0f, 1.0f);
        float gl = c.volume * std::min(1.0f, 1 - p), gr = c.volume * std::min(1.0f, 1 + p);
        EXPECT_NEAR(e.l / centre.l, gl * gl, 0.01);
        EXPECT_NEAR(e.r / centre.r, gr * gr, 0.01);
        sink.render(44100);  // let it end
    }
}

// Server numbers are bounded before they reach the mixer: a value beyond
// float range is clamped, never cast; the volume is bounded to 0..1 after
// the player's own volume, so a muted player stays silent.
TEST_F(AudioSoundTest, HugeNumbersAreBoundedAfterThePlayersVolume) {
    struct Case {
        const char* payload;
        float fx;
        float volume, pan, minRate, maxRate;  // rate: 0 = own rate
        bool silent;
    } cases[] = {
        {"door 1e39", 0, 0, 0, 0, 0, true},          // muted player: 0, not 0 x inf
        {"door 1e300", 0, 0, 0, 0, 0, true},
        {"door 3.4e38", 1, 1, 0, 0, 0, false},       // full scale at most
        {"door 3.4e38", 0.5f, 1, 0, 0, 0, false},
        {"door -1e39", 1, 0, 0, 0, 0, true},
        {"door 1 1e39", 1, 1, 1, 0, 0, false},       // no menu: heard at its side
        {"door 1 -1e39", 1, 1, -1, 0, 0, false},
        {"door 1 0 -1e39", 1, 1, 0, 100, 100, false}, // lowest pitch, not the own rate
        {"door 1 0 1e39", 1, 1, 0, 1000000, 1000000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payload);
        setEffectsVolume(c.fx);
        started.clear();
        play(c.payload);
        std::vector<float> out = sink.render(8192);
        ASSERT_EQ(started.size(), 1u);
        EXPECT_FLOAT_EQ(started[0].volume, c.volume);
        EXPECT_FLOAT_EQ(started[0].pan, c.pan);
        EXPECT_GE(started[0].rate, c.minRate);
        EXPECT_LE(started[0].rate, c.maxRate);
        Energy e = energyOf(out);
        EXPECT_EQ(e.l + e.r == 0.0, c.silent);
        for (float x : out) ASSERT_TRUE(std::isfinite(x) && x >= -1.0f && x <= 1.0f);
        sink.render(44100 * 2);
    }
}

TEST_F(AudioSoundTest, SemitonesShiftThePitch) {
    for (double semis : {7.0, -12.0, 12.0}) {
        SCOPED_TRACE(semis);
        started.clear();
        play("door 1 0 " + std::to_string(semis));
        std::vector<float> out = sink.render(16384);
        ASSERT_EQ(started.size(), 1u);
        double want = 440.0 * std::exp2(semis / 12.0);
        EXPECT_NEAR(started[0].rate, 44100.0 * std::exp2(semis / 12.0), 1.0);
        EXPECT_NEAR(dominantHz(out), want, want * 0.01);
        sink.render(44100 * 2);
    }
}

// A failed file is remembered so that it is not read again, but only the
// last kMaxFailures names: a server naming ever new broken files cannot grow
// the memory, and the oldest forgotten is at worst read, and refused, once
// more.
TEST_F(AudioSoundTest, RememberedFailuresAreBounded) {
    const std::string folder = dir + "/sounds/broken";
    fs::create_directories(folder);
    const size_t n = kMaxFailures + 1;
    std::string names;
    for (size_t i = 0; i < n; ++i) {
        std::ofstream(folder + "/b" + std::to_string(i) + ".ogg") << "not an ogg file";
        names += " broken/b" + std::to_string(i);
    }
    preloadSounds(names);
    soundFinishLoads();
    EXPECT_EQ(soundLoadAttempts(), n);
    EXPECT_EQ(soundFailureEntries(), kMaxFailures);
    EXPECT_EQ(getSound("broken/b" + std::to_string(n - 1)), 0u);
    EXPECT_EQ(soundLoadAttempts(), n) << "a remembered failure is not read again";
    EXPECT_EQ(getSound("broken/b0"), 0u);
    EXPECT_EQ(soundLoadAttempts(), n + 1) << "the oldest was forgotten";
    fs::remove_all(folder);
}

#ifndef _WIN32
// Plays that wait for the loader are bounded: while it is held (reading a
// pipe no one writes yet), only kMaxWaitingPlays plays of a sound still to
// load are kept; the rest play nothing.
TEST_F(AudioSoundTest, PlaysWaitingForTheLoaderAreBounded) {
    const std::string fifo = dir + "/sounds/held.ogg";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    playSound("held", 1);
    // The loader has the pipe open for reading once a writer can open it.
    int writer = -1;
    for (int i = 0; i < 500 && writer < 0; ++i) {
        writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GE(writer, 0) << "the loader never opened the pipe";
    {
        std::lock_guard<std::mutex> lock(startedMu);
        started.clear();
    }
    for (size_t i = 0; i < kMaxWaitingPlays + 100; ++i) playSound("door", 1);
    close(writer);  // the pipe ends: "held" fails, then "door" loads
    soundFinishLoads();
    std::lock_guard<std::mutex> lock(startedMu);
    EXPECT_EQ(started.size(), kMaxWaitingPlays);
    fs::remove(fifo);
}
#endif

TEST_F(AudioSoundTest, NamesLeavingTheSoundsFolderAreRefused) {
    ASSERT_NE(getSound("door"), 0u);
    for (const char* name : {"../evil", "/etc/passwd", "a/../../evil", "..", "..\\evil", "sub\\..\\..\\evil",
                             "C:evil", "c:/evil", ""}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(isSafeSoundName(name));
        EXPECT_EQ(getSound(name), 0u);
        playMusic(name);
    }
    EXPECT_TRUE(isSafeSoundName(std::string(kMaxSoundNameBytes, 'a')));
    EXPECT_EQ(getSound(std::string(kMaxSoundNameBytes + 1, 'a')), 0u);
    EXPECT_TRUE(isSafeSoundName("ui/door.v2"));
    started.clear();
    play("../evil");
    EXPECT_TRUE(started.empty());
    EXPECT_TRUE(music.empty());
}

// One file has one name: "." or empty parts and Windows device names (which
// open a port or the console there) are refused for effects, music and
// preloading alike, so no spelling decodes a file twice.
TEST_F(AudioSoundTest, OtherSpellingsAndDeviceNamesAreRefused) {
    ASSERT_NE(getSound("door"), 0u);
    fs::create_directories(dir + "/sounds/sub");
    fs::copy_file(dir + "/sounds/door.ogg", dir + "/sounds/sub/x.ogg", fs::copy_options::overwrite_existing);
    for (const char* name : {"./door", "././door", ".//door", "sub//x", "sub/./x", "sub/", ".", "door/.",
                             "COM1", "com1", "LPT1", "CON", "nul", "Aux", "PRN", "sub/COM1", "COM1.x", "con .x"}) {
        SCOPED_TRACE(name);
        std::error_code ec;  // some spellings name no creatable file: fine
        fs::copy_file(dir + "/sounds/door.ogg", dir + "/sounds/" + std::string(name) + ".ogg",
                      fs::copy_options::overwrite_existing, ec);
        size_t before = mixSampleBytes();
        EXPECT_FALSE(isSafeSoundName(name));
        EXPECT_EQ(getSound(name), 0u);
        preloadSounds(name);
        playMusic(name);
        EXPECT_EQ(mixSampleBytes(), before);
    }
    EXPECT_TRUE(music.empty());
    EXPECT_NE(getSound("sub/x"), 0u);
}

// At the cap the least recently used samples that nothing plays make
// room, and their names load again at their next use.  A sound that finds
// no room because the others still play is refused, and not read again
// until a playback has ended.
TEST_F(AudioSoundTest, FullSampleMemoryEvictsIdleSamplesAndTheirNamesLoadAgain) {
    const size_t stereo2s = 2 * 44100 * 2 * 2, mono1s = 44100 * 2;  // 16-bit
    setSoundSampleCap(stereo2s + mono1s);
    play("left");  // 2 s, playing
    play("door");  // 1 s: the cap is full
    EXPECT_EQ(mixSampleBytes(), stereo2s + mono1s);
    seconds(1.1);  // door has ended, left plays on
    const MixSample door = getSound("door");
    const size_t attempts = soundLoadAttempts();

    started.clear();
    play("right");  // left plays, door alone is too small to make room
    play("right");
    EXPECT_TRUE(started.empty());
    EXPECT_EQ(soundLoadAttempts(), attempts + 1);
    EXPECT_EQ(getSound("door"), door);  // nothing was evicted for nothing

    seconds(1.0);  // left has ended: it may go now
    play("right");
    EXPECT_EQ(startedNames(), std::vector<std::string>{"right"});
    EXPECT_EQ(soundLoadAttempts(), attempts + 2);
    EXPECT_EQ(getSound("door"), door);  // used more recently than left
    EXPECT_EQ(soundCacheEntries(), 2u);  // left was forgotten with its sample
    seconds(2.1);
    EXPECT_NE(getSound("left"), 0u);  // loaded again
    EXPECT_EQ(soundLoadAttempts(), attempts + 3);
}

// A failed name is forgotten when its file is missing: a burst of names of
// missing files holds no memory, and each is looked for again at its next
// use.
TEST_F(AudioSoundTest, FailedLoadsAreNotKept) {
    ASSERT_NE(getSound("door"), 0u);
    std::string names;
    for (int i = 0; i < 2000; ++i) names += "missing" + std::to_string(i) + " ";
    preloadSounds(names);
    for (int i = 0; i < 2000; ++i) playSound("missing" + std::to_string(i), 1);
    soundFinishLoads();
    EXPECT_EQ(soundCacheEntries(), 1u);
    EXPECT_EQ(soundFailureEntries(), 0u);
}

// A sound over the limits is read once, whatever the number of its uses:
// the failure is remembered for the file as it is, by its size and
// modification time, until the file changes or a download rewrites it.
TEST_F(AudioSoundTest, AFailedSoundIsReadAgainOnlyOnceItsFileChanges) {
    const std::string s = dir + "/sounds/";
    const size_t stereo2s = 2 * 44100 * 2 * 2;
    setSoundSampleCap(stereo2s - 1);  // "left" is over it
    ASSERT_NE(getSound("door"), 0u);
    const size_t bytes = mixSampleBytes();
    for (int i = 0; i < 30; ++i) playSound("left", 1);
    preloadSounds("left LEFT");
    soundFinishLoads();
    play("left");
    EXPECT_TRUE(started.empty()) << "over the cap";
    EXPECT_EQ(soundLoadAttempts(), 2u);  // door, then left once
    EXPECT_EQ(soundFailureEntries(), 1u);
    EXPECT_EQ(mixSampleBytes(), bytes);

    // A file that is no Ogg at all; then rewritten as a real one.
    auto write = [&](const std::string& name, const std::string& bytes) {
        std::ofstream(s + name + ".ogg", std::ios::binary | std::ios::trunc) << bytes;
    };
    std::ifstream in(s + "door.ogg", std::ios::binary);
    const std::string good((std::istreambuf_iterator<char>(in)), {});
    const std::string junk(good.size(), 'x');
    write("late2", junk);
    for (int i = 0; i < 3; ++i) play("late2");
    EXPECT_EQ(soundLoadAttempts(), 3u);
    // The same size and the same time: the same file as far as the memory
    // can tell.
    const auto when = fs::last_write_time(s + "late2.ogg");
    write("late2", good);
    fs::last_write_time(s + "late2.ogg", when);
    play("late2");
    EXPECT_EQ(soundLoadAttempts(), 3u);
    EXPECT_TRUE(started.empty());
    // A download that wrote it says so.
    soundFileWritten("sounds/late2.ogg");
    play("late2");
    EXPECT_EQ(soundLoadAttempts(), 4u);
    EXPECT_EQ(startedNames(), std::vector<std::string>{"late2"});
    EXPECT_EQ(soundFailureEntries(), 1u);  // left's

    // A download over a loaded sound drops its sample: the next use loads
    // the new file (junk again: it fails).  A file that then changes by
    // itself is read again too.
    write("late2", junk + "x");
    soundFileWritten("sounds/late2.ogg");
    play("late2");
    EXPECT_EQ(soundLoadAttempts(), 5u);
    write("late2", good);
    started.clear();
    play("late2");
    EXPECT_EQ(soundLoadAttempts(), 6u);
    EXPECT_EQ(startedNames(), std::vector<std::string>{"late2"});
    fs::remove(s + "late2.ogg");
}

#ifndef _WIN32
// Files load on the sound loader: playSound returns while a file is still
// being read (a named pipe stands for a slow file here), a loaded sound is
// not held back meanwhile, and the sounds that waited start once loaded, in
// the order asked, each once.  On a loader that reads on the calling
// thread, the first playSound does not return until the pipe is fed.
TEST_F(AudioSoundTest, SoundsLoadOffTheCallersThreadAndStartInTheOrderAsked) {
    const std::string pipe = dir + "/sounds/slowfile.ogg";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    ASSERT_NE(getSound("door"), 0u);
    std::ifstream in(dir + "/sounds/door.ogg", std::ios::binary);
    const std::string good((std::istreambuf_iterator<char>(in)), {});
    auto feed = [&] { std::ofstream(pipe, std::ios::binary) << good; };

    auto asked = std::async(std::launch::async, [&] {
        playSound("slowfile 0.5", 1);
        playSound("door 0.25", 1);      // loaded: at once
        playSound("menubounds 0.75", 1);  // to load: waits behind slowfile
        playSound("slowfile 1", 1);     // behind the first of its name
        playSound("door 0.125", 1);
    });
    const bool returned = asked.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    std::vector<std::string> meanwhile;
    {
        std::lock_guard<std::mutex> lock(startedMu);
        for (const Started& x : started) meanwhile.push_back(x.name + " " + std::to_string(x.volume));
    }
    feed();
    asked.wait();
    soundFinishLoads();
    fs::remove(pipe);
    ASSERT_TRUE(returned) << "playSound waited for the file";
    EXPECT_EQ(meanwhile, (std::vector<std::string>{"door 0.250000", "door 0.125000"}));
    std::vector<std::string> all;
    for (const Started& x : started) all.push_back(x.name + " " + std::to_string(x.volume));
    EXPECT_EQ(all, (std::vector<std::string>{"door 0.250000", "door 0.125000", "slowfile 0.500000",
                                             "menubounds 0.750000", "slowfile 1.000000"}));
    EXPECT_EQ(mixActiveChannels(), 5);
}
#endif

TEST_F(AudioSoundTest, CacheIgnoresCaseAndRetriesFailedNames) {
    MixSample s = getSound("door");
    ASSERT_NE(s, 0u);
    EXPECT_EQ(getSound("DOOR"), s);
    EXPECT_EQ(getSound("Door"), s);

    EXPECT_EQ(getSound("late"), 0u);
    preloadSounds("late  door");  // a failed name stays failed while its file is missing
    EXPECT_EQ(getSound("late"), 0u);
    fs::copy_file(dir + "/sounds/door.ogg", dir + "/sounds/late.ogg");
    EXPECT_NE(getSound("late"), 0u);
    fs::remove(dir + "/sounds/late.ogg");
}

TEST_F(AudioSoundTest, SoundVolumeStepsWithinRangeAndPlaysMenubounds) {
    struct Case {
        float start;
        int n;
        float end;
    } cases[] = {{1.0f, 1, 1.0f}, {0.0f, -1, 0.0f}, {0.5f, 1, 0.52f}, {0.5f, -1, 0.48f}};
    for (const Case& c : cases) {
        setEffectsVolume(c.start);
        started.clear();
        setSoundVolume(c.n);
        soundFinishLoads();
        EXPECT_NEAR(soundVolumes().effects, c.end, 1e-6);
        ASSERT_EQ(started.size(), 1u);
        EXPECT_EQ(started[0].name, "menubounds");
    }
}

TEST_F(AudioSoundTest, NewMusicFadesTheOldOutOverFiveSecondsAndFreesIt) {
    setMusicVolumeTo(0.8f);
    playMusic("left");
    playMusic("left");  // the same name again: ignored
    EXPECT_EQ(music, (std::vector<std::string>{"music left"}));
    MixChannel old = currentMusicChannel();
    Energy first = energyOf(seconds(0.5));
    EXPECT_GT(first.l, 100.0);

    playMusic("right");
    MixChannel now = currentMusicChannel();
    EXPECT_NE(now, old);
    EXPECT_EQ(currentMusicName(), "right");
    EXPECT_EQ(music, (std::vector<std::string>{"music left", "music-fade left", "music right"}));
    Energy startNew = energyOf(seconds(0.5));
    seconds(2.0);
    float v = 0;
    ASSERT_TRUE(mixGetAttribute(old, MixAttrib::Vol, &v));
    EXPECT_NEAR(v, 0.8f * 0.5f, 0.02f);  // halfway through the fade
    ASSERT_TRUE(mixGetAttribute(now, MixAttrib::Vol, &v));
    EXPECT_FLOAT_EQ(v, 0.8f);           // no fade-in

    seconds(2.6);  // past 5 s: the old music has stopped and been freed
    EXPECT_EQ(mixChannelState(old), MixState::Stopped);
    EXPECT_EQ(mixActiveChannels(), 1);
    Energy after = energyOf(seconds(0.5));  // the new one loops on, at full volume
    EXPECT_LT(after.l, after.r * 1e-3);
    EXPECT_NEAR(after.r / startNew.r, 1.0, 0.05);
    EXPECT_NEAR(first.l / startNew.r, 1.0, 0.05);  // both musics at the same muVol
}

TEST_F(AudioSoundTest, MissingMusicLeavesTheOldNameAndFadesIt) {
    playMusic("left");
    MixChannel old = currentMusicChannel();
    playMusic("nothere");
    EXPECT_EQ(currentMusicChannel(), old);
    EXPECT_EQ(currentMusicName(), "left");
    seconds(5.1);
    EXPECT_EQ(mixActiveChannels(), 0);
    playMusic("left");  // still named current: ignored
    EXPECT_EQ(mixActiveChannels(), 0);

    // "music" still names the freed stream: a volume step starts from the
    // setting, not from the stale channel (which cannot be read).
    setMusicVolumeTo(0.25f);
    music.clear();
    setMusicVolume(1);
    EXPECT_FLOAT_EQ(soundVolumes().music, 0.27f);
    EXPECT_EQ(music, (std::vector<std::string>{"music-volume 0.27"}));
}

// A refused name acts as a file that fails to open: the music playing
// fades out over 5 s, its name stays the current one, and a volume key
// meanwhile changes the setting without ending the fade.
TEST_F(AudioSoundTest, ARefusedMusicNameActsAsAFileThatFailsToOpen) {
    for (const char* name : {"", "../x", "nul", "a\\b", "missing"}) {
        SCOPED_TRACE(name);
        SetUp();
        setMusicVolumeTo(0.8f);
        playMusic("left");
        Energy before = energyOf(seconds(0.5));
        const MixChannel c = currentMusicChannel();
        music.clear();
        playMusic(name);
        EXPECT_EQ(currentMusicName(), "left");
        EXPECT_EQ(currentMusicChannel(), c);
        setMusicVolume(1);
        EXPECT_FLOAT_EQ(soundVolumes().music, 0.82f);
        EXPECT_EQ(music, (std::vector<std::string>{"music-fade left", "music-volume 0.82"}));
        seconds(2.25);
        Energy halfway = energyOf(seconds(0.5));  // 2.25 .. 2.75 s: gain 0.5
        EXPECT_NEAR(halfway.l / before.l, 0.25, 0.04);
        seconds(2.4);
        EXPECT_EQ(mixActiveChannels(), 0);
        playMusic("left");  // still named current: ignored
        EXPECT_EQ(mixActiveChannels(), 0);
    }
}

// Music changes in a burst (start-up music, lobby, game): every replaced
// music fades over its whole 5 s, the older fades too.
TEST_F(AudioSoundTest, QuickMusicChangesLetEveryFadeRunItsCourse) {
    setMusicVolumeTo(1.0f);
    playMusic("left");
    const double full = energyOf(seconds(0.5)).l;
    playMusic("r1");  // left starts fading here
    double t = 0;
    auto at = [&](double when) {  // the left energy of 0.1 s centred on `when`
        seconds(when - 0.05 - t);
        t = when + 0.05;
        return energyOf(seconds(0.1)).l / (full / 5);
    };
    EXPECT_NEAR(at(0.1), 0.98 * 0.98, 0.03);
    playMusic("r2");
    playMusic("r3");
    for (double when : {1.0, 2.0, 3.0, 4.0, 4.8}) {
        SCOPED_TRACE(when);
        EXPECT_NEAR(at(when), (1 - when / 5) * (1 - when / 5), 0.03);
    }
    EXPECT_LT(at(5.1), 1e-4);  // gone (the right musics leak a trace into the left)
    EXPECT_EQ(mixActiveChannels(), 3);  // r1, r2 still fading, r3
}

// Past four fades the oldest ends with a short ramp: within 50 ms, without a
// step in the wave.
TEST_F(AudioSoundTest, PastFourFadesTheOldestEndsWithAShortRamp) {
    setMusicVolumeTo(1.0f);
    playMusic("left");
    seconds(0.3);
    for (const char* r : {"r1", "r2", "r3", "r4"}) {
        playMusic(r);
        seconds(0.05);
    }
    EXPECT_EQ(mixActiveChannels(), 5);  // left, r1, r2, r3 fading; r4
    std::vector<float> before = seconds(0.05);
    ASSERT_GT(energyOf(before).l, 1.0) << "left still fading";
    float peak = 0;
    for (size_t i = 0; i < before.size(); i += 2) peak = std::max(peak, std::fabs(before[i]));

    playMusic("r5");
    std::vector<float> after = seconds(0.1);
    const size_t ms10 = 2 * 441, ms50 = 2 * 2205;
    EXPECT_GT(energyOf(std::vector<float>(after.begin(), after.begin() + ms10)).l, 0.01);
    // Gone after 50 ms, but for the trace the right musics leak into the left.
    for (size_t i = ms50; i < after.size(); i += 2) ASSERT_LT(std::fabs(after[i]), 0.01f * peak) << "frame " << i / 2;
    // The steepest step of a 330 Hz wave of that peak is 2 pi 330 / 44100
    // of it; a cut would step by up to the peak itself.
    float step = std::fabs(after[0] - before[before.size() - 2]);
    for (size_t i = 2; i < after.size(); i += 2) step = std::max(step, std::fabs(after[i] - after[i - 2]));
    EXPECT_LT(step, 0.06f * peak);
    seconds(0.1);
    EXPECT_EQ(mixActiveChannels(), 5);
}

// A flood of changes, faster than any ramp, still keeps the streams
// bounded: the current one, four fading, four ending.
TEST_F(AudioSoundTest, AFloodOfMusicChangesKeepsAtMostNineStreams) {
    const char* names[] = {"left", "r1", "r2", "r3", "r4", "r5"};
    for (int i = 0; i < 40; ++i) {
        playMusic(names[i % 6]);
        ASSERT_LE(mixActiveChannels(), 9) << "after change " << i;
    }
    EXPECT_EQ(currentMusicName(), "r3");
    seconds(5.5);  // the last fade has ended
    EXPECT_EQ(mixActiveChannels(), 1);
}

TEST_F(AudioSoundTest, PauseSwitchKeepsPositionAndCarriesOver) {
    toggleMusicPause();  // no music: nothing happens
    EXPECT_FALSE(soundVolumes().musicStopped);
    setMusicVolume(1);
    EXPECT_FLOAT_EQ(soundVolumes().music, 0.5f);

    playMusic("left");
    MixChannel c = currentMusicChannel();
    seconds(0.5);
    int64_t at = mixChannelPlayedFrames(c);
    toggleMusicPause();
    EXPECT_TRUE(soundVolumes().musicStopped);
    Energy paused = energyOf(seconds(1));
    EXPECT_EQ(paused.l, 0.0);
    EXPECT_EQ(mixChannelPlayedFrames(c), at);
    toggleMusicPause();
    EXPECT_FALSE(soundVolumes().musicStopped);
    seconds(0.1);
    EXPECT_EQ(mixChannelPlayedFrames(c), at + 4410);

    setMusicVolume(-1);
    EXPECT_FLOAT_EQ(soundVolumes().music, 0.48f);
    float v = 0;
    mixGetAttribute(c, MixAttrib::Vol, &v);
    EXPECT_FLOAT_EQ(v, 0.48f);

    toggleMusicPause();
    music.clear();
    playMusic("right");  // paused state carries over to the next music
    EXPECT_EQ(music, (std::vector<std::string>{"music-fade left", "music right", "music-pause"}));
    EXPECT_EQ(mixChannelState(currentMusicChannel()), MixState::Paused);
    seconds(5.1);
    EXPECT_EQ(energyOf(seconds(0.5)).r, 0.0);
}

// The receive thread changes the music while the player presses the pause
// switch and the volume keys.  Whatever the interleaving, the music that
// ends up current is paused exactly when the pause switch says so, plays at
// the music volume, and every replaced music fades out and is freed (a volume key
// that reached a music already fading would end its fade).  Under
// ThreadSanitizer this also shows the settings are not raced on.
TEST_F(AudioSoundTest, MusicKeysDuringMusicChangesLeaveAConsistentState) {
    // The events, replayed in the order they came, must tell the same story.
    std::mutex eventsMu;
    std::vector<std::string> events;
    setMusicEventObserver([&](std::string_view e, std::string_view) {
        std::lock_guard<std::mutex> lock(eventsMu);
        events.emplace_back(e);
    });
    std::atomic<bool> done{false};
    std::atomic<int> presses{0};
    std::thread receive([&] {
        while (presses.load() == 0) std::this_thread::yield();
        for (int i = 0; i < 40; ++i) playMusic(i % 2 ? "right" : "left");
        done = true;
    });
    while (!done.load()) {
        toggleMusicPause();
        setMusicVolume(presses++ % 2 ? 1 : -1);
    }
    receive.join();
    bool heardPaused = false;
    for (const std::string& e : events) {
        if (e == "music" || e == "music-resume") heardPaused = false;
        if (e == "music-pause") heardPaused = true;
    }
    EXPECT_EQ(heardPaused, soundVolumes().musicStopped);

    MixChannel c = currentMusicChannel();
    EXPECT_EQ(mixChannelState(c),
              soundVolumes().musicStopped ? MixState::Paused : MixState::Playing);
    float v = -1;
    ASSERT_TRUE(mixGetAttribute(c, MixAttrib::Vol, &v));
    EXPECT_FLOAT_EQ(v, soundVolumes().music);
    seconds(5.1);
    EXPECT_EQ(mixActiveChannels(), 1);
    EXPECT_EQ(mixChannelState(c),
              soundVolumes().musicStopped ? MixState::Paused : MixState::Playing);
}

TEST_F(AudioSoundTest, NoMainWindowPlaysNothing) {
    RecordingUi* r = &ui;
    r->closeWindow();
    started.clear();
    playSound("door", 1);
    EXPECT_TRUE(started.empty());
}

TEST_F(AudioSoundTest, ToneIsHeardAtItsFrequencyAndLength) {
    playTone(1000, 100);
    std::vector<float> out = sink.render(8820);
    EXPECT_NEAR(dominantHz(std::vector<float>(out.begin(), out.begin() + 8000)), 1000.0, 10.0);
    EXPECT_EQ(energyOf(std::vector<float>(out.begin() + 2 * 4410, out.end())).l, 0.0);
    EXPECT_EQ(mixActiveChannels(), 0);
}

TEST_F(AudioSoundTest, MusicAtAnotherRateIsResampledAndLoopsWithoutGaps) {
    setMusicVolumeTo(1.0f);
    playMusic("slow");  // 0.3 s at 22050 Hz, looping: several loops in 1.2 s
    std::vector<float> out = seconds(1.2);
    EXPECT_NEAR(dominantHz(out), 440.0, 3.0);
    // Every 50 ms window carries the tone: no underrun or loop gap.
    for (size_t at = 0; at + 4410 <= out.size(); at += 4410) {
        Energy e = energyOf(std::vector<float>(out.begin() + long(at), out.begin() + long(at + 4410)));
        ASSERT_GT(e.l, 50.0) << "window at frame " << at / 2;
    }
}
}  // namespace
