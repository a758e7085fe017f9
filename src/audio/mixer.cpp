#include "audio/mixer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>

#include "platform/audio_sink.h"
#include "platform/thread_name.h"

namespace {

constexpr int kBlock = 256;            // frames per gain ramp and slide step
constexpr int kDecodeChunk = 4096;     // frames decoded per pass
constexpr int kRingFrames = 32768;     // decoded music kept ahead, ~0.7 s
constexpr float kMinFreq = 100.0f;     // Hz
constexpr float kMaxFreq = 1000000.0f;
constexpr auto kStreamWait = std::chrono::seconds(2);
// Silence after which the output may rest (see AudioPull): long enough that
// a device's buffer has played the last sound out, and that a burst of
// sounds a few tenths of a second apart keeps the device running.
constexpr int64_t kRestAfterFrames = kMixRate / 2;

// Decoded audio, immutable once published in the table: the table and every
// voice playing it share it, so a sample taken out of the table (evicted or
// freed) lives on until its last playback ends.
struct Sample {
    Pcm pcm;
    int maxPlaybacks = kMixMaxPlaybacks;
    size_t bytes = 0;  // of pcm.data
};

struct SampleSlot {
    std::shared_ptr<const Sample> s;
    uint64_t lastUse = 0;  // MixerState::useSeq at its load or latest use
};

// Decoded music between the decoder thread (producer) and the mixer
// (consumer).  Everything but `dec` is guarded by `mu`; `dec` belongs to the
// decoder thread once the feed is registered.
struct StreamFeed {
    std::mutex mu;
    std::condition_variable pushed;  // the decoder added frames or hit the end
    std::vector<float> ring;         // kRingFrames * channels floats
    size_t head = 0;                 // read index, in floats
    size_t count = 0;                // floats held
    uint64_t epoch = 0;              // bumped by each rewind request
    bool rewindWanted = false;
    bool eof = false;                // the decoder has nothing more to give
    std::atomic<bool> closed{false}; // the channel is gone; decoder drops it
    int channels = 0;
    int rate = 0;
    bool loop = false;
    OggStreamPtr dec;
};

// The decoder thread: fills every registered feed's ring.  Never takes the
// mixer's lock, so the mixer may wait for it while holding that lock.
struct Decoder {
    std::mutex mu;
    std::condition_variable wake;
    std::vector<std::shared_ptr<StreamFeed>> feeds;
    bool stop = false;
    bool kicked = false;
    std::thread thread;

    ~Decoder() { shutdown(); }

    void kick() {
        {
            std::lock_guard<std::mutex> lock(mu);
            kicked = true;
        }
        wake.notify_one();
    }

    void add(std::shared_ptr<StreamFeed> f) {
        std::lock_guard<std::mutex> lock(mu);
        feeds.push_back(std::move(f));
        kicked = true;
        if (!thread.joinable()) {
            stop = false;
            thread = std::thread([this] {
                setThreadName("kordo-decoder");
                run();
            });
        }
        wake.notify_one();
    }

    void shutdown() {
        {
            std::lock_guard<std::mutex> lock(mu);
            stop = true;
        }
        wake.notify_one();
        if (thread.joinable()) thread.join();
        std::lock_guard<std::mutex> lock(mu);
        feeds.clear();
        stop = false;
    }

