/* A stand-in extension library for the Wine tests: "echo" hands back the
 * argument it was called with (the client keeps the argument alive until its
 * next call), or "" without one.  Built with -Wl,--kill-at so that the i686
 * stdcall export is named plainly, as the server names it. */
#include <stdint.h>

__declspec(dllexport) const char* __stdcall echo(int32_t id, const char* argument) {
    (void)id;
    return argument ? argument : "";
}
