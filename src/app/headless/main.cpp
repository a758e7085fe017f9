// kordo-headless [--dir DIR] [--speech reader|voice|system] [--wav FILE]
//
// The whole client with a scripted front-end: commands on standard input,
// events on standard output (see headless_ui.h).  Also --help, --version.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "platform/diag.h"
#include "app/client.h"
#include "app/headless/headless_ui.h"
#include "app/headless/wav_writer.h"
#include "audio/null/null_sink.h"
#include "audio/sound.h"
#include "platform/shell.h"
#include "speech/speech.h"
#ifdef __linux__
#include "platform/files_folder.h"
#include "speech/spd/spd_speech.h"
#include "platform/thread_name.h"
#endif
#ifndef _WIN32
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <unistd.h>
#endif

namespace {
// The shell: reports what would be opened or started.
struct EventShell : ShellSeam {
    explicit EventShell(EventOut& out) : out(out) {}
    bool openAddress(const std::string& address) override {
        out.emit("browse", address, true);
        return true;
    }
    bool executeFile(const std::string& path) override {
        out.emit("execute", path, true);
        return true;
    }
    EventOut& out;
};

std::string fmt(float v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", static_cast<double>(v));
    return buf;
}

const char kUsage[] =
    "usage: kordo-headless [--dir DIR] [--speech reader|voice|system] [--wav FILE]\n"
    "The whole client with a scripted front-end: player commands on standard input,\n"
    "what a player would see and hear on standard output, one event a line.\n"
    "  --dir DIR        the game folder (default: the current folder; once installed,\n"
    "                   ~/.local/share/kordo)\n"
    "  --speech MODE    reader (default): as if a screen reader ran; voice: the\n"
    "                   self-voicing back-end; system: the platform's own detection\n"
    "  --wav FILE       also write everything mixed to FILE (16-bit stereo 44100 Hz)\n"
    "  --help           show this help and exit\n"
    "  --version        show the version and exit\n";

#ifndef _WIN32
// SIGTERM, SIGINT and SIGHUP close the client as the end of input does (the
// player closes the main window: "quit" to the server, configuration and log
// written).  The handler only writes the signal's number to a pipe; a thread
// of its own reads it and hands the close to the UI thread.  A second signal
// finds the default action back and ends the process, should the close hang.
int signalPipe[2] = {-1, -1};

extern "C" void onTerminationSignal(int sig) {
    const int saved = errno;
    const unsigned char b = static_cast<unsigned char>(sig);
    ssize_t ignored = write(signalPipe[1], &b, 1);
    (void)ignored;
    errno = saved;
}

void closeOnTerminationSignals(HeadlessUi& ui) {
    if (pipe(signalPipe) != 0) return;
    for (int fd : signalPipe) fcntl(fd, F_SETFD, FD_CLOEXEC);
    const int signals[] = {SIGTERM, SIGINT, SIGHUP};
    for (int sig : signals) {
        struct sigaction old {};
        sigaction(sig, nullptr, &old);
        if (old.sa_handler == SIG_IGN) continue;  // left ignored, as nohup asks
        struct sigaction sa {};
        sa.sa_handler = onTerminationSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART | SA_RESETHAND;
        sigaction(sig, &sa, nullptr);
    }
    // Detached: it sleeps in its read for the whole run, and the process
    // ends under it.
    std::thread([&ui] {
        setThreadName("kordo-signals");
        unsigned char b = 0;
        while (read(signalPipe[0], &b, 1) < 0 && errno == EINTR) {
        }
        ui.endInputNow();
    }).detach();
}
#endif

// A one-line complaint about the command line; exit status 2.
int badUsage(const std::string& what) {
    std::fprintf(stderr, "kordo-headless: %s (see kordo-headless --help)\n", what.c_str());
    return 2;
}
}  // namespace

int main(int argc, char** argv) {
    std::string dir, speech = "reader", wav;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--version") {
            std::printf("kordo-headless %s\n", KORDO_VERSION);
            return 0;
        }
        if (a == "--dir" || a == "--speech" || a == "--wav") {
            if (i + 1 >= argc) return badUsage(a + " needs a value");
            std::string v = argv[++i];
            if (a == "--dir") dir = v;
            else if (a == "--speech") speech = v;
            else wav = v;
        } else {
            return badUsage("unknown option " + a);
        }
    }
    if (speech != "reader" && speech != "voice" && speech != "system")
        return badUsage("unknown speech mode " + speech);
    if (dir.empty()) {
#ifdef __linux__
        // Installed, it keeps the player's files where the desktop client
        // does; run from a build, in the current folder as always.
        FolderFacts facts = probeFolderFacts();
        if (facts.installed) {
            dir = chooseFilesFolder(facts, "kordo");
            std::string error;
            if (!makeFilesFolder(dir, &error)) {
                std::fprintf(stderr, "kordo-headless: %s\n", error.c_str());
                return 1;
            }
        }
#endif
        if (dir.empty()) dir = ".";
    }

    // The event stream is written out in whole runs (see EventOut): a
    // buffer that holds a run's events in one write.
    std::setvbuf(stdout, nullptr, _IOFBF, size_t(1) << 16);
    EventOut out(stdout);
    EventSpeech eventSpeech(out);
    EventShell eventShell(out);

    // "sound" is printed when the playback starts: at once for a sound
    // already loaded, from the sound loader once loaded for one that was
    // not, so such an event may follow events of lines sent after its play.
    setSoundStartObserver([&out](std::string_view name, float volume, float pan, float rate) {
        out.emit("sound " + std::string(name) + " " + fmt(volume) + " " + fmt(pan) + " " +
                 fmt(rate));
    });
    setMusicEventObserver([&out](std::string_view event, std::string_view arg) {
        out.emit(arg.empty() ? std::string(event) : std::string(event) + " " + std::string(arg));
    });

    NullSink sink;
    std::unique_ptr<WavWriter> wavWriter;
    if (!wav.empty()) {
        wavWriter = std::make_unique<WavWriter>(wav);
        if (!wavWriter->ok()) {
            std::fprintf(stderr, "kordo-headless: cannot write %s\n", wav.c_str());
            return 1;
        }
        sink.tap = [w = wavWriter.get()](const float* frames, int count) { w->write(frames, count); };
    }

    HeadlessUi ui(std::cin, out);
#ifndef _WIN32
    closeOnTerminationSignals(ui);
#endif
    ClientOptions options;
    options.programFolder = dir;
    options.audioSink = &sink;
    options.selectSpeech = [&] {
        if (speech == "reader") {
            selectSpeechBackend(kSpeechScreenReader, &eventSpeech);
        } else if (speech == "voice") {
            selectSpeechBackend(kSpeechVoice, &eventSpeech);
        } else {
#ifdef __linux__
            installSystemSpeech();
#endif
            autodetectScreenReader();
        }
    };
    // Standard output is the event stream: the core's diagnostics go apart.
    static StreamDiagSink diag(stderr);
    options.diag = &diag;
    options.shell = &eventShell;
    int status = clientMain(ui, options);
    sink.close();
    if (wavWriter) wavWriter->finish();
    std::fflush(stdout);
    // The input reader may still be blocked in a read: leave without
    // waiting for it.
    std::_Exit(status);
}