    // One chunk into `f` if it has room; true when it did some work.
    static bool fill(StreamFeed& f, std::vector<float>& buf) {
        bool seek = false;
        uint64_t epoch;
        {
            std::lock_guard<std::mutex> lock(f.mu);
            if (f.rewindWanted) {
                f.rewindWanted = false;
                seek = true;
            }
            if (!seek && (f.eof || f.ring.size() - f.count < size_t(kDecodeChunk) * f.channels))
                return false;
            epoch = f.epoch;
        }
        bool ok = true;
        if (seek) ok = oggStreamRewind(f.dec.get());
        int got = 0;
        if (ok) {
            buf.resize(size_t(kDecodeChunk) * f.channels);
            got = oggStreamRead(f.dec.get(), buf.data(), kDecodeChunk);
            // At the end a looping stream starts over; a file that gives
            // nothing even from its start ends the stream.
            if (got == 0 && f.loop && oggStreamRewind(f.dec.get()))
                got = oggStreamRead(f.dec.get(), buf.data(), kDecodeChunk);
        }
        {
            std::lock_guard<std::mutex> lock(f.mu);
            if (epoch != f.epoch || f.rewindWanted) return true;  // stale chunk
            if (got == 0) {
                f.eof = true;
            } else {
                size_t n = size_t(got) * f.channels;
                size_t cap = f.ring.size();
                size_t tailAt = (f.head + f.count) % cap;
                for (size_t i = 0; i < n; ++i) f.ring[(tailAt + i) % cap] = buf[i];
                f.count += n;
            }
        }
        f.pushed.notify_all();
        return true;
    }

    void run() {
        std::vector<float> buf;
        for (;;) {
            std::vector<std::shared_ptr<StreamFeed>> list;
            {
                std::lock_guard<std::mutex> lock(mu);
                if (stop) return;
                std::erase_if(feeds, [](const auto& f) { return f->closed.load(); });
                list = feeds;
            }
            bool worked = false;
            for (auto& f : list)
                if (!f->closed.load()) worked |= fill(*f, buf);
            if (!worked) {
                // Every change that can give it work kicks: a feed added,
                // closed or rewound, frames taken from a ring.  A kick made
                // while the feeds were being looked at is still pending
                // here, so none is lost and no time-out is needed.
                std::unique_lock<std::mutex> lock(mu);
                wake.wait(lock, [this] { return stop || kicked; });
                kicked = false;
            }
        }
    }
};

struct Voice {
    uint16_t gen = 1;
    bool used = false;
    MixState state = MixState::Stopped;
    uint32_t sampleId = 0;  // 0 for a stream
    std::shared_ptr<const Sample> sample;
    std::shared_ptr<StreamFeed> feed;
    int channels = 1;
    int ownRate = kMixRate;
    double pos = 0;          // source frame position (streams: within tail)
    std::vector<float> tail; // streams: pulled source frames not yet passed
    bool srcDone = false;    // streams: the feed has ended and is drained
    float vol = 1, pan = 0, freq = kMixRate;
    float gl = 0, gr = 0;    // gains applied at the end of the last block
    bool gainsSet = false;
    bool sliding = false;
    float slideFrom = 0, slideTo = 0;
    int64_t slideLen = 0, slideDone = 0;
    int64_t played = 0;      // output frames played
    uint64_t seq = 0;        // creation order, for take-over ties
};

// The unit's state (see mixer.h).  `mu` guards the samples and voices;
// `sinkMu` the output; the decoder has its own lock.
struct MixerState {
    std::mutex mu;
    std::map<uint32_t, SampleSlot> samples;  // by id; ids are never reused
    uint32_t nextSampleId = 1;
    uint64_t useSeq = 0;         // clock of SampleSlot::lastUse
    size_t sampleBytes = 0;      // decoded audio held by `samples`
    size_t reservedBytes = 0;    // promised to loads still decoding
    uint64_t roomEpoch = 0;      // see mixSampleRoomEpoch
    std::vector<Voice> voices;   // slot = handle low bits - 1
    std::vector<uint32_t> freeSlots;
    uint64_t seq = 0;
    bool waitStreams = false;
    int64_t quietFrames = 0;  // output frames since a voice last played or slid

    std::mutex sinkMu;  // never held together with mu
    AudioSink* sink = nullptr;

