// Back-end selection and the speech commands, over fake libraries and hooks.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/dynlib.h"
#include "platform/speech_backend.h"
#include "speech/dll_entry.h"
#include "speech/record/record_backend.h"
#include "speech/speech.h"

namespace {

// Every call made into a fake library, in order: "name:text:flag".
std::vector<std::string> calls;
unsigned long nvdaRunning = 0;  // status returned by the fake testIfRunning
int sapiInitResult = 1;
int sapiRate = 50;

std::string narrow(const char16_t* w) {
    // The fakes record UTF-16 as its code units' low bytes; "\xE9" checks é.
    std::string s;
    for (; *w; ++w) s += *w < 0x100 ? static_cast<char>(*w) : '?';
    return s;
}

extern "C" {
int KORDO_WINAPI fakeJfwSay(const char* s, int i) {
    calls.push_back("jfw:" + std::string(s) + ":" + std::to_string(i));
    return 1;
}
unsigned long KORDO_WINAPI fakeNvdaTest() { return nvdaRunning; }
unsigned long KORDO_WINAPI fakeNvdaSpeak(const char16_t* s) {
    calls.push_back("nvdaSpeak:" + narrow(s));
    return 0;
}
unsigned long KORDO_WINAPI fakeNvdaCancel() {
    calls.push_back("nvdaCancel");
    return 0;
}
unsigned long KORDO_WINAPI fakeNvdaBraille(const char16_t* s) {
    calls.push_back("nvdaBraille:" + narrow(s));
    return 0;
}
int KORDO_WINAPI fakeSapiInit() {
    calls.push_back("sapiInit");
    return sapiInitResult;
}
int KORDO_WINAPI fakeSapiSay(const char* s, int i) {
    calls.push_back("sapi:" + std::string(s) + ":" + std::to_string(i));
    return 1;
}
int KORDO_WINAPI fakeSapiSetRate(int r) {
    sapiRate = r;
    return 1;
}
int KORDO_WINAPI fakeSapiGetRate() { return sapiRate; }
}

using Symbols = std::map<std::string, void*>;

template <typename F>
void* sym(F f) {
    return reinterpret_cast<void*>(f);
}

const Symbols kJaws = {{"JFWSayString", sym(fakeJfwSay)}};
const Symbols kNvda = {{"nvdaController_testIfRunning", sym(fakeNvdaTest)},
                       {"nvdaController_speakText", sym(fakeNvdaSpeak)},
                       {"nvdaController_cancelSpeech", sym(fakeNvdaCancel)},
                       {"nvdaController_brailleMessage", sym(fakeNvdaBraille)}};
const Symbols kSapi = {{"sapiInit", sym(fakeSapiInit)},
                       {"sapiSay", sym(fakeSapiSay)},
                       {"sapiSetRate", sym(fakeSapiSetRate)},
                       {"sapiGetRate", sym(fakeSapiGetRate)}};

Symbols without(Symbols s, const std::string& name) {
    s.erase(name);
    return s;
}

struct FakeLib : DynLib {
    Symbols symbols;
    void* symbol(const char* name) override {
        auto it = symbols.find(name);
        return it == symbols.end() ? nullptr : it->second;
    }
};

// Libraries by file name; records every load attempt.
struct FakeLibraries : DynLibLoader {
    std::map<std::string, Symbols> files;
    std::vector<std::string> attempts;
    std::unique_ptr<DynLib> load(const std::string& name) override {
        attempts.push_back(name);
        auto it = files.find(name);
        if (it == files.end()) return nullptr;
        auto lib = std::make_unique<FakeLib>();
        lib->symbols = it->second;
        return lib;
    }
};

// A voice stand-in with a rate, recording what it says.
struct FakeVoice : RecordingSpeech {
    int r = 50;
    int rate() override { return r; }
    void setRate(int v) override { r = v; }
};

class speechTest : public ::testing::Test {
protected:
    FakeLibraries libs;
    void SetUp() override {
        speechReset();
        calls.clear();
        nvdaRunning = 0;
        sapiInitResult = 1;
        sapiRate = 50;
    }
    void TearDown() override { speechReset(); }
    // Runs detection over `libs` and the given hooks.
    bool detect(SpeechPlatform p = {}) {
        p.libraries = &libs;
        setSpeechPlatform(std::move(p));
        return autodetectScreenReader();
    }
};

// Owned by detection once the hook returns it; the test keeps a view.
template <typename T>
std::function<std::unique_ptr<SpeechBackend>()> hookTo(T** view) {
    return [view] {
        auto b = std::make_unique<T>();
        *view = b.get();
        return std::unique_ptr<SpeechBackend>(std::move(b));
    };
}

struct DetectCase {
    const char* name;
    std::map<std::string, Symbols> files;
    bool jawsWindow;
    bool is64;
    unsigned long nvdaStatus;
    int sapiInit;
    int expected;
};

TEST_F(speechTest, DetectionKeepsTheFirstLoaderThatSucceedsOrZero) {
    const std::vector<DetectCase> cases = {
        {"nothing", {}, true, true, 0, 1, 0},
        {"jaws", {{"jfwapi.dll", kJaws}, {"sapi5.dll", kSapi}}, true, false, 0, 1, 1},
        {"jaws library without its window", {{"jfwapi.dll", kJaws}}, false, false, 0, 1, 0},
        {"jaws entry missing, nvda32 next",
         {{"jfwapi.dll", {}}, {"nvdaControllerClient32.dll", kNvda}}, true, false, 0, 1, 3},
        {"nvda32 before nvda common",
         {{"nvdaControllerClient32.dll", kNvda}, {"nvdaControllerClient.dll", kNvda}}, false,
         false, 0, 1, 3},
        {"nvda64 on 64-bit", {{"nvdaControllerClient64.dll", kNvda}}, false, true, 0, 1, 4},
        {"nvda64 never on 32-bit", {{"nvdaControllerClient64.dll", kNvda}}, false, false, 0, 1, 0},
        {"nvda not running", {{"nvdaControllerClient.dll", kNvda}, {"sapi5.dll", kSapi}}, false,
         false, 1, 1, 6},
        {"nvda common", {{"nvdaControllerClient.dll", kNvda}}, false, false, 0, 1, 2},
        {"nvda braille entry missing: its value does not stay",
         {{"nvdaControllerClient.dll", without(kNvda, "nvdaController_brailleMessage")}}, false,
         false, 0, 1, 0},
        {"sapi", {{"sapi5.dll", kSapi}}, false, false, 0, 1, 6},
        {"sapiInit fails", {{"sapi5.dll", kSapi}}, false, false, 0, 0, 0},
        {"sapi entry missing", {{"sapi5.dll", without(kSapi, "sapiGetRate")}}, false, false, 0, 1,
         0},
    };
    for (const DetectCase& c : cases) {
        SCOPED_TRACE(c.name);
        speechReset();
        libs.files = c.files;
        nvdaRunning = c.nvdaStatus;
        sapiInitResult = c.sapiInit;
        SpeechPlatform p;
        p.jawsWindowExists = [&] { return c.jawsWindow; };
        p.isIn64BitMode = [&] { return c.is64; };
        EXPECT_EQ(detect(std::move(p)), c.expected != 0);
        EXPECT_EQ(speechCurrent(), c.expected);
        EXPECT_EQ(speechSpeaksMenus(), c.expected == kSpeechVoice);
    }
}

TEST_F(speechTest, LoadersRunInOrderAndSkipWhatCannotApply) {
    SpeechPlatform p;
    p.jawsWindowExists = [] { return false; };  // no window: jfwapi.dll is not even loaded
    p.isIn64BitMode = [] { return true; };
    std::vector<std::string> hooks;
    p.windowEyes = [&] {
        hooks.push_back("we:" + std::to_string(libs.attempts.size()));
        return nullptr;
    };
    p.screenReader = [&] {
        hooks.push_back("reader:" + std::to_string(libs.attempts.size()));
        return nullptr;
    };
    p.voice = [&] {
        hooks.push_back("voice:" + std::to_string(libs.attempts.size()));
        return nullptr;
    };
    EXPECT_FALSE(detect(std::move(p)));
    EXPECT_EQ(libs.attempts,
              (std::vector<std::string>{"nvdaControllerClient32.dll", "nvdaControllerClient64.dll",
                                        "nvdaControllerClient.dll", "sapi5.dll"}));
    // Window-Eyes and the screen reader between the NVDA libraries and the
    // voice; the voice stand-in only once sapi5.dll has failed to load.
    EXPECT_EQ(hooks, (std::vector<std::string>{"we:3", "reader:3", "voice:4"}));
    EXPECT_EQ(speechCurrent(), 0);
    sayString("rien", true);  // silent, and must not crash with no back-end
}

// A 64-bit client loads libraries of its own architecture only: the 32-bit
// NVDA library is never tried, the 64-bit one is tried whatever the WOW64
// test says, and it keeps its own value.
TEST_F(speechTest, A64BitProgramTriesOnlyThe64BitNvdaLibrary) {
    for (bool wow64 : {false, true}) {
        SCOPED_TRACE(wow64 ? "WOW64 test true" : "WOW64 test false");
        speechReset();
        libs.attempts.clear();
        libs.files = {{"nvdaControllerClient32.dll", kNvda}};
        SpeechPlatform p;
        p.program64Bit = true;
        p.isIn64BitMode = [wow64] { return wow64; };
        EXPECT_FALSE(detect(std::move(p)));
        EXPECT_EQ(libs.attempts,
                  (std::vector<std::string>{"nvdaControllerClient64.dll",
                                            "nvdaControllerClient.dll", "sapi5.dll"}));
        EXPECT_EQ(speechCurrent(), 0);
    }
    speechReset();
    libs.files = {{"nvdaControllerClient64.dll", kNvda}, {"nvdaControllerClient.dll", kNvda}};
    SpeechPlatform p;
    p.program64Bit = true;
    EXPECT_TRUE(detect(std::move(p)));
    EXPECT_EQ(speechCurrent(), kSpeechNvda64);
}

TEST_F(speechTest, SapiInitIsNotCalledWhenAnEntryIsMissing) {
    libs.files = {{"sapi5.dll", without(kSapi, "sapiSay")}};
    EXPECT_FALSE(detect());
    EXPECT_TRUE(calls.empty());
}

TEST_F(speechTest, HooksSelectWindowEyesThenScreenReaderThenVoice) {
    RecordingSpeech* we = nullptr;
    RecordingSpeech* reader = nullptr;
    FakeVoice* voice = nullptr;
    SpeechPlatform p;
    p.screenReader = hookTo(&reader);
    p.voice = hookTo(&voice);
    libs.files = {{"sapi5.dll", kSapi}};  // loses to the screen reader
    EXPECT_TRUE(detect(p));
    EXPECT_EQ(speechCurrent(), kSpeechScreenReader);
    EXPECT_FALSE(speechSpeaksMenus());

    speechReset();
    p.windowEyes = hookTo(&we);
    EXPECT_TRUE(detect(p));
    EXPECT_EQ(speechCurrent(), kSpeechWindowEyes);

    speechReset();
    libs.files.clear();
    SpeechPlatform onlyVoice;
    onlyVoice.voice = hookTo(&voice);
    EXPECT_TRUE(detect(onlyVoice));
    EXPECT_EQ(speechCurrent(), kSpeechVoice);
    EXPECT_TRUE(speechSpeaksMenus());
}

TEST_F(speechTest, NvdaCancelsSpeaksThenBraillesInUtf16) {
    libs.files = {{"nvdaControllerClient.dll", kNvda}};
    ASSERT_TRUE(detect());
    sayString("d\xE9" "connect\xE9", true);
    sayString("", false);  // an empty line is passed on, braille included
    EXPECT_EQ(calls, (std::vector<std::string>{"nvdaCancel", "nvdaSpeak:d\xE9" "connect\xE9",
                                               "nvdaBraille:d\xE9" "connect\xE9", "nvdaSpeak:",
                                               "nvdaBraille:"}));
    calls.clear();
    sayString("\x80", false);  // the euro sign is U+20AC, not U+0080
    EXPECT_EQ(calls, (std::vector<std::string>{"nvdaSpeak:?", "nvdaBraille:?"}));
}

TEST_F(speechTest, JawsGetsTheAnsiTextAndTheInterruptFlag) {
    libs.files = {{"jfwapi.dll", kJaws}};
    SpeechPlatform p;
    p.jawsWindowExists = [] { return true; };
    ASSERT_TRUE(detect(std::move(p)));
    sayString("\xE9t\xE9", true);
    sayString("b", false);
    EXPECT_EQ(calls, (std::vector<std::string>{"jfw:\xE9t\xE9:1", "jfw:b:0"}));
}

TEST_F(speechTest, ScreenReaderSpeaksAndBraillesEveryLineAndIgnoresRateCommands) {
    RecordingSpeech* reader = nullptr;
    SpeechPlatform p;
    p.screenReader = hookTo(&reader);
    ASSERT_TRUE(detect(std::move(p)));
    sayString("un", false);
    sayString("deux", true);
    sapiSpeedChange(5);
    sapiSpeedChange(-5);
    EXPECT_EQ(reader->lines(), (std::vector<SpokenLine>{{"un", false}, {"deux", true}}));
    EXPECT_EQ(reader->brailled(), (std::vector<std::string>{"un", "deux"}));
    // The voice switch only flips the flag here; the confirmation is spoken
    // by the screen reader.
    reader->clear();
    sapiSwitch();
    EXPECT_TRUE(sapiIsEnabled());
    EXPECT_EQ(reader->lines(), (std::vector<SpokenLine>{{"Voix SAPI activ\xE9" "e", true}}));
}

TEST_F(speechTest, VoiceIsOffUntilSwitchedOnAndSwitchingOffSaysNothing) {
    libs.files = {{"sapi5.dll", kSapi}};
    ASSERT_TRUE(detect());
    calls.clear();  // sapiInit
    EXPECT_FALSE(sapiIsEnabled());
    sayString("muet", false);
    EXPECT_TRUE(calls.empty());
    sapiSwitch();
    sayString("parle", false);
    sapiSwitch();
    sayString("muet encore", true);
    EXPECT_FALSE(sapiIsEnabled());
    EXPECT_EQ(calls,
              (std::vector<std::string>{"sapi:Voix SAPI activ\xE9" "e:1", "sapi:parle:0"}));
}

TEST_F(speechTest, RateChangesAreClampedAndAnnouncedEvenWithTheVoiceOff) {
    struct Case {
        int start, step, rate;
        const char* said;
    };
    const Case cases[] = {{50, 5, 55, "sapi:Plus vite:1"},   {50, -5, 45, "sapi:Moins vite:1"},
                          {100, 5, 100, "sapi:Plus vite:1"}, {98, 5, 100, "sapi:Plus vite:1"},
                          {0, -5, 0, "sapi:Moins vite:1"},   {3, -5, 0, "sapi:Moins vite:1"}};
    libs.files = {{"sapi5.dll", kSapi}};
    ASSERT_TRUE(detect());
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.start) + " " + std::to_string(c.step));
        calls.clear();
        sapiRate = c.start;
        sapiSpeedChange(c.step);
        EXPECT_EQ(sapiRate, c.rate);
        EXPECT_EQ(calls, (std::vector<std::string>{c.said}));
    }
    EXPECT_FALSE(sapiIsEnabled());
}

