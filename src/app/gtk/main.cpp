// kordo [--dir DIR]: the Linux desktop client.  Its game folder (the
// configuration, session logs, sounds, downloads and extension libraries) is
// DIR, else the folder files_folder.h chooses: the executable's own folder
// for a build run where it was built, "$XDG_DATA_HOME/kordo" once installed.
#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/diag.h"
#include "app/client.h"
#include "app/gtk/gio_shell.h"
#include "app/gtk/gtk_frontend.h"
#include "audio/sdl/sdl_sink.h"
#include "platform/files_folder.h"
#include "speech/spd/spd_speech.h"
#include "speech/speech.h"

namespace {
const char kUsage[] =
    "usage: kordo [--dir DIR] [GTK options]\n"
    "Le Kordo: the accessible client of a French text-and-sound online game.\n"
    "  --dir DIR     keep the configuration, logs, sounds and downloads in DIR\n"
    "                (default: ~/.local/share/kordo once installed)\n"
    "  --help        show this help and exit\n"
    "  --version     show the version and exit\n";
}  // namespace

int main(int argc, char** argv) {
    // The client draws nothing with OpenGL.  Left enabled, GDK probes GLX
    // for its visuals at start-up, which maps the display's GL driver (with
    // Mesa's software one, LLVM: some 50 MB resident) for the whole run.
    g_setenv("GDK_GL", "disable", FALSE);
    // GTK takes its own options (--display, ...) out of argv; --help and
    // --version answer even without a display.
    const bool displayOpen = gtk_init_check(&argc, &argv);

    std::string dir;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (!std::strcmp(a, "--version")) {
            std::printf("kordo %s\n", KORDO_VERSION);
            return 0;
        }
        if (!std::strcmp(a, "--dir") && i + 1 < argc && argv[i + 1][0]) {
            dir = argv[++i];
            continue;
        }
        if (!std::strcmp(a, "--dir")) {
            std::fprintf(stderr, "kordo: --dir needs a folder\n");
        } else {
            std::fprintf(stderr, "kordo: unknown option %s (see kordo --help)\n", a);
        }
        return 2;
    }
    if (!displayOpen) {
        std::fprintf(stderr, "kordo: cannot open the display\n");
        return 1;
    }

    ClientOptions options;
    options.programFolder = dir.empty() ? filesFolder("kordo") : dir;
    std::string error;
    if (!makeFilesFolder(options.programFolder, &error)) {
        std::fprintf(stderr, "kordo: %s\n", error.c_str());
        GtkFrontEnd().fatalError(error);
        return 1;
    }

    // The real Linux detection (Orca, then Speech Dispatcher's voice).
    installSystemSpeech();
    options.selectSpeech = [] { autodetectScreenReader(); };

    SdlSink sink;
    options.audioSink = &sink;
    GioShell shell;
    options.shell = &shell;

    GtkFrontEnd frontEnd;
    frontEnd.closeOnTerminationSignals();
    static StreamDiagSink diag(stderr);
    options.diag = &diag;
    return clientMain(frontEnd, options);
}
