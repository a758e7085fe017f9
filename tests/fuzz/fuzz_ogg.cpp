// Ogg loading from untrusted bytes: the header check, then the decoder on
// whatever passes it.  Any crash, overflow or undefined behaviour is a find.
#include <cstddef>
#include <cstdint>

#include "audio/ogg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    oggCheckHeaders(data, size / 2);  // a prefix, as a stream's header read sees it
    Pcm pcm;
    oggDecodeMemory(data, size, &pcm);
    return 0;
}
