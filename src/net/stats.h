// The connection statistics text shown by the statistics command.
#pragma once

#include <cstdint>
#include <string>

// CP1252 text with the rates per second (kilobytes and bits) and totals of
// the bytes received and sent over `elapsed` seconds.  An elapsed time of 0
// or less (the first second of a connection) shows rates of 0.
std::string statsText(int32_t elapsed, int32_t received, int32_t sent);
