// CP1252 <-> UTF-8 at the edges that need Unicode (GTK, Speech Dispatcher,
// BrlAPI, the headless output).  The core itself keeps CP1252 bytes.
#pragma once

#include <string>
#include <string_view>

// Every CP1252 byte maps to one code point; the five bytes CP1252 leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control of the same
// value, so the conversion is lossless and reversible.
std::string cp1252ToUtf8(std::string_view cp1252);

// A character with no CP1252 form becomes "?"; malformed UTF-8 bytes become "?".
std::string utf8ToCp1252(std::string_view utf8);
