#include "speech/speech.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/dynlib.h"
#include "platform/speech_backend.h"
#include "platform/text.h"
#include "speech/dll_entry.h"

namespace {

// The unit's state, one record.  `mu` guards everything but the atomics,
// which any thread reads without it.  Written by detection and back-end
// selection (UI thread, before other threads start, or tests between runs)
// and by the voice switch (UI thread); speechReset() restores it.  The
// front-end's selection (ClientOptions::selectSpeech) installs the back-end,
// so resetCore() leaves this unit alone.
struct SpeechState {
    std::mutex mu;
    std::atomic<int> current{kSpeechNone};
    // The voice switch: written by the UI thread, read by every speaking
    // thread.
    std::atomic<bool> sapiEnabled{false};
    // True when the client speaks menu items itself (the voice back-end is
    // in use); false under a screen reader, which follows the list.  Follows
    // back-end selection; read on any thread.
    std::atomic<bool> speakMenuOnItemChange{false};
    SpeechBackend* backend = nullptr;              // the selected back-end, or none
    std::unique_ptr<SpeechBackend> owned;          // owns `backend` when detection made it
    std::vector<std::unique_ptr<DynLib>> libraries;  // loaded ones stay until reset
    SpeechPlatform platform;
};

SpeechState speechState;

template <typename Fn>
Fn entry(DynLib& lib, const char* name) {
    return reinterpret_cast<Fn>(lib.symbol(name));
}

// CP1252 -> NUL-terminated UTF-16.  Every CP1252 character is in the Basic
// Multilingual Plane, so UTF-8 sequences are at most three bytes long.
std::u16string toUtf16(const std::string& cp1252) {
    std::string u8 = cp1252ToUtf8(cp1252);
    std::u16string out;
    out.reserve(cp1252.size() + 1);
    for (size_t i = 0; i < u8.size();) {
        unsigned char c = static_cast<unsigned char>(u8[i]);
        char32_t cp;
        if (c < 0x80) {
            cp = c;
            i += 1;
        } else if (c < 0xE0) {
            cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(u8[i + 1]) & 0x3Fu);
            i += 2;
        } else {
            cp = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(u8[i + 1]) & 0x3Fu) << 6) |
                 (static_cast<unsigned char>(u8[i + 2]) & 0x3Fu);
            i += 3;
        }
        out += static_cast<char16_t>(cp);
    }
    return out;
}

struct JawsSpeech : SpeechBackend {
    JfwSayStringFn say;
    explicit JawsSpeech(JfwSayStringFn f) : say(f) {}
    // JAWS takes the ANSI text unchanged and shows its own braille.
    void speak(const std::string& text, bool interrupt) override {
        say(text.c_str(), interrupt ? 1 : 0);
    }
};

struct NvdaSpeech : SpeechBackend {
    NvdaTextFn speakText;
    NvdaCancelFn cancelSpeech;
    NvdaTextFn brailleMessage;
    void speak(const std::string& text, bool interrupt) override {
        std::u16string w = toUtf16(text);
        if (interrupt) cancelSpeech();
        speakText(w.c_str());
    }
    void braille(const std::string& text) override {
        std::u16string w = toUtf16(text);
        brailleMessage(w.c_str());
    }
};

struct SapiSpeech : SpeechBackend {
    SapiSayFn say;
    SapiSetRateFn setRateFn;
    SapiGetRateFn getRateFn;
    void speak(const std::string& text, bool interrupt) override {
        say(text.c_str(), interrupt ? 1 : 0);
    }
    int rate() override { return getRateFn(); }
    void setRate(int r) override { setRateFn(r); }
};

// The loaders, in detection order.  Each runs with speechState.mu held, may write
// `current` before it knows it succeeds (the last writer before success, or
// the final 0, is what stays), and on success leaves the back-end selected.

DynLib* loadLibrary(const char* name) {
    if (!speechState.platform.libraries) return nullptr;
    std::unique_ptr<DynLib> lib = speechState.platform.libraries->load(name);
    if (!lib) return nullptr;
    // Libraries are never unloaded during the run: a later call may still be
    // running on another thread when a library would otherwise go away.
    speechState.libraries.push_back(std::move(lib));
    return speechState.libraries.back().get();
}

bool select(std::unique_ptr<SpeechBackend> b) {
    speechState.owned = std::move(b);
    speechState.backend = speechState.owned.get();
    return true;
}

bool jfwLoad() {
    const SpeechPlatform& p = speechState.platform;
    if (!p.jawsWindowExists || !p.jawsWindowExists()) return false;
    DynLib* lib = loadLibrary("jfwapi.dll");
    if (!lib) return false;
    auto say = entry<JfwSayStringFn>(*lib, "JFWSayString");
    speechState.current = kSpeechJaws;
    if (!say) return false;
    return select(std::make_unique<JawsSpeech>(say));
}

bool nvdaLoad(const char* file, int id) {
    DynLib* lib = loadLibrary(file);
    if (!lib) return false;
    auto running = entry<NvdaTestIfRunningFn>(*lib, "nvdaController_testIfRunning");
    if (!running || running() != 0) return false;
    auto b = std::make_unique<NvdaSpeech>();
    b->speakText = entry<NvdaTextFn>(*lib, "nvdaController_speakText");
    b->cancelSpeech = entry<NvdaCancelFn>(*lib, "nvdaController_cancelSpeech");
    b->brailleMessage = entry<NvdaTextFn>(*lib, "nvdaController_brailleMessage");
    speechState.current = id;
    if (!b->speakText || !b->cancelSpeech || !b->brailleMessage) return false;
    return select(std::move(b));
}