    // Last, so that it is destroyed first: its thread stops before the
    // voices' feeds go.
    Decoder decoder;
};

// Built before main and destroyed after everything built during the run:
// the sound unit's record, made at its first use, goes first, so its loader
// has stopped before the voices and samples here go.
MixerState mixer;

Decoder& D() { return mixer.decoder; }

// A voice starts playing or sliding: a resting output pulls again.  Called
// without mu (sinkMu is never held with it).
void wakeOutput() {
    std::lock_guard<std::mutex> lock(mixer.sinkMu);
    if (mixer.sink) mixer.sink->resume();
}

MixChannel handleOf(uint32_t slot, const Voice& v) { return (uint32_t(v.gen) << 16) | (slot + 1); }

// Caller holds mixer.mu.
Voice* lookup(MixChannel c) {
    MixerState& m = mixer;
    uint32_t slot = (c & 0xffff) - 1;
    if ((c & 0xffff) == 0 || slot >= m.voices.size()) return nullptr;
    Voice& v = m.voices[slot];
    return v.used && v.gen == (c >> 16) ? &v : nullptr;
}

// Clears a voice for reuse; its old handle goes stale.  Caller holds mu.
void resetVoice(Voice& v) {
    if (v.feed) {
        v.feed->closed.store(true);
        D().kick();
    }
    // Its sample's last playback: the sample may now be evicted.  (Every
    // copy of a sample pointer is made and dropped under mu, so the count
    // is exact here.)
    if (v.sample && v.sample.use_count() <= 2) ++mixer.roomEpoch;
    uint16_t gen = uint16_t(v.gen + 1);
    v = Voice{};
    v.gen = gen ? gen : 1;
}

void freeVoice(uint32_t slot) {
    resetVoice(mixer.voices[slot]);
    mixer.freeSlots.push_back(slot);
}

uint32_t allocSlot() {
    MixerState& m = mixer;
    if (!m.freeSlots.empty()) {
        uint32_t s = m.freeSlots.back();
        m.freeSlots.pop_back();
        return s;
    }
    m.voices.emplace_back();
    return uint32_t(m.voices.size() - 1);
}

void targetGains(const Voice& v, float* l, float* r) {
    float vol = std::max(0.0f, v.vol);
    float pan = std::clamp(v.pan, -1.0f, 1.0f);
    *l = vol * std::min(1.0f, 1.0f - pan);
    *r = vol * std::min(1.0f, 1.0f + pan);
}

// Mixes up to n frames of `src` (nf frames of `ch` channels) from v.pos at
// v.freq into out, ramping the gains from (gl, gr) to (tl, tr).  Stops at
// `limit` (the first frame position that cannot be produced).  Frames past
// nf read as silence, so a sample's last frame fades into its end.  `T` is
// float (streams, full scale 1) or int16_t (samples, full scale 32768: the
// scale is folded into the gains, so the loops are the same).
template <int CH, typename T>
int mixSource(Voice& v, const T* src, int64_t nf, int64_t limit, float* out, int n, float tl, float tr) {
    constexpr float kScale = std::is_same_v<T, int16_t> ? 1.0f / 32768.0f : 1.0f;
    const double step = double(v.freq) / kMixRate;
    const float dl = (tl - v.gl) * kScale / float(n), dr = (tr - v.gr) * kScale / float(n);
    float gl = v.gl * kScale, gr = v.gr * kScale;
    double pos = v.pos;
    // Frames whose both interpolation points lie inside the source and the
    // limit take the fast loop; the few at the end take the checked one.
    const int64_t safeEnd = std::min(limit, nf - 1);
    int safe = 0;
    if (double(safeEnd) > pos) safe = int(std::min<double>(n, std::ceil((double(safeEnd) - pos) / step)));
    while (safe > 0 && int64_t(pos + double(safe - 1) * step) >= safeEnd) --safe;
    int i = 0;
    if (step == 1.0 && pos == std::floor(pos)) {
        const T* p = src + int64_t(pos) * CH;
        for (; i < safe; ++i, p += CH) {
            gl += dl;
            gr += dr;
            out[2 * i] += float(p[0]) * gl;
            out[2 * i + 1] += float(p[CH - 1]) * gr;
        }
        pos += double(safe);
    } else if (safe > 1) {
        // 32.32 fixed point: an integer add per frame instead of a double
        // chain.  One frame is left to the checked loop as a margin for the
        // rounding of the step.
        --safe;
        const int64_t base = int64_t(pos);
        const uint64_t stepFp = uint64_t(step * 4294967296.0);
        uint64_t fp = uint64_t((pos - double(base)) * 4294967296.0);
        const T* s0 = src + base * CH;
        for (; i < safe; ++i, fp += stepFp) {
            const T* p = s0 + int64_t(fp >> 32) * CH;
            float f = float(fp & 0xffffffffu) * (1.0f / 4294967296.0f);
            gl += dl;
            gr += dr;
            const float l0 = float(p[0]), r0 = float(p[CH - 1]);
            out[2 * i] += (l0 + (float(p[CH]) - l0) * f) * gl;
            out[2 * i + 1] += (r0 + (float(p[2 * CH - 1]) - r0) * f) * gr;
        }
        pos = double(base) + double(fp) / 4294967296.0;
    }
    for (; i < n; ++i) {
        int64_t i0 = int64_t(pos);
        if (i0 >= limit) break;
        gl += dl;
        gr += dr;
        float f = float(pos - double(i0));
        bool next = i0 + 1 < nf;
        float l0 = float(src[i0 * CH]), r0 = float(src[i0 * CH + CH - 1]);
        float l1 = next ? float(src[(i0 + 1) * CH]) : 0.0f;
        float r1 = next ? float(src[(i0 + 1) * CH + CH - 1]) : 0.0f;
        out[2 * i] += (l0 + (l1 - l0) * f) * gl;
        out[2 * i + 1] += (r0 + (r1 - r0) * f) * gr;
        pos += step;
    }
    v.pos = pos;
    v.gl = tl;
    v.gr = tr;
    return i;
}

template <typename T>
int mixAny(Voice& v, const T* src, int64_t nf, int64_t limit, float* out, int n, float tl, float tr) {
    return v.channels == 2 ? mixSource<2>(v, src, nf, limit, out, n, tl, tr)
                           : mixSource<1>(v, src, nf, limit, out, n, tl, tr);
}

// Pulls up to `frames` frames from the feed into the voice's tail.
void pullStream(Voice& v, int64_t frames, bool wait) {
    StreamFeed& f = *v.feed;
    size_t want = size_t(frames) * f.channels;
    size_t got;
    {
        std::unique_lock<std::mutex> lock(f.mu);
        if (wait)
            f.pushed.wait_for(lock, kStreamWait, [&] { return f.count >= want || f.eof; });
        got = std::min(want, f.count);
        size_t cap = f.ring.size();
        for (size_t i = 0; i < got; ++i) v.tail.push_back(f.ring[(f.head + i) % cap]);
        f.head = (f.head + got) % cap;
        f.count -= got;
        v.srcDone = f.eof && f.count == 0;
    }
    if (got) D().kick();
}

// Advances the voice's slide by n frames.  Returns true when a slide to -1
// has just ended (the voice must be freed).
bool advanceSlide(Voice& v, int n) {
    if (!v.sliding) return false;
    float to = v.slideTo < 0 ? 0.0f : v.slideTo;
    v.slideDone += n;
    if (v.slideDone >= v.slideLen) {
        v.vol = to;
        v.sliding = false;
        return v.slideTo < 0;
    }
    v.vol = v.slideFrom + (to - v.slideFrom) * float(double(v.slideDone) / double(v.slideLen));
    return false;
}

// Mixes one block (n <= kBlock) of one voice; true when the voice has ended.
bool mixVoice(Voice& v, float* out, int n, bool wait) {
    bool slideEnded = advanceSlide(v, n);
    float tl, tr;
    targetGains(v, &tl, &tr);
    if (!v.gainsSet) {
        v.gl = tl;
        v.gr = tr;
        v.gainsSet = true;
    }
    if (v.state != MixState::Playing) {
        v.gl = tl;
        v.gr = tr;
        return slideEnded;
    }
    int done = 0;
    bool ended = false;
    if (v.sample) {
        const Pcm& p = v.sample->pcm;
        int64_t nf = p.frames();
        done = mixAny(v, p.data.data(), nf, nf, out, n, tl, tr);
        ended = int64_t(v.pos) >= nf;
    } else {
        int ch = v.channels;
        int64_t need = int64_t(v.pos + double(n) * v.freq / kMixRate) + 2;
        int64_t have = int64_t(v.tail.size()) / ch;
        if (need > have && !v.srcDone) pullStream(v, need - have, wait);
        int64_t nf = int64_t(v.tail.size()) / ch;
        // Until the feed has ended, keep one frame back for interpolation.
        int64_t limit = v.srcDone ? nf : nf - 1;
        done = mixAny(v, v.tail.data(), nf, limit, out, n, tl, tr);
        int64_t drop = std::min<int64_t>(int64_t(v.pos), nf);
        v.tail.erase(v.tail.begin(), v.tail.begin() + drop * ch);
        v.pos -= double(drop);
        ended = v.srcDone && int64_t(v.pos) >= int64_t(v.tail.size()) / ch;
    }
    v.played += done;
    return ended || slideEnded;
}

MixChannel newSampleChannel(uint32_t id) {
    MixerState& m = mixer;
    auto found = m.samples.find(id);
    if (found == m.samples.end()) return 0;
    found->second.lastUse = ++m.useSeq;
    const std::shared_ptr<const Sample> s = found->second.s;
    int inUse = 0;
    int64_t best = -1;
    for (uint32_t i = 0; i < m.voices.size(); ++i) {
        const Voice& v = m.voices[i];
        if (!v.used || v.sampleId != id) continue;
        ++inUse;
        if (best < 0 || v.played > m.voices[best].played ||
            (v.played == m.voices[best].played && v.seq < m.voices[best].seq))
            best = i;
    }
    if (inUse < s->maxPlaybacks && m.voices.size() - m.freeSlots.size() >= size_t(kMixMaxVoices)) {
        // The total is reached: take over the sample playback, of any
        // sample, that has played longest (oldest on ties).  Streams are
        // never taken.
        best = -1;
        for (uint32_t i = 0; i < m.voices.size(); ++i) {
            const Voice& v = m.voices[i];
            if (!v.used || !v.sample) continue;
            if (best < 0 || v.played > m.voices[best].played ||
                (v.played == m.voices[best].played && v.seq < m.voices[best].seq))
                best = i;
        }
        if (best < 0) return 0;
        inUse = s->maxPlaybacks;
    }
    uint32_t slot;
    if (inUse >= s->maxPlaybacks) {
        slot = uint32_t(best);
        resetVoice(m.voices[slot]);  // take-over: the old handle goes stale
    } else {
        slot = allocSlot();
    }
    Voice& v = m.voices[slot];
    v.used = true;
    v.sampleId = id;
    v.sample = s;
    v.channels = s->pcm.channels;
    v.ownRate = v.freq = float(s->pcm.rate);
    v.seq = ++m.seq;
    return handleOf(slot, v);
}

}  // namespace

