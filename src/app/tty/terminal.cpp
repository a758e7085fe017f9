#include "app/tty/terminal.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

// Shared with the signal handlers, so plain globals of async-signal-safe
// types, written only while no handler is installed.
int gFd = -1;
struct termios gSaved;
struct termios gRaw;
volatile sig_atomic_t gActive = 0;      // raw mode is on and gSaved holds the settings
volatile sig_atomic_t gTerminating = 0; // an orderly end was asked for already
int gPipe[2] = {-1, -1};

constexpr int kTerminating[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};
constexpr int kFatal[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr int kOthers[] = {SIGWINCH, SIGTSTP, SIGCONT};
constexpr int kMaxSignal = 65;
struct sigaction gPrevious[kMaxSignal];

void restoreSettings() {
    if (gActive) tcsetattr(gFd, TCSAFLUSH, &gSaved);
}

void notify(char c) {
    if (gPipe[1] < 0) return;
    const int saved = errno;
    ssize_t r = write(gPipe[1], &c, 1);
    (void)r;
    errno = saved;
}

// Back to the disposition there was before ours, then the signal again.
void reraise(int sig) {
    sigaction(sig, &gPrevious[sig], nullptr);
    raise(sig);
}

void onSignal(int sig) {
    switch (sig) {
        case SIGWINCH: notify(kSignalResize); return;
        case SIGCONT:
            if (gActive) tcsetattr(gFd, TCSADRAIN, &gRaw);
            notify(kSignalContinue);
            return;
        case SIGTSTP: {
            // Stop with the terminal as the shell wants it; raw again when
            // continued (SIGCONT above).
            restoreSettings();
            struct sigaction dfl{};
            dfl.sa_handler = SIG_DFL;
            sigemptyset(&dfl.sa_mask);
            struct sigaction ours{};
            sigaction(SIGTSTP, &dfl, &ours);
            sigset_t unblock;
            sigemptyset(&unblock);
            sigaddset(&unblock, SIGTSTP);
            raise(SIGTSTP);
            sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
            sigaction(SIGTSTP, &ours, nullptr);
            return;
        }
        case SIGQUIT:
            restoreSettings();
            reraise(sig);
            return;
        case SIGTERM: case SIGHUP: case SIGINT:
            restoreSettings();
            if (!gTerminating) {
                gTerminating = 1;
                notify(kSignalTerminate);
                return;
            }
            reraise(sig);
            return;
        default:  // a crash
            restoreSettings();
            reraise(sig);
            return;
    }
}

void install(int sig, int flags) {
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = flags;
    sigaction(sig, &sa, &gPrevious[sig]);
}

void atExitRestore() { restoreSettings(); }

}  // namespace

bool RawTerminal::enter(int fd, std::string* error) {
    if (gActive) {
        *error = "the terminal is in raw mode already";
        return false;
    }
    if (!isatty(fd)) {
        *error = "the standard input is not a terminal";
        return false;
    }
    if (tcgetattr(fd, &gSaved) != 0) {
        *error = std::string("cannot read the terminal's settings: ") + std::strerror(errno);
        return false;
    }
    if (gPipe[0] < 0) {
        if (pipe(gPipe) != 0) {
            *error = std::string("no pipe for signals: ") + std::strerror(errno);
            return false;
        }
        for (int p : gPipe) {
            fcntl(p, F_SETFL, fcntl(p, F_GETFL) | O_NONBLOCK);
            fcntl(p, F_SETFD, FD_CLOEXEC);
        }
        static bool registered = false;
        if (!registered) std::atexit(atExitRestore), registered = true;
    }
    gFd = fd;
    gRaw = gSaved;
    // Bytes as typed, one at a time: no echo, no line editing, no signal or
    // flow-control keys, CR not turned into LF.  Output processing stays,
    // so a stray "\n" (a diagnostic) still starts its line at the left.
    gRaw.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                           ICRNL | IXON);
    gRaw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    gRaw.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB);
    gRaw.c_cflag |= CS8;
    gRaw.c_cc[VMIN] = 1;
    gRaw.c_cc[VTIME] = 0;
    gTerminating = 0;
    // The handlers are in place before the settings change, so no signal
    // can find the terminal raw with nobody to restore it.
    gActive = 1;
    for (int s : kTerminating) install(s, 0);
    for (int s : kFatal) install(s, SA_NODEFER);
    for (int s : kOthers) install(s, SA_RESTART);
    if (tcsetattr(fd, TCSAFLUSH, &gRaw) != 0) {
        *error = std::string("cannot switch the terminal to raw mode: ") + std::strerror(errno);
        leave();
        return false;
    }
    return true;
}

void RawTerminal::leave() {
    if (!gActive) return;
    // Handlers first: from here on a signal finds the terminal as it was.
    for (int s : kTerminating) sigaction(s, &gPrevious[s], nullptr);
    for (int s : kFatal) sigaction(s, &gPrevious[s], nullptr);
    for (int s : kOthers) sigaction(s, &gPrevious[s], nullptr);
    tcsetattr(gFd, TCSAFLUSH, &gSaved);
    gActive = 0;
}

int RawTerminal::signalFd() const { return gPipe[0]; }

void terminalSize(int fd, int* columns, int* rows) {
    struct winsize ws{};
    if (ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) {
        *columns = ws.ws_col;
        *rows = ws.ws_row;
        return;
    }
    *columns = 80;
    *rows = 24;
}

void writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            // A terminal that does not keep up: wait until it takes more.
            fd_set w;
            FD_ZERO(&w);
            FD_SET(fd, &w);
            select(fd + 1, nullptr, &w, nullptr, nullptr);
        } else {
            return;  // the terminal is gone (EIO after a hang-up)
        }
    }
}
