/* The endpoint NVDA's controller server listens on: "NvdaCtlr.<session>.
 * <desktop>", the session id of this process and the name of the calling
 * thread's desktop ("Default" on an ordinary desktop), e.g.
 * "NvdaCtlr.1.Default".  Shared by the client library and the test
 * stand-in server so both name the same endpoint. */
#pragma once

#include <stddef.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Writes the NUL-terminated endpoint name into out[0..cap).  Returns 0 when
 * it does not fit, nonzero on success. */
int nvdaEndpointName(wchar_t* out, size_t cap);

#ifdef __cplusplus
}
#endif