namespace {
size_t bytesOf(const Pcm& pcm) { return pcm.data.size() * sizeof(pcm.data[0]); }

// Makes room for `need` more bytes within `cap` (0: no cap), evicting the
// least recently used samples that no playback holds.  Either it succeeds
// or it evicts nothing.  The evicted samples are moved to `drop`, so that
// the caller frees their memory after releasing mu.  Caller holds mu.
bool makeRoom(size_t need, size_t cap, std::vector<MixSample>* evicted,
              std::vector<std::shared_ptr<const Sample>>* drop) {
    MixerState& m = mixer;
    const size_t held = m.sampleBytes + m.reservedBytes;
    if (cap == 0 || (need <= cap && held <= cap - need)) return true;
    if (need > cap) return false;
    const size_t over = held - (cap - need);  // bytes to free
    std::vector<std::pair<uint64_t, uint32_t>> idle;  // (lastUse, id), not playing
    size_t idleBytes = 0;
    for (const auto& [id, slot] : m.samples)
        if (slot.s.use_count() == 1) {
            idle.push_back({slot.lastUse, id});
            idleBytes += slot.s->bytes;
        }
    if (idleBytes < over) return false;
    std::sort(idle.begin(), idle.end());
    size_t freed = 0;
    for (const auto& [use, id] : idle) {
        if (freed >= over) break;
        auto it = m.samples.find(id);
        freed += it->second.s->bytes;
        m.sampleBytes -= it->second.s->bytes;
        if (evicted) evicted->push_back(id);
        drop->push_back(std::move(it->second.s));
        m.samples.erase(it);
    }
    ++m.roomEpoch;
    return true;
}

// Publishes `pcm` as a new sample: the hand-over of decoded audio from the
// thread that decoded it to the mixer, under mu.  0 when it does not fit.
MixSample addSample(Pcm pcm, int maxPlaybacks, size_t capBytes, std::vector<MixSample>* evicted) {
    if (pcm.channels < 1 || pcm.channels > 2 || pcm.rate <= 0 || pcm.frames() == 0) return 0;
    auto s = std::make_shared<Sample>();
    s->bytes = bytesOf(pcm);
    s->pcm = std::move(pcm);
    s->maxPlaybacks = std::clamp(maxPlaybacks, 1, kMixMaxVoices);
    std::vector<std::shared_ptr<const Sample>> drop;  // freed after the lock
    std::lock_guard<std::mutex> lock(mixer.mu);
    MixerState& m = mixer;
    if (!makeRoom(s->bytes, capBytes, evicted, &drop)) return 0;
    uint32_t id = m.nextSampleId++;
    if (m.nextSampleId == 0) m.nextSampleId = 1;
    m.sampleBytes += s->bytes;
    m.samples[id] = SampleSlot{std::move(s), ++m.useSeq};
    return id;
}
}  // namespace

