/* A stand-in for a running NVDA: a controller server made from the server
 * stubs of our own interface definition, listening on the endpoint NVDA
 * would use ("NvdaCtlr.<session>.<desktop>"), and recording every call.
 *
 *   nvda_standin.exe CALLS_FILE READY_FILE
 *
 * Appends one line per call to CALLS_FILE, as the test-double library
 * does (nvda_double.c), texts as UTF-8:
 *   running | cancel | speak <text> | braille <text>
 * Once it listens it writes the endpoint name to READY_FILE.  It serves
 * until it is killed. */
#include <rpc.h>
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include "nvda_controller.h"
#include "nvda_endpoint.h"

static const char* callsPath;

static void record(const char* what, const wchar_t* text) {
    FILE* f = fopen(callsPath, "ab");
    if (!f) return;
    fputs(what, f);
    if (text) {
        int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
        char* u8 = n > 0 ? malloc((size_t)n) : NULL;
        if (u8 && WideCharToMultiByte(CP_UTF8, 0, text, -1, u8, n, NULL, NULL) > 0) {
            fputc(' ', f);
            fputs(u8, f);
        }
        free(u8);
    }
    fputc('\n', f);
    fclose(f);
}

error_status_t testIfRunning(void) {
    record("running", NULL);
    return 0;
}

error_status_t speakText(const wchar_t* text) {
    record("speak", text);
    return 0;
}

error_status_t cancelSpeech(void) {
    record("cancel", NULL);
    return 0;
}

error_status_t brailleMessage(const wchar_t* message) {
    record("braille", message);
    return 0;
}

void* __RPC_USER MIDL_user_allocate(size_t size) {
    return malloc(size);
}

void __RPC_USER MIDL_user_free(void* p) {
    free(p);
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: nvda_standin CALLS_FILE READY_FILE\n");
        return 2;
    }
    callsPath = argv[1];
    wchar_t endpoint[300];
    if (!nvdaEndpointName(endpoint, sizeof endpoint / sizeof endpoint[0])) return 1;
    RPC_STATUS s = RpcServerUseProtseqEpW((RPC_WSTR)L"ncalrpc", RPC_C_PROTSEQ_MAX_REQS_DEFAULT,
                                          (RPC_WSTR)endpoint, NULL);
    if (s == RPC_S_OK) s = RpcServerRegisterIf(NvdaController_v1_0_s_ifspec, NULL, NULL);
    /* One call at a time: the calls are recorded in the order they came. */
    if (s == RPC_S_OK) s = RpcServerListen(1, 1, TRUE);
    if (s != RPC_S_OK) {
        fprintf(stderr, "nvda_standin: RPC error %lu\n", (unsigned long)s);
        return 1;
    }
    FILE* ready = fopen(argv[2], "wb");
    if (ready) {
        fprintf(ready, "%ls\n", endpoint);
        fclose(ready);
    }
    RpcMgmtWaitServerListen();
    return 0;
}
