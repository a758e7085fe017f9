#include "audio/ogg.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#endif

// stb_vorbis is C written for many compilers; its warnings are not ours.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wunused-value"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wshadow"
#define STB_VORBIS_NO_PUSHDATA_API
#include "stb_vorbis.h"
#pragma GCC diagnostic pop

namespace {

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Reassembles the first `want` packets of the Ogg page sequence, in page
// order as the decoder reads them.  Returns Incomplete when the data ends
// first, Bad on a malformed page.
OggCheck firstPackets(const uint8_t* data, size_t size, size_t want,
                      std::vector<std::vector<uint8_t>>* packets) {
    std::vector<uint8_t> cur;
    size_t at = 0;
    while (packets->size() < want) {
        if (size - at < 27) return OggCheck::Incomplete;
        const uint8_t* h = data + at;
        if (std::memcmp(h, "OggS", 4) != 0 || h[4] != 0) return OggCheck::Bad;
        size_t nseg = h[26];
        if (size - at - 27 < nseg) return OggCheck::Incomplete;
        const uint8_t* lacing = h + 27;
        size_t body = at + 27 + nseg;
        size_t bodyLen = 0;
        for (size_t i = 0; i < nseg; ++i) bodyLen += lacing[i];
        if (size - body < bodyLen) return OggCheck::Incomplete;
        size_t off = body;
        for (size_t i = 0; i < nseg && packets->size() < want; ++i) {
            cur.insert(cur.end(), data + off, data + off + lacing[i]);
            off += lacing[i];
            // A comment packet larger than we ever read is refused outright.
            if (cur.size() > kOggMaxHeaderBytes) return OggCheck::Bad;
            if (lacing[i] < 255) {
                packets->push_back(std::move(cur));
                cur.clear();
            }
        }
        at = body + bodyLen;
    }
    return OggCheck::Ok;
}

}  // namespace

OggCheck oggCheckHeaders(const uint8_t* data, size_t size) {
    std::vector<std::vector<uint8_t>> packets;
    OggCheck r = firstPackets(data, size, 2, &packets);
    if (r != OggCheck::Ok) return r;

    // Identification header: type 1, "vorbis", version 0, channels, rate.
    const std::vector<uint8_t>& id = packets[0];
    if (id.size() < 30 || id[0] != 1 || std::memcmp(&id[1], "vorbis", 6) != 0) return OggCheck::Bad;
    if (le32(&id[7]) != 0) return OggCheck::Bad;
    int channels = id[11];
    uint32_t rate = le32(&id[12]);
    if (channels < 1 || channels > kOggMaxChannels) return OggCheck::Bad;
    if (rate < static_cast<uint32_t>(kOggMinRate) || rate > static_cast<uint32_t>(kOggMaxRate))
        return OggCheck::Bad;

    // Comment header: type 3, "vorbis", vendor length + vendor, comment
    // count, then each comment as length + bytes.  Every length must fit in
    // what is left of the packet.
    const std::vector<uint8_t>& c = packets[1];
    if (c.size() < 7 || c[0] != 3 || std::memcmp(&c[1], "vorbis", 6) != 0) return OggCheck::Bad;
    size_t at = 7;
    auto take32 = [&](uint32_t* v) {
        if (c.size() - at < 4) return false;
        *v = le32(&c[at]);
        at += 4;
        return true;
    };
    uint32_t len = 0;
    if (!take32(&len) || len > c.size() - at) return OggCheck::Bad;
    at += len;
    uint32_t count = 0;
    if (!take32(&count) || count > (c.size() - at) / 4) return OggCheck::Bad;
    for (uint32_t i = 0; i < count; ++i) {
        if (!take32(&len) || len > c.size() - at) return OggCheck::Bad;
        at += len;
    }
    return OggCheck::Ok;
}

namespace {

// stb_vorbis keeps one table for the whole process, its CRC table: every
// decoder open rewrites it and every page search (the stream's length) reads
// it.  Decoders are opened on several threads (the sound loader, the music
// changes on a connection's dispatch thread, the music decoder), so opens
// and page searches take this lock; decoding itself touches no shared state
// and runs unlocked.
std::mutex stbSharedTable;

// stb_vorbis leaks some of its setup allocations when it rejects a
// malformed setup header.  Giving it an arena of ours instead of the heap
// makes every allocation ours to free, whatever path it takes.  The arena
// grows only when the decoder says it ran out of room.
using Arena = std::unique_ptr<char[]>;

template <typename Open>
stb_vorbis* openInArena(Open open, Arena* arena) {
    for (int size : {256 << 10, 2 << 20, 16 << 20}) {
        arena->reset(new char[size_t(size)]);
        stb_vorbis_alloc a{arena->get(), size};
        int err = 0;
        stb_vorbis* v = nullptr;
        {
            std::lock_guard<std::mutex> lock(stbSharedTable);
            v = open(&a, &err);
        }
        if (v) return v;
        if (err != VORBIS_outofmem) break;
    }
    arena->reset();
    return nullptr;
}

bool infoWithinLimits(stb_vorbis* v) {
    stb_vorbis_info info = stb_vorbis_get_info(v);
    return info.channels >= 1 && info.channels <= kOggMaxChannels &&
           info.sample_rate >= static_cast<unsigned>(kOggMinRate) &&
           info.sample_rate <= static_cast<unsigned>(kOggMaxRate);
}

bool readFile(const std::string& path, size_t limit, std::vector<uint8_t>* out) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    out->clear();
    uint8_t buf[65536];
    size_t n;
    bool ok = true;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        if (out->size() + n > limit) {
            // Only a whole-file read fails here; a header read keeps the prefix.
            n = limit - out->size();
            out->insert(out->end(), buf, buf + n);
            ok = false;
            break;
        }
        out->insert(out->end(), buf, buf + n);
    }
    std::fclose(f);
    return ok;
}

}  // namespace

