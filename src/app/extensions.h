// Extension library calls: the server has the client call a function of a
// library in the program folder and gets back the text it returns.
//
// Threads: the connection's dispatch thread only, one handler at a time (the
// cache is not locked: a connection's dispatch thread has ended before the
// close steps can start a reconnection, and with it the next one).  An
// extension function must not wait for a UI-thread call.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dynlib.h"

// The extension function's calling convention: callee cleans the stack on
// 32-bit Windows, the platform's C convention elsewhere.
#if defined(_WIN32) && defined(__i386__)
#define KORDO_EXT_CALL __attribute__((stdcall))
#else
#define KORDO_EXT_CALL
#endif

// (id, argument text or null) -> NUL-terminated text owned by the library,
// or null.  Texts are CP1252 bytes.
using ExtensionFunction = const char*(KORDO_EXT_CALL*)(int32_t id, const char* argument);

// The unit's state, one record, kept in extensions.cpp; dispatch thread only
// (see above).  extensionsReset() empties it (resetCore, tests).
struct ExtensionState {
    // Loaded libraries by the name the server gave; never unloaded while the
    // program runs (returned texts and cached functions point into them).
    std::map<std::string, std::unique_ptr<DynLib>, std::less<>> libraries;
    // Functions by the whole "library:function" field.
    std::map<std::string, ExtensionFunction, std::less<>> functions;
    // Library names that turned out, once loaded, to be a module of the
    // client's own (isClientModule): refused for the rest of the run without
    // loading them again.
    std::set<std::string, std::less<>> refused;
    // Folder libraries are loaded from, with its trailing separator; empty:
    // the working directory (the program folder after start-up).
    std::string folder;
    // The argument text of the latest call (see dllRun).
    std::string argument;
};
// Read-only view of the record (dispatch thread, or tests between runs).
const ExtensionState& extensionsView();
// Loads libraries from `folder` (with its trailing separator; empty: the
// working directory) from now on.  Before any connection runs, or between
// tests; extensionsReset() empties it again.
void setExtensionFolder(std::string folder);
// Forgets the cache and unloads the libraries: no function returned earlier
// may still be in use (before the run, or between tests).
void extensionsReset();

// True when `name` (any letter case, with or without ".dll", ".so" or
// ".exe") is a library the client loads or links itself: the screen-reader
// and voice libraries, the system and run-time libraries, the client.  The
// server never gets to call into those.
bool isClientLibraryName(std::string_view name);

// True when `loaded`, a library just loaded for the server, is a module the
// client had loaded itself: one of `before` (every module loaded before that
// load) by handle or by file identity, other than the extension libraries
// already loaded for the server (`extensionHandles`).  A module whose file
// cannot be identified counts as the client's own: nothing shows it is not.
// This is the check that names cannot get around (an 8.3 alias, a hard or
// symbolic link); isClientLibraryName comes first and spares the load.  A
// library that an extension library pulled in counts as the client's own
// too: the server calls the libraries it delivers, not their imports.
bool isClientModule(const ModuleIdentity& loaded, const std::vector<ModuleIdentity>& before,
                    const std::vector<const void*>& extensionHandles);

// File name the library `name` is loaded from: on Linux a name ending in
// ".dll" becomes the same stem ending in ".so".  Empty when `name` is not a
// bare file name (path separators, drive letter, "." or "..") or names one
// of the client's own libraries (isClientLibraryName).
std::string extensionFileName(std::string_view name);

// Resolves and calls the function named by payload `s` ("lib:func|id|arg",
// runs of "|" count as one).  Stores the id (0 when the field is missing)
// through idptr.  Returns the function's text, or null when the field has no
// ":", the library or the function cannot be found, the library is one of
// the client's own (by name, or once loaded by module), or it returned null.
// The text stays valid until the next call (it may point into the argument
// copy, which is kept until then).
const char* dllRun(std::string_view s, int32_t* idptr);

// Handler of "dllq ": sends "dllqr <id>|<text>\n" with the whole returned
// text; nothing when dllRun returned null.
void doDllRun(std::string_view s);
