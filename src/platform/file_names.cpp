#include "platform/file_names.h"

#include <string>

namespace {
char upperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }
}  // namespace

bool isWindowsDeviceName(std::string_view part) {
    std::string_view base = part.substr(0, part.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    if (base.size() < 3 || base.size() > 7) return false;
    std::string b;
    for (char c : base) b += upperAscii(c);
    if (b == "CON" || b == "PRN" || b == "AUX" || b == "NUL" || b == "CONIN$" || b == "CONOUT$") return true;
    if (b.size() != 4 || (b.compare(0, 3, "COM") != 0 && b.compare(0, 3, "LPT") != 0)) return false;
    const unsigned char d = static_cast<unsigned char>(b[3]);
    return (d >= '0' && d <= '9') || d == 0xB9 || d == 0xB2 || d == 0xB3;
}

bool isSafeRelativePath(std::string_view fn) {
    if (fn.empty() || fn.front() == '/') return false;
    for (unsigned char c : fn)
        if (c < 0x20 || c == 0x7F || c == '\\' || c == ':') return false;
    size_t start = 0;
    while (start <= fn.size()) {
        size_t end = fn.find('/', start);
        if (end == std::string_view::npos) end = fn.size();
        std::string_view part = fn.substr(start, end - start);
        if (part.empty() || part == "." || part == ".." || isWindowsDeviceName(part)) return false;
        start = end + 1;
    }
    return true;
}
