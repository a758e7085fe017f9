/* A stand-in for the NVDA controller client library, built by the Wine tests
 * for the architecture of the kordo.exe under test, with plain export names
 * (-Wl,--kill-at strips the i686 stdcall decoration), and copied in as the
 * library that build loads (nvdaControllerClient32.dll or
 * nvdaControllerClient64.dll).  It claims NVDA is running and appends one line per call
 * to "nvda-calls.txt" in the current folder (the client's program folder):
 *   cancel | speak <text> | braille <text>
 * Texts arrive as UTF-16; they are written as UTF-8.
 * It also exports "whoami", which NVDA's library has not: a function of the
 * extension's form, so that a test sees a server's "dllq" reach this
 * library by the answer "dllqr <id>|nvda-double". */
#include <stdint.h>
#include <stdio.h>
#include <wchar.h>

static void record(const char *what, const wchar_t *text) {
    FILE *f = fopen("nvda-calls.txt", "ab");
    if (!f) return;
    fputs(what, f);
    if (text) {
        fputc(' ', f);
        for (; *text; ++text) {
            unsigned c = (unsigned)*text;
            if (c < 0x80) {
                fputc((int)c, f);
            } else if (c < 0x800) {
                fputc((int)(0xC0 | (c >> 6)), f);
                fputc((int)(0x80 | (c & 0x3F)), f);
            } else {
                fputc((int)(0xE0 | (c >> 12)), f);
                fputc((int)(0x80 | ((c >> 6) & 0x3F)), f);
                fputc((int)(0x80 | (c & 0x3F)), f);
            }
        }
    }
    fputc('\n', f);
    fclose(f);
}

__declspec(dllexport) unsigned long __stdcall nvdaController_testIfRunning(void) { return 0; }

__declspec(dllexport) unsigned long __stdcall nvdaController_cancelSpeech(void) {
    record("cancel", NULL);
    return 0;
}

__declspec(dllexport) unsigned long __stdcall nvdaController_speakText(const wchar_t *text) {
    record("speak", text);
    return 0;
}

__declspec(dllexport) unsigned long __stdcall nvdaController_brailleMessage(const wchar_t *text) {
    record("braille", text);
    return 0;
}

__declspec(dllexport) const char* __stdcall whoami(int32_t id, const char *argument) {
    (void)id;
    (void)argument;
    return "nvda-double";
}
