#include "audio/sound.h"

#include <charconv>
#include <cmath>
#include <map>
#include <mutex>
#include <numbers>
#include <vector>

#include "net/config.h"
#include "platform/file_names.h"
#include "platform/ui.h"

namespace {

constexpr size_t kMaxNameBytes = 248;  // "sounds/" + name + ".ogg" in 260 bytes
constexpr int kMusicFadeMs = 5000;
// What all cached samples may hold, in bytes of decoded float PCM: a
// minute of stereo at 44.1 kHz is about 21 MB, and the game's effects are
// short, so this leaves room for every honest server while keeping a 32-bit
// process well inside its address space.
constexpr size_t kSampleMemoryCap = sizeof(void*) >= 8 ? size_t(256) << 20 : size_t(96) << 20;

// Case folding for CP1252: ASCII letters and the accented capitals.
unsigned char fold(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    if (c == 0x8A || c == 0x8C || c == 0x8E) return c + 16;
    if (c == 0x9F) return 0xFF;
    return c;
}

struct FoldLess {
    bool operator()(const std::string& a, const std::string& b) const {
        size_t n = std::min(a.size(), b.size());
        for (size_t i = 0; i < n; ++i) {
            unsigned char x = fold(static_cast<unsigned char>(a[i]));
            unsigned char y = fold(static_cast<unsigned char>(b[i]));
            if (x != y) return x < y;
        }
        return a.size() < b.size();
    }
};

// The process-wide audio state of the client: the sample cache and the
// "music" / "currentMusic" pair.  Guarded by `mu`; `loadMu` serialises file
// loads so a name is decoded once even when two threads ask for it.
//
// `musicMu` makes each music operation one step: playMusic (receive
// thread) and the pause switch and volume keys (UI thread) all read or
// write conf.muVol and conf.muStopped, and the current music must end up
// paused exactly when conf.muStopped says so, at conf.muVol, whatever order
// they run in.  It is held over the whole of playMusic, file open included,
// so a music key pressed meanwhile waits those few milliseconds.  Taken
// before `mu` and the mixer's locks; nothing holding it waits for the UI
// thread.
struct SoundState {
    std::mutex musicMu;
    std::mutex mu;
    std::mutex loadMu;
    std::map<std::string, MixSample, FoldLess> cache;
    std::map<std::pair<int, int>, MixSample> tones;
    MixChannel music = 0;
    // The previous music while it fades out; a newer change stops it at
    // once, so at most two streams exist.
    MixChannel fading = 0;
    std::optional<std::string> currentMusic;
    std::string folder = "sounds";
    bool (*menuPosition)(int*, int*) = nullptr;
    PlayRequestObserver requestObserver;
    SoundStartObserver startObserver;
    MusicEventObserver musicObserver;
};

SoundState& S() {
    static SoundState s;
    return s;
}

std::string pathOf(std::string_view name) {
    std::lock_guard<std::mutex> lock(S().mu);
    return S().folder + "/" + std::string(name) + ".ogg";
}

void musicEvent(std::string_view event, std::string_view arg) {
    MusicEventObserver o;
    {
        std::lock_guard<std::mutex> lock(S().mu);
        o = S().musicObserver;
    }
    if (o) o(event, arg);
}

// The leading number of a token, as the server writes it ("0.5", "-1",
// "12"), read the same whatever the locale.  No number, or a value that is
// not finite, gives 0.  Kept in double: a value beyond float range must be
// clamped before it becomes a float, never cast.
double leadingNumber(std::string_view t) {
    if (!t.empty() && t[0] == '+') t.remove_prefix(1);
    if (t.empty() || !(std::isdigit(static_cast<unsigned char>(t[0])) || t[0] == '.' || t[0] == '-'))
        return 0.0;
    double v = 0;
    auto r = std::from_chars(t.data(), t.data() + t.size(), v, std::chars_format::general);
    if (r.ec != std::errc() || !std::isfinite(v)) return 0.0;
    return v;
}

std::vector<std::string_view> splitSpaces(std::string_view s, size_t max) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (out.size() < max) {
        while (i < s.size() && s[i] == ' ') ++i;
        if (i >= s.size()) break;
        size_t j = s.find(' ', i);
        if (j == std::string_view::npos) j = s.size();
        out.push_back(s.substr(i, j - i));
        i = j;
    }
    return out;
}

// The positional rule: a pan beyond -1..1 names a column of the current
// menu's grid, heard relative to the cursor's column.  Computed in double so
// no server value can overflow an integer.
float positionalPan(double pan) {
    if (pan >= -1.0 && pan <= 1.0) return static_cast<float>(pan);
    // Outside any menu a pan beyond the range is heard at its side.
    const float side = pan < 0 ? -1.0f : 1.0f;
    bool (*source)(int*, int*);
    {
        std::lock_guard<std::mutex> lock(S().mu);
        source = S().menuPosition;
    }
    int width = 0, selection = 0;
    if (!source || !source(&width, &selection)) return side;  // no menu open
    if (width <= 0) return 0.0f;
    double t = std::trunc(pan);
    double sndpos = std::fabs(t) - 2.0;
    double menupos = double(selection % width);
    double sgn = pan < 0 ? -1.0 : 1.0;
    double p = 2.0 * (sndpos - menupos) / double(width) * sgn;
    return static_cast<float>(std::clamp(p, -1.0, 1.0));
}

