// The terminal key decoder on arbitrary bytes: no crash, nothing left
// pending after a flush, and the same keys whether the bytes come at once
// or in two reads cut where the first byte says.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "app/tty/key_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t cut = data[0] % size;
    std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

    KeyDecoder whole;
    std::vector<TermKey> a;
    keyDecoderFeed(&whole, bytes, &a);
    keyDecoderFlush(&whole, &a);

    KeyDecoder split;
    std::vector<TermKey> b;
    const size_t at = cut < bytes.size() ? cut : bytes.size();
    keyDecoderFeed(&split, bytes.substr(0, at), &b);
    keyDecoderFeed(&split, bytes.substr(at), &b);
    keyDecoderFlush(&split, &b);

    if (keyDecoderPending(whole) || keyDecoderPending(split) || a != b) std::abort();
    return 0;
}
