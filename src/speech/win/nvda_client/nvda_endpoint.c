#include "nvda_endpoint.h"

#include <stdio.h>
#include <windows.h>

int nvdaEndpointName(wchar_t* out, size_t cap) {
    DWORD session = 0;
    /* Without a session id (no Terminal Services), NVDA runs in session 0's
     * numbering as well: keep 0. */
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) session = 0;
    wchar_t desktop[256];
    DWORD needed = 0;
    HDESK d = GetThreadDesktop(GetCurrentThreadId());
    if (!d || !GetUserObjectInformationW(d, UOI_NAME, desktop, sizeof desktop, &needed) ||
        !desktop[0])
        wcscpy(desktop, L"Default");
    int n = _snwprintf(out, cap, L"NvdaCtlr.%lu.%ls", (unsigned long)session, desktop);
    return n > 0 && (size_t)n < cap;
}
