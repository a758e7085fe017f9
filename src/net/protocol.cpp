#include "net/protocol.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "platform/fields.h"

namespace {
using C = ServerCommand;
}

const CommandRow kCommandTable[static_cast<int>(ServerCommand::Count)] = {
    {"ping", kNoPayload, C::Ping},
    {"say ", 4, C::Say},
    {"saynh ", 6, C::SayNh},
    {"sayi ", 5, C::SayI},
    {"sayurg ", 7, C::SayUrg},
    {"play ", 5, C::Play},
    {"playurg ", 8, C::PlayUrg},
    {"playow ", 7, C::PlayOw},
    {"input ", 6, C::Input},
    {"menu ", 5, C::Menu},
    {"uitem ", 5, C::UItem},  // the space after the keyword is the payload's first byte
    {"umenu ", 6, C::UMenu},
    {"close menu", kNoPayload, C::CloseMenu},
    {"close all menus", kNoPayload, C::CloseAllMenus},
    {"movem", 6, C::MoveM},
    {"music ", 6, C::Music},
    {"dllq ", 5, C::DllQ},
    {"browse ", 7, C::Browse},
    {"checkfile ", 10, C::CheckFile},
    {"preload ", 8, C::Preload},
    {"msgbox", 7, C::MsgBox},
    {"newVersion", 12, C::NewVersion},
    {"status ", 7, C::Status},
    {"challenge", 10, C::Challenge},
};

bool startsWith(std::string_view s, std::string_view t) {
    if (s.size() < t.size()) return false;
    // A plain loop: keywords are a few bytes long, where a memcmp call costs
    // more than the comparison itself.
    for (size_t i = 0; i < t.size(); ++i)
        if (s[i] != t[i]) return false;
    return true;
}

namespace {
constexpr int kRows = static_cast<int>(ServerCommand::Count);

// For each first byte, the rows whose prefix begins with it, in table order,
// ended by -1.  Testing only those keeps the table's order and its overlaps
// while a line of an unknown keyword is refused after one lookup.
struct FirstByteIndex {
    signed char rows[256][kRows + 1];
    // Each prefix as two words and masks, so that a line of 16
    // bytes or more is compared with two loads and one branch per row.
    uint64_t word[kRows][2];
    uint64_t mask[kRows][2];
    FirstByteIndex() : rows{}, word{}, mask{} {
        for (int i = 0; i < kRows; ++i) {
            // Bytes laid out as in the line, so the comparison holds whatever
            // the machine's byte order.
            unsigned char w[16] = {}, m[16] = {};
            std::string_view p = kCommandTable[i].prefix;
            for (size_t k = 0; k < p.size() && k < 16; ++k) {
                w[k] = static_cast<unsigned char>(p[k]);
                m[k] = 0xFF;
            }
            std::memcpy(word[i], w, 16);
            std::memcpy(mask[i], m, 16);
        }
        for (auto& r : rows) r[0] = -1;
        for (int i = 0; i < kRows; ++i) {
            unsigned char b = static_cast<unsigned char>(kCommandTable[i].prefix[0]);
            int n = 0;
            while (rows[b][n] != -1) ++n;
            rows[b][n] = static_cast<signed char>(i);
            rows[b][n + 1] = -1;
        }
    }
};
const FirstByteIndex kIndex;

// Whether row `r` matches `line`; a, b are the line's first 16 bytes as two
// words when `wide`.
inline bool rowMatches(int r, std::string_view line, bool wide, uint64_t a, uint64_t b) {
    if (wide)
        return (((a ^ kIndex.word[r][0]) & kIndex.mask[r][0]) |
                ((b ^ kIndex.word[r][1]) & kIndex.mask[r][1])) == 0;
    return startsWith(line, kCommandTable[r].prefix);
}

inline uint64_t load8(const char* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
}  // namespace

bool parseCommand(std::string_view line, ParsedCommand* out) {
    if (line.empty()) return false;
    static_assert(sizeof("close all menus") - 1 <= 16, "prefixes fit two words");
    const bool wide = line.size() >= 16;
    const uint64_t a = wide ? load8(line.data()) : 0, b = wide ? load8(line.data() + 8) : 0;
    for (const signed char* r = kIndex.rows[static_cast<unsigned char>(line[0])]; *r != -1; ++r) {
        const CommandRow& row = kCommandTable[*r];
        if (!rowMatches(*r, line, wide, a, b)) continue;
        out->command = row.command;
        out->payload = {};
        if (row.offset != kNoPayload && line.size() > static_cast<size_t>(row.offset))
            out->payload = line.substr(static_cast<size_t>(row.offset));
        out->required = !(line.size() > 11 && line[11] == '*');
        return true;
    }
    return false;
}

void qchfnc(uint64_t* l, const char* c, size_t n) {
    uint64_t x = *l;
    for (size_t i = 0; i < n; ++i) {
        uint64_t b = static_cast<unsigned char>(c[i]);
        x = x ^ (x << 5) ^ (11 * b + 19);
    }
    *l = x;
}

uint64_t doChallenge(std::string_view challenge, std::string_view login,
                     std::string_view password) {
    uint64_t x = 0;
    qchfnc(&x, challenge.data(), challenge.size());
    qchfnc(&x, login.data(), login.size());
    qchfnc(&x, password.data(), password.size());
    return x & 0x00FFFFFFFFFFFFFFull;
}

SoundSpec parseSoundSpec(std::string_view s) {
    std::string_view field[4];
    size_t n = 0, i = 0;
    while (n < 4) {
        while (i < s.size() && s[i] == ' ') ++i;
        if (i >= s.size()) break;
        size_t j = s.find(' ', i);
        if (j == std::string_view::npos) j = s.size();
        field[n++] = s.substr(i, j - i);
        i = j;
    }
    SoundSpec spec;
    spec.text = s;
    if (n == 0) return spec;
    spec.name = field[0];
    if (n > 1) spec.volume = leadingNumber(field[1]);
    if (n > 2) spec.pan = leadingNumber(field[2]);
    if (n > 3) spec.semitones = leadingNumber(field[3]);
    return spec;
}