MixSample mixSampleFromPcm(Pcm pcm, int maxPlaybacks) {
    return addSample(std::move(pcm), maxPlaybacks, 0, nullptr);
}

MixLoadResult mixSampleLoadFile(const std::string& path, size_t capBytes, const std::atomic<bool>* cancel,
                                int maxPlaybacks) {
    MixLoadResult r;
    size_t reserved = 0;
    bool noRoom = false;
    OggLimits limits;
    limits.cancel = cancel;
    // The declared length decides before any decoding whether the sample
    // can be held: room is made (evicting what must go) and reserved now,
    // so the decode never takes memory past the cap.
    limits.admit = [&](const OggInfo& info) {
        const size_t need = size_t(info.frames) * size_t(info.channels) * sizeof(int16_t);
        std::vector<std::shared_ptr<const Sample>> drop;
        std::lock_guard<std::mutex> lock(mixer.mu);
        if (!makeRoom(need, capBytes, &r.evicted, &drop)) {
            noRoom = true;
            return false;
        }
        reserved = need;
        mixer.reservedBytes += need;
        return true;
    };
    Pcm pcm;
    const bool decoded = oggLoadFile(path, &pcm, limits);
    if (reserved) {
        std::lock_guard<std::mutex> lock(mixer.mu);
        mixer.reservedBytes -= reserved;
    }
    if (!decoded) {
        r.status = noRoom ? MixLoad::NoRoom : cancel && cancel->load() ? MixLoad::Cancelled : MixLoad::Failed;
        return r;
    }
    // The reservation is handed back and the real size admitted under one
    // check: the same unless the header's length was off.
    r.sample = addSample(std::move(pcm), maxPlaybacks, capBytes, &r.evicted);
    r.status = r.sample ? MixLoad::Loaded : MixLoad::NoRoom;
    return r;
}

