// kordo: the Linux desktop client.  Takes no options; the program folder is
// the executable's own folder.
#include <gtk/gtk.h>

#include <filesystem>
#include <system_error>

#include "app/client.h"
#include "app/gtk/gio_shell.h"
#include "app/gtk/gtk_frontend.h"
#include "audio/sdl/sdl_sink.h"
#include "speech/spd/spd_speech.h"
#include "speech/speech.h"

int main(int argc, char** argv) {
    // The client draws nothing with OpenGL.  Left enabled, GDK probes GLX
    // for its visuals at start-up, which maps the display's GL driver (with
    // Mesa's software one, LLVM: some 50 MB resident) for the whole run.
    g_setenv("GDK_GL", "disable", FALSE);
    gtk_init(&argc, &argv);

    ClientOptions options;
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) options.programFolder = exe.parent_path().string();

    // The real Linux detection (Orca, then Speech Dispatcher's voice).
    installSystemSpeech();
    options.selectSpeech = [] { autodetectScreenReader(); };

    SdlSink sink;
    options.audioSink = &sink;
    GioShell shell;
    setShell(&shell);

    GtkFrontEnd frontEnd;
    int status = clientMain(frontEnd, options);
    setShell(nullptr);
    return status;
}