bool nvda32Load() {
    if (speechState.platform.program64Bit) return false;
    return nvdaLoad("nvdaControllerClient32.dll", kSpeechNvda32);
}

bool nvda64Load() {
    if (!speechState.platform.program64Bit &&
        (!speechState.platform.isIn64BitMode || !speechState.platform.isIn64BitMode()))
        return false;
    return nvdaLoad("nvdaControllerClient64.dll", kSpeechNvda64);
}

bool nvdaCommonLoad() { return nvdaLoad("nvdaControllerClient.dll", kSpeechNvda); }

bool fromHook(const std::function<std::unique_ptr<SpeechBackend>()>& hook, int id) {
    if (!hook) return false;
    std::unique_ptr<SpeechBackend> b = hook();
    if (!b) return false;
    speechState.current = id;
    return select(std::move(b));
}

bool weLoad() { return fromHook(speechState.platform.windowEyes, kSpeechWindowEyes); }

bool screenReaderLoad() { return fromHook(speechState.platform.screenReader, kSpeechScreenReader); }

bool sapiLoad() {
    DynLib* lib = loadLibrary("sapi5.dll");
    if (!lib) {
        if (!fromHook(speechState.platform.voice, kSpeechVoice)) return false;
        speechState.speakMenuOnItemChange = true;
        return true;
    }
    speechState.current = kSpeechVoice;
    auto b = std::make_unique<SapiSpeech>();
    auto init = entry<SapiInitFn>(*lib, "sapiInit");
    b->say = entry<SapiSayFn>(*lib, "sapiSay");
    b->setRateFn = entry<SapiSetRateFn>(*lib, "sapiSetRate");
    b->getRateFn = entry<SapiGetRateFn>(*lib, "sapiGetRate");
    if (!init || !b->say || !b->setRateFn || !b->getRateFn) return false;
    if (init() == 0) return false;
    speechState.speakMenuOnItemChange = true;
    return select(std::move(b));
}

}  // namespace

void setSpeechPlatform(SpeechPlatform platform) {
    std::lock_guard<std::mutex> lock(speechState.mu);
    speechState.platform = std::move(platform);
}

bool autodetectScreenReader() {
    std::lock_guard<std::mutex> lock(speechState.mu);
    speechState.backend = nullptr;
    speechState.owned.reset();
    // The client speaks menu items itself only when the voice is what was
    // finally selected, not merely because its library loaded.
    speechState.speakMenuOnItemChange = false;
    for (bool (*loader)() : {jfwLoad, nvda32Load, nvda64Load, nvdaCommonLoad, weLoad,
                             screenReaderLoad, sapiLoad}) {
        if (loader()) return true;
    }
    speechState.current = kSpeechNone;
    speechState.backend = nullptr;
    speechState.owned.reset();
    return false;
}

int speechCurrent() { return speechState.current; }

bool speechSpeaksMenus() { return speechState.speakMenuOnItemChange; }

void sayString(const std::string& s, bool interrupt) {
    std::lock_guard<std::mutex> lock(speechState.mu);
    SpeechBackend* b = speechState.backend;
    if (!b) return;
    if (speechState.current == kSpeechVoice) {
        if (speechState.sapiEnabled) b->speak(s, interrupt);
        return;
    }
    b->speak(s, interrupt);
    b->braille(s);
}

void sapiEnable(bool enabled) { speechState.sapiEnabled = enabled; }

bool sapiIsEnabled() { return speechState.sapiEnabled; }

void sapiSpeedChange(int x) {
    std::lock_guard<std::mutex> lock(speechState.mu);
    SpeechBackend* b = speechState.backend;
    if (speechState.current != kSpeechVoice || !b) return;
    int n = b->rate() + x;
    if (n < 0)
        n = 0;
    else if (n > 100)
        n = 100;
    b->setRate(n);
    // Straight to the voice, not through sayString: heard even while the
    // voice is switched off, so the player hears the rate change.
    b->speak(x < 0 ? "Moins vite" : "Plus vite", true);
}

void sapiSwitch() {
    sapiEnable(!sapiIsEnabled());
    if (sapiIsEnabled()) sayString("Voix SAPI activ\xE9" "e", true);
}

void selectSpeechBackend(int current, SpeechBackend* backend) {
    std::lock_guard<std::mutex> lock(speechState.mu);
    speechState.owned.reset();
    speechState.backend = backend;
    speechState.current = backend ? current : kSpeechNone;
    speechState.speakMenuOnItemChange = backend && current == kSpeechVoice;
}

void setSpeechBackend(SpeechBackend* backend) { selectSpeechBackend(kSpeechScreenReader, backend); }

SpeechBackend* speechBackend() {
    std::lock_guard<std::mutex> lock(speechState.mu);
    return speechState.backend;
}

void speechReset() {
    std::lock_guard<std::mutex> lock(speechState.mu);
    speechState.backend = nullptr;
    speechState.owned.reset();
    speechState.libraries.clear();
    speechState.platform = SpeechPlatform{};
    speechState.current = kSpeechNone;
    speechState.sapiEnabled = false;
    speechState.speakMenuOnItemChange = false;
}
