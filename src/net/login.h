// The login exchange, the connection series with their waits, the guarded
// reconnection, and the keep-alive answer.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/radix36.h"  // toBase36

// The machine identifier in radix 36, sent at login.  Set once by start-up
// before any connection.
extern std::string clientId;
// Seconds since 1970 at which the previous series started; 0 at start.
extern std::atomic<int64_t> lastDoConnect2;
// Seconds waited before each of the four attempts.
extern const int delays[4];

constexpr int kProtocolNumber = 65545;

// Folds `n` bytes of `c` into *l: x = x ^ (x << 5) ^ (11 * b + 19), bytes
// taken unsigned.
void qchfnc(uint64_t* l, const char* c, size_t n);
// The low 56 bits of the fold of challenge, login and password.
uint64_t doChallenge(std::string_view challenge, std::string_view login,
                     std::string_view password);
// "login %s|%s|65545|fr|%s|%s\n"; the language is always "fr".
std::string loginLine(std::string_view challenge, std::string_view login,
                      std::string_view password);

// One series of up to four attempts on the selected server entry; returns
// the last result of agc_connect (-1 when there is no entry to use).
int doConnect();
// The series under the 23-second guard; tells the user of a failure (message
// box "Erreur" then quit) on the UI thread.  Always returns 0.
int doConnect2(void* unused = nullptr);

// The user's message for a series ending with `code`; empty for the codes
// that say nothing (1 or more, -5, -6).  CP1252.
std::string connectFailureMessage(int code);

// Answers "ping" with "pong\n" on the current handle.
void ping();

// Stops new series and wakes series waiting between attempts (at exit).
void loginShutdown(bool stopping);
