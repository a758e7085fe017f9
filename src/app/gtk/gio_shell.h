// The desktop's shell on Linux: addresses open with the user's default
// handler through GIO (xdg), files start as programs.
#pragma once

#include "platform/shell.h"

struct GioShell : ShellSeam {
    // Texts are CP1252 (converted to UTF-8 for GIO).  Any thread.
    bool openAddress(const std::string& address) override;
    bool executeFile(const std::string& path) override;
};
