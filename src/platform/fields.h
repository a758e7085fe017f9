// Field and number reading shared by the parsers of server payloads, the
// configuration and HTTP heads.  Pure functions of their view: none reads
// past it, none overflows.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
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

// The run of decimal digits "0"-"9" at the start of `s` (it may be empty).
// Callers pick the reading they need: the value modulo 2^64 (which also
// gives it modulo 2^32), or the value saturated at the largest uint64_t,
// which any smaller cap can be applied to.
struct DigitRun {
    size_t length = 0;       // bytes of digits read
    uint64_t wrapped = 0;    // the value modulo 2^64
    uint64_t saturated = 0;  // the value, or UINT64_MAX when larger
};

inline DigitRun leadingDigits(std::string_view s) {
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    DigitRun r;
    while (r.length < s.size() && s[r.length] >= '0' && s[r.length] <= '9') {
        const auto d = static_cast<uint64_t>(s[r.length] - '0');
        r.wrapped = r.wrapped * 10 + d;
        r.saturated = r.saturated > (kMax - d) / 10 ? kMax : r.saturated * 10 + d;
        ++r.length;
    }
    return r;
}

// Skips leading blanks (space, \t, \n, \v, \f, \r) and at most one sign, as
// the C number readers do.  Returns the rest; *negative tells the sign.
inline std::string_view skipBlanksAndSign(std::string_view s, bool* negative) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
    *negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) *negative = s[i++] == '-';
    return s.substr(i);
}

// Signed decimal as the C reader atoi takes it: leading blanks, one sign,
// digits up to the first other byte; no digits read as 0.  Values beyond
// the 32-bit range saturate at INT32_MIN / INT32_MAX.
inline int32_t readInt32(std::string_view s) {
    bool negative;
    const uint64_t v = leadingDigits(skipBlanksAndSign(s, &negative)).saturated;
    const uint64_t limit = uint64_t{std::numeric_limits<int32_t>::max()} + (negative ? 1 : 0);
    const int64_t m = static_cast<int64_t>(v < limit ? v : limit);
    return static_cast<int32_t>(negative ? -m : m);
}

// Unsigned decimal digits at the very start (no blanks, no sign) up to the
// first other byte; no digits read as 0.  Values beyond 32 bits saturate at
// UINT32_MAX.
inline uint32_t readUint32(std::string_view s) {
    const uint64_t v = leadingDigits(s).saturated;
    constexpr uint64_t kMax = std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(v < kMax ? v : kMax);
}

// The leading number of a sound description's field: an optional "+",
// then digits, "." or "-" must start it; the longest decimal or scientific
// number there is read, whatever the C locale.  No number, or one that is
// not finite, reads as 0.  Kept in double: a value beyond float range must
// be clamped by its user before it becomes a float, never cast.
inline double leadingNumber(std::string_view t) {
    if (!t.empty() && t[0] == '+') t.remove_prefix(1);
    if (t.empty() || !((t[0] >= '0' && t[0] <= '9') || t[0] == '.' || t[0] == '-')) return 0.0;
    double v = 0;
    auto r = std::from_chars(t.data(), t.data() + t.size(), v, std::chars_format::general);
    if (r.ec != std::errc() || !std::isfinite(v)) return 0.0;
    return v;
}

// Unsigned decimal as the C reader strtoul takes it, 32 bits wide: blanks,
// a sign, digits; no digits read as 0; a "-" negates modulo 2^32; too many
// digits give the largest value.  The configuration file's numbers.
inline uint32_t readUint32Wrapping(std::string_view v) {
    bool negative;
    const uint64_t x = leadingDigits(skipBlanksAndSign(v, &negative)).saturated;
    if (x > std::numeric_limits<uint32_t>::max()) return std::numeric_limits<uint32_t>::max();
    uint32_t r = static_cast<uint32_t>(x);
    return negative ? static_cast<uint32_t>(0u - r) : r;
}

// Decimal floating-point reading independent of the C locale (a front-end
// may switch LC_NUMERIC to one whose decimal point is ","): blanks, a sign,
// then the longest number; no number reads as 0.  A number too large for a
// double reads as an infinity, which the volume clamps then replace.
inline float readFloat(std::string_view v) {
    bool negative;
    v = skipBlanksAndSign(v, &negative);
    double x = 0;
    if (!v.empty() && (v[0] == '-' || v[0] == '+')) return 0.0f;  // one sign only
    auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), x);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) x = std::numeric_limits<double>::infinity();
    else if (ec != std::errc()) x = 0;
    if (negative) x = -x;
    // Keep the cast defined: a finite double beyond float's range becomes
    // an infinity of the same sign.
    if (std::isfinite(x) && std::fabs(x) > std::numeric_limits<float>::max())
        x = std::copysign(std::numeric_limits<double>::infinity(), x);
    return static_cast<float>(x);
}