bool oggDecodeMemory(const uint8_t* data, size_t size, Pcm* out, const OggLimits& limits) {
    if (!data || size > limits.maxFileBytes || oggCheckHeaders(data, size) != OggCheck::Ok)
        return false;
    Arena arena;
    stb_vorbis* v = openInArena(
        [&](const stb_vorbis_alloc* a, int* err) {
            return stb_vorbis_open_memory(data, static_cast<int>(size), err, a);
        },
        &arena);
    if (!v) return false;
    bool ok = infoWithinLimits(v);
    Pcm pcm;
    if (ok) {
        stb_vorbis_info si = stb_vorbis_get_info(v);
        OggInfo info;
        info.channels = si.channels;
        info.rate = static_cast<int>(si.sample_rate);
        // The last page's granule position: a seek near the end of the
        // bytes in memory, no decoding.  A failed search leaves an error
        // code that must not linger into the decode.
        {
            std::lock_guard<std::mutex> lock(stbSharedTable);
            info.frames = static_cast<int64_t>(stb_vorbis_stream_length_in_samples(v));
        }
        stb_vorbis_get_error(v);
        pcm.channels = info.channels;
        pcm.rate = info.rate;
        // Past the declared length by more than this is a lying header:
        // stb_vorbis trims the last packet to that length, so an honest
        // file never gets near it.
        constexpr int64_t kSlackFrames = 8192;
        int64_t bound = limits.maxFrames;
        if (info.frames > limits.maxFrames) ok = false;
        else if (info.frames > 0) bound = std::min(bound, info.frames + kSlackFrames);
        if (ok && limits.admit && !limits.admit(info)) ok = false;
        if (ok && info.frames > 0) pcm.data.reserve(static_cast<size_t>(info.frames) * size_t(pcm.channels));
        std::vector<short> chunk(4096 * static_cast<size_t>(pcm.channels));
        while (ok) {
            if (limits.cancel && limits.cancel->load()) {
                ok = false;
                break;
            }
            int got = stb_vorbis_get_samples_short_interleaved(v, pcm.channels, chunk.data(),
                                                               static_cast<int>(chunk.size()));
            if (got <= 0) break;
            if (pcm.frames() + got > bound) {
                ok = false;
                break;
            }
            pcm.data.insert(pcm.data.end(), chunk.begin(), chunk.begin() + got * pcm.channels);
        }
        if (pcm.data.empty()) ok = false;
    }
    stb_vorbis_close(v);
    if (ok) {
        pcm.data.shrink_to_fit();  // a no-op when the declared length was right
        *out = std::move(pcm);
    }
    return ok;
}

bool oggLoadFile(const std::string& path, Pcm* out, const OggLimits& limits) {
    std::vector<uint8_t> bytes;
    if (!readFile(path, limits.maxFileBytes, &bytes)) return false;
    return oggDecodeMemory(bytes.data(), bytes.size(), out, limits);
}

struct OggStream {
    Arena arena;  // outlives v
    stb_vorbis* v = nullptr;
    int channels = 0;
    int rate = 0;
};

void OggStreamClose::operator()(OggStream* s) const {
    if (!s) return;
    if (s->v) stb_vorbis_close(s->v);
    delete s;
}

OggStreamPtr oggStreamOpen(const std::string& path) {
    std::vector<uint8_t> head;
    readFile(path, kOggMaxHeaderBytes, &head);
    if (head.empty() || oggCheckHeaders(head.data(), head.size()) != OggCheck::Ok) return nullptr;
    OggStreamPtr s(new OggStream);
    s->v = openInArena(
        [&](const stb_vorbis_alloc* a, int* err) { return stb_vorbis_open_filename(path.c_str(), err, a); },
        &s->arena);
    if (!s->v || !infoWithinLimits(s->v)) return nullptr;
    stb_vorbis* v = s->v;
    stb_vorbis_info info = stb_vorbis_get_info(v);
    s->channels = info.channels;
    s->rate = static_cast<int>(info.sample_rate);
    return s;
}

int oggStreamChannels(const OggStream* s) { return s->channels; }
int oggStreamRate(const OggStream* s) { return s->rate; }

int oggStreamRead(OggStream* s, float* out, int frames) {
    int got = stb_vorbis_get_samples_float_interleaved(s->v, s->channels, out, frames * s->channels);
    return got > 0 ? got : 0;
}

bool oggStreamRewind(OggStream* s) { return stb_vorbis_seek_start(s->v) != 0; }
