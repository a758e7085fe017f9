/* sapi5.dll: the client's voice library, on the system's SAPI 5 voice
 * (ISpVoice through COM).  Exports, stdcall with plain names:
 *   BOOL sapiInit(void)                     creates the voice; nonzero = ready
 *   BOOL sapiSay(const char* ansi, BOOL interrupt)
 *   BOOL sapiSetRate(int rate)              rate 0..100
 *   int  sapiGetRate(void)                  rate 0..100
 *
 * Texts come in the ANSI code page and are spoken as plain text, never as
 * markup (a "<" from the server is read as such), asynchronously; an
 * interrupting text purges what is being spoken first.
 *
 * Threads: the entry points may be called from any thread (the client's
 * UI and receive threads).  The voice lives on a thread of its own, in the
 * multithreaded apartment, and every call is run there one at a time, so
 * the callers' apartments (the UI thread may already be single-threaded)
 * never matter and the voice sees one caller. */
#define COBJMACROS
#include <windows.h>
/* The GUIDs sapi.h declares are defined here (no import library has them). */
#include <initguid.h>
#include <sapi.h>

#include "sapi_rate.h"

#define EXPORT __declspec(dllexport)

enum Op { OP_SAY, OP_SET_RATE, OP_GET_RATE };

struct Request {
    enum Op op;
    const wchar_t* text; /* OP_SAY; owned by the caller while it waits */
    DWORD flags;         /* OP_SAY */
    long rate;           /* OP_SET_RATE in, OP_GET_RATE out (SAPI scale) */
    HRESULT result;
};

static SRWLOCK lock = SRWLOCK_INIT; /* guards everything below */
static CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
static int started;                    /* sapiInit ran: `ready` is final */
static int ready;                      /* the voice exists */
static struct Request* pending;        /* the request being handed over */
static int done;                       /* `pending` has been run */
static SRWLOCK callers = SRWLOCK_INIT; /* one request in flight */

static void run(ISpVoice* voice, struct Request* r) {
    switch (r->op) {
        case OP_SAY:
            r->result = ISpVoice_Speak(voice, r->text, r->flags, NULL);
            break;
        case OP_SET_RATE:
            r->result = ISpVoice_SetRate(voice, r->rate);
            break;
        case OP_GET_RATE:
            r->result = ISpVoice_GetRate(voice, &r->rate);
            break;
    }
}

/* The voice's thread: creates the voice, reports, then serves requests
 * until the process ends (the voice is never released). */
static DWORD WINAPI voiceThread(void* unused) {
    (void)unused;
    ISpVoice* voice = NULL;
    HRESULT hr = CoInitializeEx(NULL, COINIT_MULTITHREADED);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(&CLSID_SpVoice, NULL, CLSCTX_ALL, &IID_ISpVoice, (void**)&voice);
    AcquireSRWLockExclusive(&lock);
    ready = SUCCEEDED(hr) && voice != NULL;
    started = 1;
    WakeAllConditionVariable(&changed);
    if (!ready) {
        ReleaseSRWLockExclusive(&lock);
        return 0;
    }
    for (;;) {
        while (!pending || done) SleepConditionVariableSRW(&changed, &lock, INFINITE, 0);
        struct Request* r = pending;
        ReleaseSRWLockExclusive(&lock);
        run(voice, r);
        AcquireSRWLockExclusive(&lock);
        done = 1;
        WakeAllConditionVariable(&changed);
    }
}

/* Runs `r` on the voice's thread and waits for it.  FALSE when there is no
 * voice. */
static BOOL call(struct Request* r) {
    AcquireSRWLockExclusive(&callers);
    AcquireSRWLockExclusive(&lock);
    BOOL ok = ready;
    if (ok) {
        pending = r;
        done = 0;
        WakeAllConditionVariable(&changed);
        while (!done) SleepConditionVariableSRW(&changed, &lock, INFINITE, 0);
        pending = NULL;
    }
    ReleaseSRWLockExclusive(&lock);
    ReleaseSRWLockExclusive(&callers);
    return ok && SUCCEEDED(r->result);
}

EXPORT BOOL WINAPI sapiInit(void) {
    AcquireSRWLockExclusive(&lock);
    if (!started) {
        HANDLE t = CreateThread(NULL, 0, voiceThread, NULL, 0, NULL);
        if (t) {
            CloseHandle(t);
            while (!started) SleepConditionVariableSRW(&changed, &lock, INFINITE, 0);
        }
        /* No thread: sapiInit fails now and may be tried again. */
    }
    BOOL ok = ready;
    ReleaseSRWLockExclusive(&lock);
    return ok;
}

EXPORT BOOL WINAPI sapiSay(const char* ansi, BOOL interrupt) {
    if (!ansi) return FALSE;
    int n = MultiByteToWideChar(CP_ACP, 0, ansi, -1, NULL, 0);
    if (n <= 0) return FALSE;
    wchar_t* text = HeapAlloc(GetProcessHeap(), 0, (SIZE_T)n * sizeof(wchar_t));
    if (!text) return FALSE;
    MultiByteToWideChar(CP_ACP, 0, ansi, -1, text, n);
    struct Request r = {
        OP_SAY, text, SPF_ASYNC | SPF_IS_NOT_XML | (interrupt ? SPF_PURGEBEFORESPEAK : 0), 0, S_OK};
    BOOL ok = call(&r);
    /* Speak copies the text before an asynchronous call returns. */
    HeapFree(GetProcessHeap(), 0, text);
    return ok;
}

EXPORT BOOL WINAPI sapiSetRate(int rate) {
    struct Request r = {OP_SET_RATE, NULL, 0, sapiRateToVoice(rate), S_OK};
    return call(&r);
}

EXPORT int WINAPI sapiGetRate(void) {
    struct Request r = {OP_GET_RATE, NULL, 0, 0, S_OK};
    /* No voice, or no answer: the normal rate. */
    if (!call(&r)) return sapiRateFromVoice(0);
    return sapiRateFromVoice(r.rate);
}
