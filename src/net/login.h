// The login exchange, the connection series with their waits, the guarded
// reconnection, and what the client does once a connection is lost (the
// notice, the reconnection, the quit on status -7), which the transport
// reports through the handler loginInstall registers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "net/agc.h"

// Seconds waited before each of the four attempts.
inline constexpr int delays[4] = {1, 3, 5, 11};

// The unit's process-wide state is one record in login.cpp: the machine
// identifier sent at login, the start of the previous series, and the series
// threads of its own.  loginReset() joins the series threads (they end at
// once after agc_deinit) and restores what a fresh process has; start-up
// calls it before any connection, tests between cases, after agc_deinit.
void loginReset();

// The machine identifier in radix 36, sent at login.  Set once by start-up
// (UI thread) before any connection; read by the threads that run a series.
void setLoginClientId(std::string clientId);

// Seconds since 1970 at which the previous series started (0 before the
// first); doConnect2's guard reads and records it.  Any thread that runs a
// series; tests set it to place a series relative to the previous one.
int64_t lastSeriesStart();
void setLastSeriesStart(int64_t seconds);

// Registers the lost-connection handler with the transport (start-up,
// before any connection).
void loginInstall();
// Joins the series started on threads of their own.  At exit, after
// agc_deinit, which makes them end.
void loginJoinSeries();

// The login line (loginReply) with the client identifier.
std::string loginLine(std::string_view challenge, std::string_view login,
                      std::string_view password);

// agc_connect on host:port with login and password answering the challenge
// (loginLine); a positive status makes the handle the current connection
// (agc_current).
int loginConnect(const std::string& host, int port, const std::string& login,
                 const std::string& password);

// One series of up to four attempts on the selected server entry; returns
// the last result of agc_connect (-1 when there is no entry to use).
int doConnect();
// The series under the 23-second guard; tells the user of a failure (message
// box "Erreur" then quit) on the UI thread.  Always returns 0.
int doConnect2(void* unused = nullptr);

// The user's message for a series ending with `code`; empty for the codes
// that say nothing (1 or more, -5, -6).  CP1252.
std::string connectFailureMessage(int code);

// The notice said when a connection is lost, CP1252.
inline constexpr char kDisconnectedNotice[] =
    "Vous avez \xE9t\xE9 d\xE9" "connect\xE9 du serveur";

// The lost-connection handler: says the notice; reconnects after a loss
// the client did not want of a connection that had logged in (status 1 or
// more), unless the transport is shutting down -- on a thread of its own
// when the loss was found on the UI thread, which the new connection's first
// lines may need; quits on status -7.
void onConnectionLost(int32_t status, bool wanted);
