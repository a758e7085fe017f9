/* The NVDA controller client library (nvdaControllerClient32.dll or
 * nvdaControllerClient64.dll): an RPC client of the controller interface a
 * running NVDA serves (nvda_controller.idl).  Exports, stdcall with plain
 * names:
 *   nvdaController_testIfRunning()        0 when NVDA answers
 *   nvdaController_speakText(text)        speaks UTF-16 text
 *   nvdaController_cancelSpeech()         stops current speech
 *   nvdaController_brailleMessage(text)   shows UTF-16 text in braille
 * Each returns 0 or an RPC status code.
 *
 * Safe without NVDA: testIfRunning asks whether a server listens on the
 * endpoint before calling it, and every call's transport failure (NVDA
 * absent, quitting or restarting in mid-session) comes back as a status
 * code from the stubs (see patch_stubs.cmake), never as an exception.  A
 * failed call leaves the binding usable: the next call connects afresh, so
 * speech resumes when NVDA is back.
 *
 * Threads: any; calls are serialised by one lock, which also guards the
 * binding made at the first call. */
#include <rpc.h>
#include <windows.h>

#include "nvda_controller.h"
#include "nvda_endpoint.h"

#define EXPORT __declspec(dllexport) error_status_t __stdcall

static SRWLOCK lock = SRWLOCK_INIT;

/* nvdaBinding (the stubs' implicit handle) for the endpoint of the calling
 * process's session and desktop; made once, kept for the process.  Caller
 * holds `lock`. */
static RPC_STATUS makeBinding(void) {
    if (nvdaBinding) return RPC_S_OK;
    wchar_t endpoint[300];
    if (!nvdaEndpointName(endpoint, sizeof endpoint / sizeof endpoint[0]))
        return RPC_S_INVALID_ENDPOINT_FORMAT;
    RPC_WSTR text = NULL;
    RPC_STATUS s =
        RpcStringBindingComposeW(NULL, (RPC_WSTR)L"ncalrpc", NULL, (RPC_WSTR)endpoint, NULL, &text);
    if (s != RPC_S_OK) return s;
    handle_t h = NULL;
    s = RpcBindingFromStringBindingW(text, &h);
    RpcStringFreeW(&text);
    if (s == RPC_S_OK) nvdaBinding = h;
    return s;
}

EXPORT nvdaController_testIfRunning(void) {
    AcquireSRWLockExclusive(&lock);
    RPC_STATUS s = makeBinding();
    if (s == RPC_S_OK) {
        /* Nothing serves the endpoint: the answer comes at once.  Any other
         * answer (a server that refuses management calls) is left to the
         * call itself, whose failure comes back as a code as well. */
        s = RpcMgmtIsServerListening(nvdaBinding);
        if (s != RPC_S_NOT_LISTENING && s != RPC_S_SERVER_UNAVAILABLE) s = testIfRunning();
    }
    ReleaseSRWLockExclusive(&lock);
    return s;
}

EXPORT nvdaController_speakText(const wchar_t* text) {
    if (!text) return RPC_X_NULL_REF_POINTER;
    AcquireSRWLockExclusive(&lock);
    RPC_STATUS s = makeBinding();
    if (s == RPC_S_OK) s = speakText(text);
    ReleaseSRWLockExclusive(&lock);
    return s;
}

EXPORT nvdaController_cancelSpeech(void) {
    AcquireSRWLockExclusive(&lock);
    RPC_STATUS s = makeBinding();
    if (s == RPC_S_OK) s = cancelSpeech();
    ReleaseSRWLockExclusive(&lock);
    return s;
}

EXPORT nvdaController_brailleMessage(const wchar_t* message) {
    if (!message) return RPC_X_NULL_REF_POINTER;
    AcquireSRWLockExclusive(&lock);
    RPC_STATUS s = makeBinding();
    if (s == RPC_S_OK) s = brailleMessage(message);
    ReleaseSRWLockExclusive(&lock);
    return s;
}

/* The stubs' memory: marshalling buffers of one call. */
void* __RPC_USER MIDL_user_allocate(size_t size) {
    return HeapAlloc(GetProcessHeap(), 0, size);
}

void __RPC_USER MIDL_user_free(void* p) {
    HeapFree(GetProcessHeap(), 0, p);
}
