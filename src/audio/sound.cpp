#include "audio/sound.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <numbers>
#include <thread>
#include <vector>

#include "platform/caps.h"
#include "platform/file_names.h"
#include "platform/thread_name.h"
#include "platform/ui.h"

namespace {

constexpr int kMusicFadeMs = 5000;
// The ramp that ends a fade early, past kMaxFadingMusic (platform/caps.h):
// short enough to free the stream at once, long enough to be no click.
constexpr int kQuickFadeMs = 30;

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

// A file as the failure memory knows it: a download or a copy that
// rewrites it changes its size or its modification time.
struct FileStamp {
    int64_t size = 0;
    int64_t mtimeNs = 0;
    bool operator==(const FileStamp&) const = default;
};

// The file's stamp, or nothing when there is no such file.
std::optional<FileStamp> stampOf(const std::string& path) {
#ifdef _WIN32
    struct _stat64 st;
    if (_stat64(path.c_str(), &st) != 0) return std::nullopt;
    return FileStamp{int64_t(st.st_size), int64_t(st.st_mtime) * 1000000000};
#else
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
#ifdef __linux__
    return FileStamp{int64_t(st.st_size),
                     int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
#else
    return FileStamp{int64_t(st.st_size), int64_t(st.st_mtime) * 1000000000};
#endif
#endif
}

// A load that failed, for the file as it was then.  A failure for lack of
// room holds only until sample memory may have been freed (the mixer's room
// epoch moved on).
struct Failure {
    FileStamp stamp;
    bool noRoom = false;
    uint64_t roomEpoch = 0;
    uint64_t order = 0;  // for forgetting the oldest
};

// A sound effect asked for, with everything the UI thread decided at the
// request (gating, volume, positional pan), so that starting it later needs
// nothing from that thread.  `play` false: a preload.
struct SoundRequest {
    std::string name;  // as the server wrote it; the start event shows it
    float volume = 1;  // fxVol x volume, within 0..1
    float pan = 0;
    double semitones = 0;
    bool play = false;
};

// The process-wide audio state of the client: the sample cache, the
// failure memory, the sound loader, and the "music" / "currentMusic" pair
// with the fading musics.
//
// `mu` guards the fields below it but `fading` and `stopping`.  `loadMu`
// serialises file loads (the loader's and getSound's), so a name is decoded
// once even when two threads ask for it; it is taken before `mu`, and `mu`
// before the mixer's locks.
//
// `musicMu` makes each music operation one step: playMusic (dispatch
// thread) and the pause switch and volume keys (UI thread) all read or
// write volumes.music and volumes.musicStopped, and the current music must
// end up paused exactly when musicStopped says so, at volumes.music,
// whatever order they run in.  It is held over the whole of playMusic, file
// open included, so a music key pressed meanwhile waits those few
// milliseconds.  Taken before `mu` and the mixer's locks; nothing holding it
// waits for the UI thread.  It alone guards `fading` and `stopping`.
//
// The sound loader is one thread, started at the first request that needs
// it, sleeping on `loaderWake` while `queue` is empty.  It takes the
// requests in order, loads each one's file unless cached or known to fail,
// and starts the plays.  A request counts in `waiting` from its queueing to
// the end of its start, so a later request for the same name queues behind
// it instead of starting first.
struct SoundState {
    // The mixer is built first, so it is destroyed after this record's
    // loader has stopped (statics go in the reverse order of their
    // construction).
    SoundState() { mixSampleBytes(); }
    ~SoundState();

    std::mutex musicMu;
    std::mutex loadMu;
    std::mutex mu;
    std::map<std::string, MixSample, FoldLess> cache;
    std::map<MixSample, std::string> cacheNames;  // the reverse, to forget evicted samples
    std::map<std::string, Failure, FoldLess> failures;
    uint64_t failureOrder = 0;
    size_t sampleCap = kMixSampleMemoryCap;
    size_t loadAttempts = 0;
    std::map<std::pair<int, int>, MixSample> tones;
    MixChannel music = 0;
    // Replaced musics fading out, oldest first (under musicMu).
    std::deque<MixChannel> fading;
    // Fades ended early, still ramping to silence (under musicMu).
    std::deque<MixChannel> stopping;
    std::optional<std::string> currentMusic;
    // The player's volumes: music and musicStopped under musicMu; effects
    // on the UI thread.
    SoundVolumes volumes;
    std::string folder = "sounds";
    PlayRequestObserver requestObserver;
    SoundStartObserver startObserver;
    MusicEventObserver musicObserver;

    std::deque<SoundRequest> queue;
    std::map<std::string, int, FoldLess> waiting;  // requests per name, queued or in hand
    size_t waitingPlays = 0;
    bool loaderBusy = false;  // the loader has a request in hand
    bool loaderStop = false;
    std::atomic<bool> loaderCancel{false};  // ends a decode under way
    std::condition_variable loaderWake;     // with mu: a request was queued, or stop
    std::condition_variable loaderIdle;     // with mu: the queue ran empty
    std::thread loader;
};

SoundState& S() {
    static SoundState s;
    return s;
}

// Stops the loader: the decode under way ends at its next chunk, and the
// requests still queued are dropped.  While it stops, new requests are
// dropped too.
void stopLoader() {
    SoundState& s = S();
    std::thread t;
    {
        std::lock_guard<std::mutex> lock(s.mu);
        s.loaderStop = true;
        s.loaderCancel = true;
        t = std::move(s.loader);
    }
    s.loaderWake.notify_all();
    if (t.joinable()) t.join();
    std::lock_guard<std::mutex> lock(s.mu);
    s.queue.clear();
    s.waiting.clear();
    s.waitingPlays = 0;
    s.loaderBusy = false;
    s.loaderStop = false;
    s.loaderCancel = false;
    s.loaderIdle.notify_all();
}

SoundState::~SoundState() {
    stopLoader();
}

std::string pathOfLocked(std::string_view name) {
    return S().folder + "/" + std::string(name) + ".ogg";
}

std::string pathOf(std::string_view name) {
    std::lock_guard<std::mutex> lock(S().mu);
    return pathOfLocked(name);
}

void musicEvent(std::string_view event, std::string_view arg) {
    MusicEventObserver o;
    {
        std::lock_guard<std::mutex> lock(S().mu);
        o = S().musicObserver;
    }
    if (o) o(event, arg);
}

// The cached sample of `name`, marked as used; 0 when there is none or the
// mixer has evicted it (the entry is then forgotten).  Caller holds mu.
MixSample cachedLocked(const std::string& name) {
    SoundState& s = S();
    auto it = s.cache.find(name);
    if (it == s.cache.end()) return 0;
    if (mixSampleTouch(it->second)) return it->second;
    s.cacheNames.erase(it->second);
    s.cache.erase(it);
    return 0;
}

void forgetSampleLocked(MixSample id) {
    SoundState& s = S();
    auto it = s.cacheNames.find(id);
    if (it == s.cacheNames.end()) return;
    s.cache.erase(it->second);
    s.cacheNames.erase(it);
}

// True when loading `name` is known to fail for its file as `stamp` shows
// it now; a failure of another version of the file, or for lack of room
// that may be there now, is forgotten.  Caller holds mu.
bool knownFailureLocked(const std::string& name, const FileStamp& stamp) {
    SoundState& s = S();
    auto it = s.failures.find(name);
    if (it == s.failures.end()) return false;
    const Failure& f = it->second;
    if (f.stamp == stamp && (!f.noRoom || f.roomEpoch == mixSampleRoomEpoch())) return true;
    s.failures.erase(it);
    return false;
}

void rememberFailureLocked(const std::string& name, const FileStamp& stamp, bool noRoom,
                           uint64_t epoch) {
    SoundState& s = S();
    if (s.failures.size() >= kMaxFailures && !s.failures.count(name)) {
        auto oldest = std::min_element(
            s.failures.begin(), s.failures.end(),
            [](const auto& a, const auto& b) { return a.second.order < b.second.order; });
        s.failures.erase(oldest);
    }
    s.failures[name] = Failure{stamp, noRoom, epoch, ++s.failureOrder};
}

// Loads `name` on the calling thread unless it is cached or known to fail,
// and records the outcome.  The sample, or 0.
MixSample loadNow(const std::string& name) {
    SoundState& s = S();
    std::lock_guard<std::mutex> load(s.loadMu);
    std::string path;
    size_t cap;
    {
        std::lock_guard<std::mutex> lock(s.mu);
        if (MixSample smp = cachedLocked(name)) return smp;
        path = pathOfLocked(name);
        cap = s.sampleCap;
    }
    // A missing file is not remembered: it costs nothing to look for again,
    // and a server naming missing files would otherwise grow the memory.
    std::optional<FileStamp> stamp = stampOf(path);
    if (!stamp) return 0;
    const uint64_t epoch = mixSampleRoomEpoch();
    {
        std::lock_guard<std::mutex> lock(s.mu);
        if (knownFailureLocked(name, *stamp)) return 0;
        ++s.loadAttempts;
    }
    MixLoadResult r = mixSampleLoadFile(path, cap, &s.loaderCancel);
    std::lock_guard<std::mutex> lock(s.mu);
    for (MixSample e : r.evicted) forgetSampleLocked(e);
    if (r.sample) {
        forgetSampleLocked(s.cache.count(name) ? s.cache[name] : 0);
        s.cache[name] = r.sample;
        s.cacheNames[r.sample] = name;
        return r.sample;
    }
    if (r.status != MixLoad::Cancelled)
        rememberFailureLocked(name, *stamp, r.status == MixLoad::NoRoom, epoch);
    return 0;
}

// Starts a playback of `sample` as `r` asks, and reports it.
void startPlayback(MixSample sample, const SoundRequest& r) {
    MixChannel ch = mixSampleGetChannel(sample);
    if (!ch) return;
    mixSetAttribute(ch, MixAttrib::Vol, r.volume);
    mixSetAttribute(ch, MixAttrib::Pan, r.pan);
    float rate = 0;
    if (r.semitones != 0) {
        float own = 0;
        mixGetAttribute(ch, MixAttrib::Freq, &own);
        // Within 1 Hz .. 1 GHz before the cast (the mixer keeps its own
        // narrower range); an underflow to 0 would mean "own rate".
        double hz = double(own) * std::exp2(std::clamp(r.semitones, -1200.0, 1200.0) / 12.0);
        mixSetAttribute(ch, MixAttrib::Freq, static_cast<float>(std::clamp(hz, 1.0, 1e9)));
        mixGetAttribute(ch, MixAttrib::Freq, &rate);
    }
    mixPlay(ch, false);

    SoundStartObserver o;
    {
        std::lock_guard<std::mutex> lock(S().mu);
        o = S().startObserver;
    }
    if (o) o(r.name, r.volume, r.pan, rate);
}

void loaderRun() {
    setThreadName("kordo-loader");
    SoundState& s = S();
    std::unique_lock<std::mutex> lock(s.mu);
    for (;;) {
        s.loaderWake.wait(lock, [&s] { return s.loaderStop || !s.queue.empty(); });
        if (s.loaderStop) return;
        SoundRequest r = std::move(s.queue.front());
        s.queue.pop_front();
        if (r.play) --s.waitingPlays;
        s.loaderBusy = true;
        lock.unlock();
        MixSample sample = loadNow(r.name);
        if (sample && r.play) startPlayback(sample, r);
        lock.lock();
        auto w = s.waiting.find(r.name);
        if (w != s.waiting.end() && --w->second <= 0) s.waiting.erase(w);
        s.loaderBusy = false;
        if (s.queue.empty()) s.loaderIdle.notify_all();
    }
}

// A play or preload: started or done at once when the sample is cached and
// no earlier request of its name still waits; dropped when its file is
// missing or known to fail; otherwise queued for the loader.
void requestSound(SoundRequest r) {
    SoundState& s = S();
    std::unique_lock<std::mutex> lock(s.mu);
    if (s.loaderStop) return;
    if (!s.waiting.count(r.name)) {
        if (MixSample sample = cachedLocked(r.name)) {
            lock.unlock();
            if (r.play) startPlayback(sample, r);
            return;
        }
        std::optional<FileStamp> stamp = stampOf(pathOfLocked(r.name));
        if (!stamp || knownFailureLocked(r.name, *stamp)) return;
    } else if (!r.play) {
        return;  // already on its way
    }
    if (r.play) {
        if (s.waitingPlays >= kMaxWaitingPlays) return;
        ++s.waitingPlays;
    }
    ++s.waiting[r.name];
    s.queue.push_back(std::move(r));
    if (!s.loader.joinable()) s.loader = std::thread(loaderRun);
    s.loaderWake.notify_one();
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
float positionalPan(double pan, const std::optional<MenuGrid>& grid) {
    if (pan >= -1.0 && pan <= 1.0) return static_cast<float>(pan);
    // Outside any menu a pan beyond the range is heard at its side.
    if (!grid) return pan < 0 ? -1.0f : 1.0f;
    const int width = grid->width, selection = grid->selection;
    if (width <= 0) return 0.0f;
    double t = std::trunc(pan);
    double sndpos = std::fabs(t) - 2.0;
    double menupos = double(selection % width);
    double sgn = pan < 0 ? -1.0 : 1.0;
    double p = 2.0 * (sndpos - menupos) / double(width) * sgn;
    return static_cast<float>(std::clamp(p, -1.0, 1.0));
}

// A play as asked, copied out of the caller's record: its bytes may not
// outlive a queued task.
struct PlayAsked {
    std::string name;
    double volume, pan, semitones;
    int flags;
    std::optional<MenuGrid> grid;
};

// UI thread (or the caller's, for a UI with no main window).
void playSoundBody(const PlayAsked& a) {
    bool background =
        !(a.flags & 1) && !uiThread().isMainWindowActive() && !uiDialogs().isInDialog();
    if (((a.flags & 2) != 0) != background) return;
    if (!isSafeSoundName(a.name)) return;
    SoundRequest r;
    r.name = a.name;
    r.semitones = a.semitones;
    r.pan = positionalPan(a.pan, a.grid);
    // The player's own volume first, then the bound: a huge server value
    // times a muted player is 0, never 0 x inf.
    const float fxVol = S().volumes.effects;
    double fx = std::isfinite(fxVol) ? double(fxVol) : 0.0;
    r.volume = static_cast<float>(std::clamp(fx * a.volume, 0.0, 1.0));
    r.play = true;
    requestSound(std::move(r));
}

}  // namespace

bool isSafeSoundName(std::string_view name) {
    return name.size() <= kMaxSoundNameBytes && isSafeRelativePath(name);
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

void setSoundsFolder(std::string folder) {
    std::lock_guard<std::mutex> lock(S().mu);
    S().folder = std::move(folder);
}

MixSample getSound(std::string_view name) {
    if (!isSafeSoundName(name)) return 0;
    return loadNow(std::string(name));
}

size_t soundCacheEntries() {
    std::lock_guard<std::mutex> lock(S().mu);
    return S().cache.size();
}

size_t soundFailureEntries() {
    std::lock_guard<std::mutex> lock(S().mu);
    return S().failures.size();
}

size_t soundLoadAttempts() {
    std::lock_guard<std::mutex> lock(S().mu);
    return S().loadAttempts;
}

void soundFinishLoads() {
    SoundState& s = S();
    std::unique_lock<std::mutex> lock(s.mu);
    s.loaderIdle.wait(lock, [&s] { return s.loaderStop || (s.queue.empty() && !s.loaderBusy); });
}

void soundFileWritten(std::string_view path) {
    constexpr std::string_view kPrefix = "sounds/", kSuffix = ".ogg";
    if (path.size() <= kPrefix.size() + kSuffix.size() || !path.starts_with(kPrefix) ||
        !path.ends_with(kSuffix))
        return;
    std::string name(path.substr(kPrefix.size(), path.size() - kPrefix.size() - kSuffix.size()));
    if (!isSafeSoundName(name)) return;
    std::lock_guard<std::mutex> lock(S().mu);
    S().failures.erase(name);
    auto it = S().cache.find(name);
    if (it == S().cache.end()) return;
    // Playbacks of the old sound play on; the next use loads the new file.
    MixSample old = it->second;
    forgetSampleLocked(old);
    mixSampleFree(old);
}

void setSoundSampleCap(size_t bytes) {
    std::lock_guard<std::mutex> lock(S().mu);
    S().sampleCap = bytes;
}

void playSound(const SoundSpec& spec, int flags, const MenuGrid* grid) {
    PlayRequestObserver o;
    {
        std::lock_guard<std::mutex> lock(S().mu);
        o = S().requestObserver;
    }
    if (o) o(spec.text, flags);
    std::optional<MenuGrid> g;
    if (grid) g = *grid;
    const PlayAsked asked{std::string(spec.name), spec.volume, spec.pan, spec.semitones, flags, g};
    // Most plays come on the UI thread already (a menu's move, a run of
    // server lines): the body runs in place.
    if (uiThread().isUiThread())
        playSoundBody(asked);
    else
        uiCall([&] { playSoundBody(asked); });
}

void playSound(std::string_view sz, int flags, const MenuGrid* grid) {
    playSound(parseSoundSpec(sz), flags, grid);
}

namespace {
// `old`, the music being replaced, starts its fade unless it fades already;
// the fades beyond kMaxFadingMusic end early.  Caller holds musicMu.
void fadeOutMusic(MixChannel old, const std::optional<std::string>& oldName) {
    SoundState& s = S();
    auto ended = [](MixChannel c) { return mixChannelState(c) == MixState::Stopped; };
    std::erase_if(s.fading, ended);
    std::erase_if(s.stopping, ended);
    if (!old || std::find(s.fading.begin(), s.fading.end(), old) != s.fading.end()) return;
    if (!mixSlideAttribute(old, MixAttrib::Vol, -1.0f, kMusicFadeMs)) return;  // gone already
    s.fading.push_back(old);
    musicEvent("music-fade", oldName ? *oldName : std::string());
    while (s.fading.size() > kMaxFadingMusic) {
        // A slide from wherever its fade has reached, down to silence.
        mixSlideAttribute(s.fading.front(), MixAttrib::Vol, -1.0f, kQuickFadeMs);
        s.stopping.push_back(s.fading.front());
        s.fading.pop_front();
    }
    while (s.stopping.size() > kMaxStoppingMusic) {
        mixStop(s.stopping.front());
        s.stopping.pop_front();
    }
}
}  // namespace

void playMusic(std::string_view name) {
    std::lock_guard<std::mutex> music(S().musicMu);
    // A refused name acts as a file that fails to open: the current music
    // fades out and stays named current.
    const bool safe = isSafeSoundName(name);
    MixChannel old;
    std::optional<std::string> oldName;
    {
        std::lock_guard<std::mutex> lock(S().mu);
        if (safe && S().currentMusic && *S().currentMusic == name) return;
        old = S().music;
        oldName = S().currentMusic;
    }
    fadeOutMusic(old, oldName);
    if (!safe) return;

    MixChannel c = mixStreamCreateFile(pathOf(name), true);
    if (!c) return;
    mixPlay(c, true);
    mixSetAttribute(c, MixAttrib::Vol, S().volumes.music);
    bool paused = S().volumes.musicStopped;
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
    for (std::string_view name : splitSpaces(fl, fl.size())) {
        if (!isSafeSoundName(name)) continue;
        SoundRequest r;
        r.name = std::string(name);
        requestSound(std::move(r));
    }
}

void setMusicVolume(int n) {
    std::lock_guard<std::mutex> music(S().musicMu);
    MixChannel c = currentMusicChannel();
    if (!c) return;
    // Once the stream has gone (ended and freed) the setting is the base.
    // A current music that is fading out (its successor failed to open)
    // keeps its fade: the step changes the setting only.
    const bool fadingOut =
        std::find(S().fading.begin(), S().fading.end(), c) != S().fading.end() ||
        std::find(S().stopping.begin(), S().stopping.end(), c) != S().stopping.end();
    float x = S().volumes.music;
    if (!fadingOut) mixGetAttribute(c, MixAttrib::Vol, &x);
    x = std::clamp(x + float(n) / 50.0f, 0.0f, 1.0f);
    S().volumes.music = x;
    if (!fadingOut) mixSetAttribute(c, MixAttrib::Vol, x);
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, x);
    musicEvent("music-volume", std::string_view(buf, size_t(r.ptr - buf)));
}

SoundVolumes soundVolumes() {
    std::lock_guard<std::mutex> music(S().musicMu);
    return S().volumes;
}

void setSoundVolumes(const SoundVolumes& volumes) {
    std::lock_guard<std::mutex> music(S().musicMu);
    S().volumes = volumes;
}

void setSoundVolume(int n) {
    float& fx = S().volumes.effects;
    fx = std::clamp(fx + float(n) / 50.0f, 0.0f, 1.0f);
    playSound("menubounds", 0);
}

void toggleMusicPause() {
    std::lock_guard<std::mutex> music(S().musicMu);
    MixChannel c = currentMusicChannel();
    if (!c) return;
    if (S().volumes.musicStopped) {
        mixPlay(c, false);
        musicEvent("music-resume", "");
    } else {
        mixPause(c);
        musicEvent("music-pause", "");
    }
    S().volumes.musicStopped = !S().volumes.musicStopped;
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
    MixChannel c = s ? mixSampleGetChannel(s) : 0;
    if (!c) {
        // Not made yet, or evicted to make room for sounds: made anew.
        Pcm pcm;
        pcm.channels = 1;
        pcm.rate = kMixRate;
        size_t n = size_t(int64_t(ms) * kMixRate / 1000);
        pcm.data.resize(n);
        const size_t edge = std::min<size_t>(n / 2, kMixRate / 200);  // 5 ms ramps, no clicks
        for (size_t i = 0; i < n; ++i) {
            double env = 1.0;
            if (i < edge) env = double(i) / double(edge);
            if (n - 1 - i < edge) env = double(n - 1 - i) / double(edge);
            // Half scale.
            pcm.data[i] = int16_t(std::lround(
                16384.0 * env * std::sin(2.0 * std::numbers::pi * hz * double(i) / kMixRate)));
        }
        s = mixSampleFromPcm(std::move(pcm), 8);
        {
            std::lock_guard<std::mutex> lock(S().mu);
            S().tones[{hz, ms}] = s;
        }
        c = mixSampleGetChannel(s);
    }
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
    stopLoader();
    std::lock_guard<std::mutex> music(S().musicMu);
    mixReset();
    std::lock_guard<std::mutex> lock(S().mu);
    SoundState& s = S();
    s.cache.clear();
    s.cacheNames.clear();
    s.failures.clear();
    s.failureOrder = 0;
    s.sampleCap = kMixSampleMemoryCap;
    s.loadAttempts = 0;
    s.tones.clear();
    s.music = 0;
    s.fading.clear();
    s.stopping.clear();
    s.currentMusic.reset();
    s.volumes = SoundVolumes{};
    s.folder = "sounds";
    s.requestObserver = nullptr;
    s.startObserver = nullptr;
    s.musicObserver = nullptr;
}
