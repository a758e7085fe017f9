// kordo.exe: the Windows client.  A console program (the few diagnostics go
// to standard output) whose entry point is WinMain; the command line is not
// used.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "platform/diag.h"
#include "app/client.h"
#include "app/win32/win32_ui.h"
#include "audio/wasapi/wasapi_sink.h"
#include "platform/dynlib.h"
#include "platform/shell.h"
#include "speech/speech.h"
#include "speech/win/window_eyes.h"

namespace {

// The shell's "open" action for addresses and the installer.  ShellExecute
// returns a value above 32 on success.
struct Win32Shell : ShellSeam {
    bool openAddress(const std::string& address) override {
        return open(nullptr, address, SW_SHOWNORMAL);
    }
    // The installer is shown plainly (SW_SHOW) and owned by the window in
    // the foreground, which after the update prompt is the main window.
    bool executeFile(const std::string& path) override {
        return open(GetForegroundWindow(), path, SW_SHOW);
    }
    static bool open(HWND owner, const std::string& what, int show) {
        HINSTANCE r = ShellExecuteA(owner, "open", what.c_str(), nullptr, nullptr, show);
        return reinterpret_cast<INT_PTR>(r) > 32;
    }
};

// A top-level window of class "JFWUI2" titled "Jaws" exists while JAWS runs.
bool jawsWindowExists() { return FindWindowA("JFWUI2", "Jaws") != nullptr; }

// A 32-bit process on 64-bit Windows runs under WOW64.  IsWow64Process is
// looked up at run time: Windows before XP SP2 has none (then: not 64-bit).
bool isIn64BitMode() {
    using IsWow64Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE k32 = GetModuleHandleA("kernel32");
    auto fn = k32 ? reinterpret_cast<IsWow64Fn>(
                        reinterpret_cast<void*>(GetProcAddress(k32, "IsWow64Process")))
                  : nullptr;
    if (!fn) return false;
    BOOL wow64 = FALSE;
    if (!fn(GetCurrentProcess(), &wow64)) {
        std::printf("Test64bit failed: %d\r\n", static_cast<int>(GetLastError()));
        std::fflush(stdout);
        return false;
    }
    return wow64 != FALSE;
}

std::string exeFolder() {
    char path[MAX_PATH + 1] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    size_t cut = s.rfind('\\');
    return cut == std::string::npos ? std::string() : s.substr(0, cut);
}

}  // namespace

int WINAPI WinMain(HINSTANCE hThisInstance, HINSTANCE, LPSTR, int) {
    static Win32Shell winShell;

    WindowsSink sink;
    Win32Ui ui(hThisInstance);
    // The core's diagnostics go to the console, as the program's own lines do.
    static StreamDiagSink diag(stdout);

    ClientOptions options;
    options.shell = &winShell;
    options.diag = &diag;
    options.programFolder = exeFolder();
    options.audioSink = &sink;
    options.selectSpeech = [] {
        SpeechPlatform p;
        p.libraries = &systemLibraries();
        p.jawsWindowExists = jawsWindowExists;
        p.isIn64BitMode = isIn64BitMode;
#ifdef _WIN64
        p.program64Bit = true;
#endif
        p.windowEyes = windowEyesSpeech;
        setSpeechPlatform(std::move(p));
        autodetectScreenReader();
    };
    int status = clientMain(ui, options);
    std::fflush(stdout);
    return status;
}
