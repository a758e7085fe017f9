// kordo-tty [--dir DIR] [--speech reader|system]: the client in a terminal,
// for console screen readers (Fenrir, Speakup, BRLTTY) and SSH.  Its game
// folder follows the desktop client's rules (files_folder.h); sounds and
// music play through SDL as on the desktop.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/client.h"
#include "app/gtk/gio_shell.h"
#include "app/tty/terminal.h"
#include "app/tty/tty_ui.h"
#include "audio/sdl/sdl_sink.h"
#include "platform/diag.h"
#include "platform/files_folder.h"
#include "speech/spd/spd_speech.h"
#include "speech/speech.h"

namespace {

const char kUsage[] =
    "usage: kordo-tty [--dir DIR] [--speech reader|system]\n"
    "Le Kordo in a terminal: plain lines for a console screen reader (Fenrir,\n"
    "Speakup, BRLTTY), keys as in the desktop client, sounds and music.\n"
    "  --dir DIR        keep the configuration, logs, sounds and downloads in DIR\n"
    "                   (default: ~/.local/share/kordo once installed)\n"
    "  --speech MODE    reader (default): the terminal's screen reader reads what\n"
    "                   is written, the client does not speak; system: speech\n"
    "                   through Speech Dispatcher as in the desktop client\n"
    "  --help           show this help and exit\n"
    "  --version        show the version and exit\n"
    "Keys: as in the desktop client; Tab moves between the history, the menu\n"
    "and the chat line.  Keys a terminal may not send have these stand-ins:\n";

// Diagnostics on standard error only when it is not the terminal the game
// is played on: there they would land among the lines a reader reads.
struct QuietDiag : DiagSink {
    void line(std::string_view) override {}
};

// Addresses are written out for the player (a terminal over SSH has no
// browser to open), and handed to the desktop when there is one.
struct TtyShell : GioShell {
    explicit TtyShell(TtyScreen& screen) : screen(screen) {}
    bool openAddress(const std::string& address) override {
        screen.writeLines("Adresse : " + address);
        if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) return true;
        return GioShell::openAddress(address);
    }
    TtyScreen& screen;
};

int badUsage(const std::string& what) {
    std::fprintf(stderr, "kordo-tty: %s (see kordo-tty --help)\n", what.c_str());
    return 2;
}

int columnsOf(int fd) {
    int columns = 0, rows = 0;
    terminalSize(fd, &columns, &rows);
    return columns;
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir, speech = "reader";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            for (const AltKey& k : kAltKeys) std::printf("  %s\n", k.help);
            std::printf("  Alt+Q   close the client (as Alt+F4, which a console may keep)\n");
            return 0;
        }
        if (a == "--version") {
            std::printf("kordo-tty %s\n", KORDO_VERSION);
            return 0;
        }
        if (a == "--dir" || a == "--speech") {
            if (i + 1 >= argc || !argv[i + 1][0]) return badUsage(a + " needs a value");
            (a == "--dir" ? dir : speech) = argv[++i];
        } else {
            return badUsage("unknown option " + a);
        }
    }
    if (speech != "reader" && speech != "system") return badUsage("unknown speech mode " + speech);
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
        std::fprintf(stderr, "kordo-tty: needs a terminal on its standard input and output\n");
        return 1;
    }

    ClientOptions options;
    options.programFolder = dir.empty() ? filesFolder("kordo") : dir;
    std::string error;
    if (!makeFilesFolder(options.programFolder, &error)) {
        std::fprintf(stderr, "kordo-tty: %s\n", error.c_str());
        return 1;
    }

    // SDL must leave the signals to the terminal's handlers.
    setenv("SDL_NO_SIGNAL_HANDLERS", "1", 1);
    RawTerminal raw;
    if (!raw.enter(STDIN_FILENO, &error)) {
        std::fprintf(stderr, "kordo-tty: %s\n", error.c_str());
        return 1;
    }

    TtyScreen screen([](const std::string& bytes) { writeAll(STDOUT_FILENO, bytes); },
                     columnsOf(STDOUT_FILENO));
    TtyReaderSpeech readerSpeech(screen);
    TtyShell shellSeam(screen);
    options.shell = &shellSeam;
    static StreamDiagSink stderrDiag(stderr);
    static QuietDiag quietDiag;
    options.diag = isatty(STDERR_FILENO) ? static_cast<DiagSink*>(&quietDiag) : &stderrDiag;

    if (speech == "reader") {
        options.selectSpeech = [&readerSpeech] {
            selectSpeechBackend(kSpeechScreenReader, &readerSpeech);
        };
    } else {
        installSystemSpeech();
        options.selectSpeech = [] { autodetectScreenReader(); };
    }
    SdlSink sink;
    options.audioSink = &sink;

    int status = 0;
    {
        TtyUi ui(STDIN_FILENO, raw.signalFd(), screen, [] { return columnsOf(STDOUT_FILENO); });
        status = clientMain(ui, options);
    }
    raw.leave();
    return status;
}
