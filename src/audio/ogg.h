// Ogg Vorbis loading: whole files into memory for sound effects, and an
// incremental decoder for music streamed while it plays.
//
// Every input is checked before stb_vorbis sees it: the identification and
// comment headers must be well formed and their declared lengths must fit
// inside their packets (crafted comment lengths make the decoder write past
// its buffers), with at most 2 channels and a sane rate.  Pure functions
// except the file readers; no global state, callable from any thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/caps.h"

// What a file may be: kOggMaxChannels, kOggMinRate..kOggMaxRate,
// kOggMaxSampleFrames, kOggMaxFileBytes, kOggMaxHeaderBytes (platform/caps.h).

// Decoded audio as sound effects keep it: interleaved signed 16-bit frames,
// full scale +-32767 (2 bytes a sample, half of float).
struct Pcm {
    std::vector<int16_t> data;
    int channels = 0;
    int rate = 0;  // Hz
    int64_t frames() const { return channels ? static_cast<int64_t>(data.size()) / channels : 0; }
};

// What a file's headers say before any audio is decoded.  `frames` is the
// stream's length from the granule position of its last page (0 when no
// last page is found); a crafted file may lie about it, so decoding still
// enforces the limits on what it actually produces.
struct OggInfo {
    int channels = 0;
    int rate = 0;  // Hz
    int64_t frames = 0;
};

enum class OggCheck { Ok, Bad, Incomplete };

// Checks the first two packets (identification and comment headers) found in
// `data`.  Incomplete: the bytes end before the comment header does (a
// prefix of a longer file may still be fine).
OggCheck oggCheckHeaders(const uint8_t* data, size_t size);

// The size limits of a whole-file decode.  The client uses the default
// sizes; tests pass small ones to reach the limits with small files.
struct OggLimits {
    int64_t maxFrames = kOggMaxSampleFrames;  // decoded frames
    size_t maxFileBytes = kOggMaxFileBytes;   // encoded bytes
    // Called once the headers are read and the declared length is within
    // maxFrames, before any audio is decoded; false refuses the file (the
    // caller's memory budget).  Called on the decoding thread.
    std::function<bool(const OggInfo&)> admit;
    // When set and true, decoding stops between chunks and fails.
    const std::atomic<bool>* cancel = nullptr;
};

// Decodes a whole file held in memory.  False (and *out untouched) when the
// headers fail the check, the decoder fails, a limit is exceeded (a file or
// a sound of exactly the limit is accepted), admit refuses or cancel is set.
// A declared length above maxFrames is refused before decoding; the decode
// then writes into storage sized from the declared length, so a long sound
// costs its own size in memory and not the doublings of a growing buffer.
bool oggDecodeMemory(const uint8_t* data, size_t size, Pcm* out, const OggLimits& limits = {});
// Reads `path` (CP1252 bytes, relative to the working folder) and decodes it;
// a file longer than limits.maxFileBytes is not read past that size.
bool oggLoadFile(const std::string& path, Pcm* out, const OggLimits& limits = {});

// Incremental decoder, used by one thread at a time.
struct OggStream;
struct OggStreamClose {
    void operator()(OggStream* s) const;
};
using OggStreamPtr = std::unique_ptr<OggStream, OggStreamClose>;

// Opens `path` for streaming after checking its headers; null on failure.
OggStreamPtr oggStreamOpen(const std::string& path);
int oggStreamChannels(const OggStream* s);
int oggStreamRate(const OggStream* s);
// Decodes up to `frames` interleaved frames into `out`; returns the number
// decoded, 0 at the end of the file or on a decoding error.
int oggStreamRead(OggStream* s, float* out, int frames);
// Goes back to the first frame; false when the file cannot be re-read.
bool oggStreamRewind(OggStream* s);
