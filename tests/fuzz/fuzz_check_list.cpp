// Any bytes as a "checkfile " payload: besides memory errors, every entry
// is a non-empty token without a space that does not start with "+".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "files/checkfiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    for (const CheckEntry& e : parseCheckList(in))
        if (e.name.empty() || e.name[0] == '+' || e.name.find(' ') != std::string::npos) std::abort();
    return 0;
}
