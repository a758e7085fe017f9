/* setup_probe.exe: stands in for the client's installer in the Wine tests.
 * Built by them with the MinGW compiler as a window program and copied into
 * kordo.exe's program folder under the installer's name.
 *
 * Started, it writes how it was asked to show its window to "started.txt"
 * next to itself: "show <n>" with the show command its starter passed
 * (STARTUPINFO wShowWindow, 5 for SW_SHOW), or "show none" when there was
 * none; then it ends.  Exit status: 0 written, 1 the file could not be. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

int WINAPI WinMain(HINSTANCE inst, HINSTANCE prev, LPSTR cmd, int show) {
    (void)inst, (void)prev, (void)cmd, (void)show;
    STARTUPINFOA si;
    char path[MAX_PATH + 16];
    GetStartupInfoA(&si);
    DWORD n = GetModuleFileNameA(NULL, path, MAX_PATH);
    char *slash = n ? strrchr(path, '\\') : NULL;
    if (!slash) return 1;
    strcpy(slash + 1, "started.txt");
    FILE *f = fopen(path, "w");
    if (!f) return 1;
    if (si.dwFlags & STARTF_USESHOWWINDOW)
        fprintf(f, "show %u\n", (unsigned)si.wShowWindow);
    else
        fprintf(f, "show none\n");
    fclose(f);
    return 0;
}
