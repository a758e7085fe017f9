// Field reading shared by the server payloads that separate fields with "|"
// and skip empty ones (input box, message box, extension calls).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// Splits `s` on "|": a run of separators counts as one and empty fields are
// skipped, so a field the server left empty shifts the rest.  The views
// point into `s`.
inline std::vector<std::string_view> splitFields(std::string_view s) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < s.size()) {
        size_t j = s.find('|', i);
        if (j == std::string_view::npos) j = s.size();
        if (j > i) out.push_back(s.substr(i, j - i));
        i = j + 1;
    }
    return out;
}