MixSample mixSampleLoad(const std::string& path, int maxPlaybacks, size_t capBytes) {
    return mixSampleLoadFile(path, capBytes, nullptr, maxPlaybacks).sample;
}

size_t mixSampleBytes() {
    std::lock_guard<std::mutex> lock(mixer.mu);
    return mixer.sampleBytes;
}

bool mixSampleTouch(MixSample s) {
    std::lock_guard<std::mutex> lock(mixer.mu);
    auto it = mixer.samples.find(s);
    if (it == mixer.samples.end()) return false;
    it->second.lastUse = ++mixer.useSeq;
    return true;
}

bool mixSampleFree(MixSample s) {
    std::shared_ptr<const Sample> drop;  // freed after the lock
    std::lock_guard<std::mutex> lock(mixer.mu);
    MixerState& m = mixer;
    auto it = m.samples.find(s);
    if (it == m.samples.end()) return false;
    m.sampleBytes -= it->second.s->bytes;
    drop = std::move(it->second.s);
    m.samples.erase(it);
    ++m.roomEpoch;
    return true;
}

uint64_t mixSampleRoomEpoch() {
    std::lock_guard<std::mutex> lock(mixer.mu);
    return mixer.roomEpoch;
}

MixChannel mixSampleGetChannel(MixSample s) {
    std::lock_guard<std::mutex> lock(mixer.mu);
    return newSampleChannel(s);
}

