// Any bytes as a configuration file.  Besides memory errors, checks that
// what the writer produces reads back to the same records: writing the
// parsed records, reading that and writing again gives the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "net/config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Settings settings;
    std::vector<servinfo> list;
    parseConfig(std::string_view(reinterpret_cast<const char*>(data), size), &settings, &list);
    const std::string once = serializeConfig(settings, list);

    Settings settings2;
    std::vector<servinfo> list2;
    parseConfig(once, &settings2, &list2);
    if (list2.size() != list.size()) std::abort();
    if (serializeConfig(settings2, list2) != once) std::abort();
    return 0;
}
