// State of the server-driven dialogs that lower layers read.
#pragma once

#include <atomic>

// True while a server-driven input box or message box is open (set by the
// dialog handlers; read by history speech and sound gating on any thread).
extern std::atomic<bool> inDialogBox;
