// Entry-point types of the screen-reader and voice libraries that detection
// loads at run time.  They use the Windows API calling convention (stdcall on
// i686); BOOL results and arguments are plain ints (nonzero = true).  Wide
// texts are NUL-terminated UTF-16, which is wchar_t on Windows.
#pragma once

#if defined(_WIN32) && !defined(_WIN64)
#define KORDO_WINAPI __stdcall
#else
#define KORDO_WINAPI
#endif

extern "C" {
// jfwapi.dll
using JfwSayStringFn = int(KORDO_WINAPI*)(const char* ansi, int interrupt);
// nvdaControllerClient*.dll: results are status codes, 0 = success.
using NvdaTestIfRunningFn = unsigned long(KORDO_WINAPI*)();
using NvdaTextFn = unsigned long(KORDO_WINAPI*)(const char16_t* text);
using NvdaCancelFn = unsigned long(KORDO_WINAPI*)();
// sapi5.dll: rate on the 0..100 scale.
using SapiInitFn = int(KORDO_WINAPI*)();
using SapiSayFn = int(KORDO_WINAPI*)(const char* ansi, int interrupt);
using SapiSetRateFn = int(KORDO_WINAPI*)(int rate);
using SapiGetRateFn = int(KORDO_WINAPI*)();
}
