// The shell seam: hands an address or a file to the desktop (xdg/GIO,
// ShellExecute, or a recorder in tests).  Texts are CP1252 bytes; a back-end
// converts at its own edge.  Callable from any thread.  The default is a
// null shell that opens nothing.
#pragma once

#include <string>

struct ShellSeam {
    virtual ~ShellSeam() = default;
    // Opens `address` with the user's default program ("open" action).
    // Returns false when it could not be handed over.
    virtual bool openAddress(const std::string& address) {
        (void)address;
        return false;
    }
    // Starts the program file `path` (the downloaded client installer), in
    // the file system's bytes.  Where programs are marked as such (POSIX
    // execute bits), a file that is not one is opened with the user's
    // default program instead, as the "open" action would.
    virtual bool executeFile(const std::string& path) {
        (void)path;
        return false;
    }
};

// The installed shell (a null shell until one is set).  Set at start-up
// before other threads exist, or by tests between runs.
ShellSeam& shell();
void setShell(ShellSeam* seam);  // nullptr restores the null shell
