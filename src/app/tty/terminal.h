// The controlling terminal of kordo-tty: raw input, its size, and the
// signals that concern it.  POSIX only.
//
// Raw mode (no echo, no line editing, no signal keys: Ctrl+C and Ctrl+Z
// are keys of the game) lasts from enter() until leave(), which the
// destructor also runs.  The terminal's own settings come back on every way
// out: a normal end; a terminating signal (SIGTERM, SIGHUP when the
// terminal or the SSH link goes away, SIGINT, SIGQUIT), whose handler
// restores them at once and asks the loop for an orderly end, a second one
// ending the process; a crash (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT),
// whose handler restores them and re-raises the signal to the handler that
// was there before; a stop (SIGTSTP), restored while stopped and raw again
// on return; and exit() from anywhere.
#pragma once

#include <string>

// What a signal asks of the loop, one byte each on signalFd().
enum : char {
    kSignalResize = 'W',    // SIGWINCH: read the size again
    kSignalTerminate = 'T', // end the client as when its window closes
    kSignalContinue = 'C',  // back from a stop: raw mode is on again, redraw
};

class RawTerminal {
public:
    RawTerminal() = default;
    RawTerminal(const RawTerminal&) = delete;
    RawTerminal& operator=(const RawTerminal&) = delete;
    ~RawTerminal() { leave(); }

    // Saves the settings of terminal `fd`, installs the signal handlers and
    // switches to raw mode.  False with a one-line reason when `fd` is no
    // terminal or its settings cannot be changed.  One at a time.
    bool enter(int fd, std::string* error);
    // The saved settings back, the handlers removed.  Idempotent.
    void leave();
    // The read end of the signal pipe (non-blocking); -1 before enter().
    int signalFd() const;
};

// Columns and rows of terminal `fd`; 80 x 24 when it does not say.
void terminalSize(int fd, int* columns, int* rows);

// Writes all of `bytes` to `fd`, retrying after interruptions; gives up
// silently when the terminal is gone.
void writeAll(int fd, const std::string& bytes);