void playSoundBody(std::string_view sz, int flags) {
    bool background = !(flags & 1) && !ui().isMainWindowActive() && !ui().isInDialog();
    if (((flags & 2) != 0) != background) return;

    std::vector<std::string_view> tok = splitSpaces(sz, 4);
    if (tok.empty()) return;
    double vol = tok.size() > 1 ? leadingNumber(tok[1]) : 1.0;
    double freq = tok.size() > 3 ? leadingNumber(tok[3]) : 0.0;
    float pan = positionalPan(tok.size() > 2 ? leadingNumber(tok[2]) : 0.0);

    MixSample sample = getSound(tok[0]);
    if (!sample) return;
    MixChannel ch = mixSampleGetChannel(sample);
    if (!ch) return;
    // The player's own volume first, then the bound: a huge server value
    // times a muted player is 0, never 0 x inf.
    double fx = std::isfinite(configState.conf.fxVol) ? double(configState.conf.fxVol) : 0.0;
    float volume = static_cast<float>(std::clamp(fx * vol, 0.0, 1.0));
    mixSetAttribute(ch, MixAttrib::Vol, volume);
    mixSetAttribute(ch, MixAttrib::Pan, pan);
    float rate = 0;
    if (freq != 0) {
        float own = 0;
        mixGetAttribute(ch, MixAttrib::Freq, &own);
        // Within 1 Hz .. 1 GHz before the cast (the mixer keeps its own
        // narrower range); an underflow to 0 would mean "own rate".
        double r = double(own) * std::exp2(std::clamp(freq, -1200.0, 1200.0) / 12.0);
        mixSetAttribute(ch, MixAttrib::Freq, static_cast<float>(std::clamp(r, 1.0, 1e9)));
        mixGetAttribute(ch, MixAttrib::Freq, &rate);
    }
    mixPlay(ch, false);

    SoundStartObserver o;
    {
        std::lock_guard<std::mutex> lock(S().mu);
        o = S().startObserver;
    }
    if (o) o(tok[0], volume, pan, rate);
}

}  // namespace

bool isSafeSoundName(std::string_view name) {
    return name.size() <= kMaxNameBytes && isSafeRelativePath(name);
}

void setPlayRequestObserver(PlayRequestObserver o) {
    std::lock_guard<std::mutex> lock(S().mu);
    S().requestObserver = std::move(o);
}

void setSoundStartObserver(SoundStartObserver o) {
    std::lock_guard<std::mutex> lock(S().mu);
    S().startObserver = std::move(o);
}

void setMusicEventObserver(MusicEventObserver o) {
    std::lock_guard<std::mutex> lock(S().mu);
    S().musicObserver = std::move(o);
}

void setMenuPositionSource(bool (*fn)(int* width, int* selection)) {
    std::lock_guard<std::mutex> lock(S().mu);
    S().menuPosition = fn;
}

void setSoundsFolder(std::string folder) {
    std::lock_guard<std::mutex> lock(S().mu);
    S().folder = std::move(folder);
}

MixSample getSound(std::string_view name) {
    if (!isSafeSoundName(name)) return 0;
    std::string key(name);
    std::lock_guard<std::mutex> load(S().loadMu);
    {
        std::lock_guard<std::mutex> lock(S().mu);
        auto it = S().cache.find(key);
        if (it != S().cache.end() && it->second) return it->second;
    }
    // Past the cap nothing new is decoded; a sample that would cross it is
    // dropped (samples are never freed before mixReset, so the mixer's
    // count is what the cache holds).  A failure is not remembered: the
    // file may be downloaded later, and a name kept per failure would let
    // a server grow memory with names of missing files.
    if (mixSampleBytes() >= kSampleMemoryCap) return 0;
    MixSample s = mixSampleLoad(pathOf(name), kMixMaxPlaybacks, kSampleMemoryCap);
    if (!s) return 0;
    std::lock_guard<std::mutex> lock(S().mu);
    S().cache[key] = s;
    return s;
}

size_t soundCacheEntries() {
    std::lock_guard<std::mutex> lock(S().mu);
    return S().cache.size();
}

void playSound(std::string_view sz, int flags) {
    PlayRequestObserver o;
    {
        std::lock_guard<std::mutex> lock(S().mu);
        o = S().requestObserver;
    }
    if (o) o(sz, flags);
    std::string copy(sz);  // the caller's bytes may not outlive a queued task
    uiCall([&] { playSoundBody(copy, flags); });
}

