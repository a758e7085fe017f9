// The user's settings and the server list.  Process-wide; written on the UI
// thread (start-up, connection dialog, commands) and read by the connecting
// thread once the dialog has started it.
#pragma once

#include <optional>
#include <string>
#include <vector>

// One server entry.  Every text field may be absent (distinct from empty).
struct servinfo {
    std::optional<std::string> name;
    std::optional<std::string> host;
    std::optional<std::string> login;
    std::optional<std::string> password;
    std::optional<std::string> createAccountPage;
    std::optional<std::string> lostPasswordPage;
    std::optional<std::string> aboutPage;
    std::optional<std::string> dlHost;
    std::optional<std::string> dlBase;
    int port = 0;
};

struct Settings {
    float muVol = 0.5f;   // music volume, 0..1
    float fxVol = 1.0f;   // sound effect volume, 0..1
    std::string language = "fr";  // at most 2 bytes
    bool muStopped = false;
    unsigned serverIndex = 0;  // index into servers; may name no entry
};

extern Settings conf;
extern std::vector<servinfo> servers;

// The selected entry, or nullptr when serverIndex names no entry.
servinfo* selectedServer();
