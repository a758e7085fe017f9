// Dynamic-library seam: load a library by file name from the program folder
// and look up its entry points by name.  Used by the speech back-end
// selection (screen-reader and voice libraries) and later by extension calls.
#pragma once

#include <memory>
#include <string>

// A loaded library.  Destroying the handle unloads it; holders that must keep
// entry points alive (speech back-ends) keep the handle for the whole run.
struct DynLib {
    virtual ~DynLib() = default;
    // Address of the exported `name`, or nullptr.  Callers cast it to the
    // entry point's function-pointer type (calling convention included).
    virtual void* symbol(const char* name) = 0;
};

struct DynLibLoader {
    virtual ~DynLibLoader() = default;
    // Loads `fileName` (a bare file name such as "sapi5.dll"); nullptr when it
    // cannot be loaded.  Never throws.
    virtual std::unique_ptr<DynLib> load(const std::string& fileName) = 0;
};

// The platform's loader: dlopen on POSIX, LoadLibrary on Windows.  The file is
// looked up in the folder of the running executable; on Windows the system's
// library search (system folder, PATH) is tried after it, as screen readers
// install their libraries there.  The returned loader lives for the process.
DynLibLoader& systemLibraries();

// Folder of the running executable, with a trailing separator; empty when it
// cannot be found.
std::string programFolder();

// Loads the library file `fileName` from `folder` (with its trailing
// separator) and from nowhere else: no system search path, no PATH.  Used
// for libraries whose names come from the server.  nullptr on failure.
std::unique_ptr<DynLib> loadLibraryFrom(const std::string& folder, const std::string& fileName);