MixChannel mixStreamCreateFile(const std::string& path, bool loop) {
    OggStreamPtr dec = oggStreamOpen(path);
    if (!dec) return 0;
    auto f = std::make_shared<StreamFeed>();
    f->channels = oggStreamChannels(dec.get());
    f->rate = oggStreamRate(dec.get());
    f->loop = loop;
    f->ring.resize(size_t(kRingFrames) * f->channels);
    f->dec = std::move(dec);
    MixChannel c;
    {
        std::lock_guard<std::mutex> lock(mixer.mu);
        uint32_t slot = allocSlot();
        Voice& v = mixer.voices[slot];
        v.used = true;
        v.feed = f;
        v.channels = f->channels;
        v.ownRate = f->rate;
        v.freq = float(f->rate);
        v.seq = ++mixer.seq;
        c = handleOf(slot, v);
    }
    D().add(std::move(f));
    return c;
}

bool mixSetAttribute(MixChannel c, MixAttrib a, float value) {
    if (!std::isfinite(value)) return false;
    std::lock_guard<std::mutex> lock(mixer.mu);
    Voice* v = lookup(c);
    if (!v) return false;
    switch (a) {
    case MixAttrib::Freq:
        v->freq = value == 0 ? float(v->ownRate) : std::clamp(value, kMinFreq, kMaxFreq);
        return true;
    case MixAttrib::Vol:
        v->vol = std::min(value, kMixMaxVolume);
        v->sliding = false;  // a set volume ends a running slide
        return true;
    case MixAttrib::Pan:
        v->pan = value;
        return true;
    }
    return false;
}

bool mixGetAttribute(MixChannel c, MixAttrib a, float* value) {
    std::lock_guard<std::mutex> lock(mixer.mu);
    Voice* v = lookup(c);
    if (!v) return false;
    switch (a) {
    case MixAttrib::Freq: *value = v->freq; return true;
    case MixAttrib::Vol: *value = v->vol; return true;
    case MixAttrib::Pan: *value = v->pan; return true;
    }
    return false;
}

bool mixSlideAttribute(MixChannel c, MixAttrib a, float target, int ms) {
    if (a != MixAttrib::Vol || !std::isfinite(target)) return false;
    std::unique_lock<std::mutex> lock(mixer.mu);
    Voice* v = lookup(c);
    if (!v) return false;
    if (ms <= 0) {
        if (target < 0) {
            freeVoice((c & 0xffff) - 1);
            return true;
        }
        v->vol = std::min(target, kMixMaxVolume);
        v->sliding = false;
        return true;
    }
    v->sliding = true;
    v->slideFrom = v->vol;
    v->slideTo = target < 0 ? -1.0f : std::min(target, kMixMaxVolume);
    v->slideLen = int64_t(ms) * kMixRate / 1000;
    v->slideDone = 0;
    lock.unlock();
    wakeOutput();
    return true;
}

bool mixPlay(MixChannel c, bool restart) {
    {
    std::lock_guard<std::mutex> lock(mixer.mu);
    Voice* v = lookup(c);
    if (!v) return false;
    if (restart) {
        if (v->feed && (v->played > 0 || !v->tail.empty())) {
            std::lock_guard<std::mutex> fl(v->feed->mu);
            v->feed->rewindWanted = true;
            v->feed->epoch++;
            v->feed->head = v->feed->count = 0;
            v->feed->eof = false;
            v->tail.clear();
            v->srcDone = false;
        }
        if (v->feed) D().kick();
        v->pos = 0;
        v->played = 0;
    }
    v->state = MixState::Playing;
    }
    wakeOutput();
    return true;
}