void playMusic(std::string_view name) {
    // A refused name is no request at all: the current music goes on.
    if (!isSafeSoundName(name)) return;
    std::lock_guard<std::mutex> music(S().musicMu);
    MixChannel old, olderFading;
    std::optional<std::string> oldName;
    {
        std::lock_guard<std::mutex> lock(S().mu);
        if (S().currentMusic && *S().currentMusic == name) return;
        old = S().music;
        oldName = S().currentMusic;
        olderFading = S().fading;
        S().fading = 0;
    }
    // At most the new stream and one fading: an older fade ends now (a
    // stale handle, once that fade has finished, is refused harmlessly).
    if (olderFading && olderFading != old) mixStop(olderFading);
    if (old && mixSlideAttribute(old, MixAttrib::Vol, -1.0f, kMusicFadeMs)) {
        {
            std::lock_guard<std::mutex> lock(S().mu);
            S().fading = old;
        }
        musicEvent("music-fade", oldName ? *oldName : std::string());
    }

    MixChannel c = mixStreamCreateFile(pathOf(name), true);
    if (!c) return;
    mixPlay(c, true);
    mixSetAttribute(c, MixAttrib::Vol, configState.conf.muVol);
    bool paused = configState.conf.muStopped;
    if (paused) mixPause(c);
    {
        std::lock_guard<std::mutex> lock(S().mu);
        S().music = c;
        S().currentMusic = std::string(name);
    }
    musicEvent("music", name);
    if (paused) musicEvent("music-pause", "");
}

void preloadSounds(std::string_view fl) {
    for (std::string_view name : splitSpaces(fl, fl.size())) getSound(name);
}

void setMusicVolume(int n) {
    std::lock_guard<std::mutex> music(S().musicMu);
    MixChannel c = currentMusicChannel();
    if (!c) return;
    // Once the stream has gone (ended and freed) the setting is the base.
    float x = configState.conf.muVol;
    mixGetAttribute(c, MixAttrib::Vol, &x);
    x = std::clamp(x + float(n) / 50.0f, 0.0f, 1.0f);
    configState.conf.muVol = x;
    mixSetAttribute(c, MixAttrib::Vol, x);
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, x);
    musicEvent("music-volume", std::string_view(buf, size_t(r.ptr - buf)));
}

void setSoundVolume(int n) {
    configState.conf.fxVol = std::clamp(configState.conf.fxVol + float(n) / 50.0f, 0.0f, 1.0f);
    playSound("menubounds", 0);
}

void toggleMusicPause() {
    std::lock_guard<std::mutex> music(S().musicMu);
    MixChannel c = currentMusicChannel();
    if (!c) return;
    if (configState.conf.muStopped) {
        mixPlay(c, false);
        musicEvent("music-resume", "");
    } else {
        mixPause(c);
        musicEvent("music-pause", "");
    }
    configState.conf.muStopped = !configState.conf.muStopped;
}

void playTone(int hz, int ms) {
    hz = std::clamp(hz, 20, 20000);
    ms = std::clamp(ms, 1, 10000);
    MixSample s;
    {
        std::lock_guard<std::mutex> lock(S().mu);
        auto it = S().tones.find({hz, ms});
        s = it == S().tones.end() ? 0 : it->second;
    }
    if (!s) {
        Pcm pcm;
        pcm.channels = 1;
        pcm.rate = kMixRate;
        size_t n = size_t(int64_t(ms) * kMixRate / 1000);
        pcm.data.resize(n);
        const size_t edge = std::min<size_t>(n / 2, kMixRate / 200);  // 5 ms ramps, no clicks
        for (size_t i = 0; i < n; ++i) {
            float env = 1.0f;
            if (i < edge) env = float(i) / float(edge);
            if (n - 1 - i < edge) env = float(n - 1 - i) / float(edge);
            pcm.data[i] = 0.5f * env * float(std::sin(2.0 * std::numbers::pi * hz * double(i) / kMixRate));
        }
        s = mixSampleFromPcm(std::move(pcm), 8);
        std::lock_guard<std::mutex> lock(S().mu);
        S().tones[{hz, ms}] = s;
    }
    MixChannel c = mixSampleGetChannel(s);
    if (c) mixPlay(c, false);
}

MixChannel currentMusicChannel() {
    std::lock_guard<std::mutex> lock(S().mu);
    return S().music;
}

std::optional<std::string> currentMusicName() {
    std::lock_guard<std::mutex> lock(S().mu);
    return S().currentMusic;
}

void soundReset() {
    std::lock_guard<std::mutex> music(S().musicMu);
    mixReset();
    std::lock_guard<std::mutex> lock(S().mu);
    S().cache.clear();
    S().tones.clear();
    S().music = 0;
    S().fading = 0;
    S().currentMusic.reset();
    S().folder = "sounds";
    S().menuPosition = nullptr;
    S().requestObserver = nullptr;
    S().startObserver = nullptr;
    S().musicObserver = nullptr;
}
