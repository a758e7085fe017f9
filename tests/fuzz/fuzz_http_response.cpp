// Any bytes as an HTTP response, fed whole and then cut in two at a point
// taken from the input: besides memory errors, both feeds must agree on the
// state, the status and the body.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "files/http_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    HttpReader whole;
    std::string body1(httpFeed(&whole, in));

    size_t cut = size ? data[0] % (size + 1) : 0;
    HttpReader split;
    std::string body2(httpFeed(&split, in.substr(0, cut)));
    body2 += httpFeed(&split, in.substr(cut));

    if (whole.state != split.state || whole.status != split.status || body1 != body2) std::abort();
    if (whole.contentLength >= 0 && static_cast<int64_t>(body1.size()) > whole.contentLength) std::abort();
    if (whole.head.size() > kHttpMaxHead + 1) std::abort();
    return 0;
}