bool mixPause(MixChannel c) {
    std::lock_guard<std::mutex> lock(mixer.mu);
    Voice* v = lookup(c);
    if (!v) return false;
    if (v->state == MixState::Playing) v->state = MixState::Paused;
    return true;
}

bool mixStop(MixChannel c) {
    std::lock_guard<std::mutex> lock(mixer.mu);
    if (!lookup(c)) return false;
    freeVoice((c & 0xffff) - 1);
    return true;
}

MixState mixChannelState(MixChannel c) {
    std::lock_guard<std::mutex> lock(mixer.mu);
    Voice* v = lookup(c);
    return v ? v->state : MixState::Stopped;
}

int64_t mixChannelPlayedFrames(MixChannel c) {
    std::lock_guard<std::mutex> lock(mixer.mu);
    Voice* v = lookup(c);
    return v ? v->played : 0;
}

int mixActiveChannels() {
    std::lock_guard<std::mutex> lock(mixer.mu);
    int n = 0;
    for (const Voice& v : mixer.voices) n += v.used;
    return n;
}

void mixSetWaitForStreams(bool wait) {
    std::lock_guard<std::mutex> lock(mixer.mu);
    mixer.waitStreams = wait;
}

namespace {
// mixRender's work; returns whether the output should go on pulling (see
// AudioPull): a voice plays or slides (a slide runs on while paused), or
// one did within the last kRestAfterFrames.
bool mixInto(float* out, int frames) {
    if (frames <= 0) return true;
    std::fill(out, out + size_t(frames) * 2, 0.0f);
    MixerState& m = mixer;
    std::lock_guard<std::mutex> lock(m.mu);
    // Whether a voice played or slid in this pull, even one that ended in it.
    bool live = false;
    for (int at = 0; at < frames; at += kBlock) {
        int n = std::min(kBlock, frames - at);
        float* block = out + size_t(at) * 2;
        for (uint32_t slot = 0; slot < m.voices.size(); ++slot) {
            Voice& v = m.voices[slot];
            if (!v.used) continue;
            live |= v.state == MixState::Playing || v.sliding;
            if (mixVoice(v, block, n, m.waitStreams)) freeVoice(slot);
        }
    }
    // Written so that NaN becomes 0 (every comparison with it is false).
    for (size_t i = 0; i < size_t(frames) * 2; ++i) {
        const float x = out[i];
        out[i] = x > 1.0f ? 1.0f : x < -1.0f ? -1.0f : x == x ? x : 0.0f;
    }
    m.quietFrames = live ? 0 : m.quietFrames + frames;
    return m.quietFrames < kRestAfterFrames;
}

}  // namespace

void mixRender(float* out, int frames) { mixInto(out, frames); }

bool audioOpen(AudioSink* sink) {
    audioClose();
    if (!sink) return false;
    std::lock_guard<std::mutex> lock(mixer.sinkMu);
    // Set before the first pull: an on-demand sink may render from open().
    mixSetWaitForStreams(!sink->realTime());
    if (!sink->open([](float* out, int frames) { return mixInto(out, frames); })) {
        mixSetWaitForStreams(false);
        return false;
    }
    mixer.sink = sink;
    return true;
}

void audioClose() {
    std::lock_guard<std::mutex> lock(mixer.sinkMu);
    if (mixer.sink) mixer.sink->close();
    mixer.sink = nullptr;
}

void mixReset() {
    audioClose();
    D().shutdown();
    std::lock_guard<std::mutex> lock(mixer.mu);
    MixerState& m = mixer;
    for (Voice& v : m.voices) v.feed.reset();
    m.voices.clear();
    m.freeSlots.clear();
    m.samples.clear();
    m.sampleBytes = 0;
    m.reservedBytes = 0;
    m.waitStreams = false;
    m.quietFrames = 0;
}
