// Ogg loading from untrusted bytes: the header check, the length taken from
// the last page, then the decoder on whatever passes them.  Any crash,
// overflow or undefined behaviour is a find.
#include <cstddef>
#include <cstdint>

#include "audio/ogg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    oggCheckHeaders(data, size / 2);  // a prefix, as a stream's header read sees it
    Pcm pcm;
    oggDecodeMemory(data, size, &pcm);
    // As the sample loader decodes: a budget decided from the declared
    // length, and a decode held to it.
    OggLimits limits;
    limits.maxFrames = 1 << 20;
    limits.admit = [](const OggInfo& info) { return info.frames > 0 && info.frames < (1 << 16); };
    Pcm budgeted;
    oggDecodeMemory(data, size, &budgeted, limits);
    return 0;
}
