// Unsigned radix-36 text, shared by the machine identifier and the login line.
#pragma once

#include <cstdint>
#include <iterator>
#include <string>

// "0"-"9" then "a"-"z", no leading zeros ("0" for 0).
inline std::string toBase36(uint64_t v) {
    static constexpr char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    char buf[16];  // 36^13 > 2^64, so 13 digits always suffice
    int n = 0;
    do {
        buf[n++] = digits[v % 36];
        v /= 36;
    } while (v);
    return std::string(std::make_reverse_iterator(buf + n), std::make_reverse_iterator(buf));
}
