#include "platform/text.h"

#include <cstdint>

namespace {
// Code points of CP1252 bytes 0x80..0x9F.
constexpr uint16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void putUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

char fromCodePoint(uint32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
    for (int i = 0; i < 32; ++i)
        if (kHigh[i] == cp) return static_cast<char>(0x80 + i);
    return '?';
}
}  // namespace

std::string cp1252ToUtf8(std::string_view in) {
    std::string out;
    out.reserve(in.size() + in.size() / 8);
    for (unsigned char c : in) {
        if (c < 0x80)
            out += static_cast<char>(c);
        else if (c < 0xA0)
            putUtf8(out, kHigh[c - 0x80]);
        else
            putUtf8(out, c);
    }
    return out;
}

std::string utf8ToCp1252(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    size_t i = 0;
    while (i < in.size()) {
        unsigned char c = static_cast<unsigned char>(in[i]);
        uint32_t cp;
        size_t n;
        if (c < 0x80) {
            cp = c, n = 1;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F, n = 2;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F, n = 3;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07, n = 4;
        } else {
            out += '?';
            ++i;
            continue;
        }
        if (i + n > in.size()) {
            out += '?';
            break;
        }
        bool ok = true;
        for (size_t k = 1; k < n; ++k) {
            unsigned char d = static_cast<unsigned char>(in[i + k]);
            if ((d & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (d & 0x3F);
        }
        if (!ok) {
            out += '?';
            ++i;
            continue;
        }
        out += fromCodePoint(cp);
        i += n;
    }
    return out;
}