TEST_F(speechTest, VoiceStandInTakesTheRateCommands) {
    FakeVoice* voice = nullptr;
    SpeechPlatform p;
    p.voice = hookTo(&voice);
    ASSERT_TRUE(detect(std::move(p)));
    voice->r = 100;
    sapiSpeedChange(5);
    sayString("muet", false);
    EXPECT_EQ(voice->r, 100);
    EXPECT_EQ(voice->lines(), (std::vector<SpokenLine>{{"Plus vite", true}}));
    EXPECT_TRUE(voice->brailled().empty());
}

TEST_F(speechTest, InstalledBackendBypassesDetection) {
    RecordingSpeech rec;
    selectSpeechBackend(kSpeechVoice, &rec);
    EXPECT_TRUE(speechSpeaksMenus());
    sayString("muet", false);
    EXPECT_TRUE(rec.lines().empty());
    setSpeechBackend(&rec);
    EXPECT_EQ(speechCurrent(), kSpeechScreenReader);
    EXPECT_FALSE(speechSpeaksMenus());
    sayString("dit", false);
    EXPECT_EQ(rec.lines(), (std::vector<SpokenLine>{{"dit", false}}));
    setSpeechBackend(nullptr);
    EXPECT_EQ(speechCurrent(), 0);
}

}  // namespace
