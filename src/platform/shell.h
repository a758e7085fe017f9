// The shell seam: hands an address or a file to the system's default program
// (xdg/GIO on Linux, the "open" action on Windows, a recorder in tests).
// Texts are CP1252 bytes; the implementation converts.  Failures are silent.
// The defaults do nothing, so the core never tests for absence.
#pragma once

#include <string>

struct ShellSeam {
    virtual ~ShellSeam() = default;
    // Opens a web address (or any document) with its default program.
    virtual void openAddress(const std::string& address) { (void)address; }
    // Starts a program file.
    virtual void execute(const std::string& file) { (void)file; }
};

namespace shell_detail {
inline ShellSeam nullShell;
inline ShellSeam* current = &nullShell;
}  // namespace shell_detail

// The installed shell (the null one until set).  Set once at start-up before
// other threads exist, or by tests between runs.
inline ShellSeam& shell() { return *shell_detail::current; }
inline void setShell(ShellSeam* seam) {
    shell_detail::current = seam ? seam : &shell_detail::nullShell;
}
