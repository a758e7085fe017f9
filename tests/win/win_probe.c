/* win_probe.exe: reads the controls of another program's top-level window,
 * as a screen reader would, for the Wine tests.  Built by them with the MinGW
 * compiler as a console program and run in the same Wine prefix.
 *
 *   win_probe list TITLE    the first list box of the window titled TITLE:
 *                           "<selection> <count>" on the first line, then one
 *                           line per item
 *   win_probe texts TITLE   one line per child window: "<class>|<text>"
 *
 * TITLE is matched whole (FindWindow).  Texts are written in UTF-8, one line
 * each, "\n" ended.  Exit status: 0 done, 1 no such window or no list box,
 * 2 usage.  Only messages that read are sent; the window's program is never
 * changed.
 *
 * Texts are read with the wide-character messages: Wine hands the text of a
 * cross-process LB_GETTEXT over as UTF-16 whichever variant was sent, so the
 * ANSI one gets a wide text in a buffer sized for bytes and overflows it. */
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

/* One record: the text in UTF-8, line breaks (which would split the record)
 * as spaces. */
static void put_text(const WCHAR *w) {
    int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, NULL, 0, NULL, NULL);
    char *s = n > 0 ? calloc((size_t)n, 1) : NULL;
    if (s) {
        WideCharToMultiByte(CP_UTF8, 0, w, -1, s, n, NULL, NULL);
        for (char *p = s; *p; ++p) fputc(*p == '\r' || *p == '\n' ? ' ' : *p, stdout);
        free(s);
    }
    fputc('\n', stdout);
}

static int list_items(HWND top) {
    HWND list = FindWindowExA(top, NULL, "ListBox", NULL);
    if (!list) return 1;
    LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    LRESULT sel = SendMessageA(list, LB_GETCURSEL, 0, 0);
    printf("%ld %ld\n", (long)sel, (long)count);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT len = SendMessageW(list, LB_GETTEXTLEN, (WPARAM)i, 0);
        if (len < 0) len = 0;
        /* Twice the length: room enough whatever unit the length counts. */
        WCHAR *text = calloc(2 * (size_t)len + 1, sizeof(WCHAR));
        if (!text) return 1;
        SendMessageW(list, LB_GETTEXT, (WPARAM)i, (LPARAM)text);
        put_text(text);
        free(text);
    }
    return 0;
}

static BOOL CALLBACK put_child(HWND child, LPARAM unused) {
    (void)unused;
    char cls[64] = "";
    WCHAR text[1024] = L"";
    GetClassNameA(child, cls, sizeof cls);
    /* WM_GETTEXT, not GetWindowText: the latter does not ask a control of
     * another process for its current text. */
    SendMessageW(child, WM_GETTEXT, sizeof text / sizeof text[0], (LPARAM)text);
    fputs(cls, stdout);
    fputc('|', stdout);
    put_text(text);
    return TRUE;
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fputs("usage: win_probe list|texts TITLE\n", stderr);
        return 2;
    }
    _setmode(_fileno(stdout), _O_BINARY); /* "\n", not "\r\n" */
    HWND top = FindWindowA(NULL, argv[2]);
    if (!top) return 1;
    int status = 2;
    if (strcmp(argv[1], "list") == 0) {
        status = list_items(top);
    } else if (strcmp(argv[1], "texts") == 0) {
        EnumChildWindows(top, put_child, 0);
        status = 0;
    }
    fflush(stdout);
    return status;
}
