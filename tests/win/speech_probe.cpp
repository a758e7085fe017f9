// The client's speech detection and sayString, alone, for the Wine tests of
// the shipped speech libraries.  Reads commands on standard input, CP1252
// lines, and answers each on standard output:
//   detect          -> "current <n>"            runs the client's detection
//   say <text>      -> "said <ms>"              sayString(text, false)
//   sayi <text>     -> "said <ms>"              sayString(text, true)
//   running <dll>   -> "running <status> <ms>"  nvdaController_testIfRunning of
//                                               <dll> (program folder), timed
//   voice           -> "voice"                  switches the voice on
//   faster, slower  -> "rate <n>"               sapiSpeedChange(+5 / -5), then
//                                               the back-end's rate
// Times are wall-clock milliseconds spent in the call.
#include <windows.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "platform/dynlib.h"
#include "platform/speech_backend.h"
#include "speech/dll_entry.h"
#include "speech/speech.h"

namespace {

double nowMs() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

// As kordo.exe: a 64-bit build runs on 64-bit Windows by construction.
bool isIn64BitMode() {
#ifdef _WIN64
    return true;
#else
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
#endif
}

}  // namespace

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == "detect") {
            SpeechPlatform p;
            p.libraries = &systemLibraries();
            p.isIn64BitMode = isIn64BitMode;
            setSpeechPlatform(std::move(p));
            autodetectScreenReader();
            std::printf("current %d\n", speechCurrent());
        } else if (line.rfind("say ", 0) == 0 || line.rfind("sayi ", 0) == 0) {
            bool interrupt = line[3] == 'i';
            double t0 = nowMs();
            sayString(line.substr(interrupt ? 5 : 4), interrupt);
            std::printf("said %.1f\n", nowMs() - t0);
        } else if (line.rfind("running ", 0) == 0) {
            std::unique_ptr<DynLib> lib = systemLibraries().load(line.substr(8));
            auto fn = lib ? reinterpret_cast<NvdaTestIfRunningFn>(
                                lib->symbol("nvdaController_testIfRunning"))
                          : nullptr;
            if (!fn) {
                std::printf("running missing 0\n");
            } else {
                double t0 = nowMs();
                unsigned long status = fn();
                std::printf("running %lu %.1f\n", status, nowMs() - t0);
            }
        } else if (line == "voice") {
            sapiEnable(true);
            std::printf("voice\n");
        } else if (line == "faster" || line == "slower") {
            sapiSpeedChange(line == "faster" ? 5 : -5);
            SpeechBackend* b = speechBackend();
            std::printf("rate %d\n", b ? b->rate() : -1);
        } else {
            std::printf("unknown\n");
        }
        std::fflush(stdout);
    }
    return 0;
}
