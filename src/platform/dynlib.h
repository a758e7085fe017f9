// Dynamic-library seam: load a library by file name from the program folder
// and look up its entry points by name.  Used by the speech back-end
// selection (screen-reader and voice libraries) and later by extension calls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What makes two loaded modules one: the handle the platform's loader gave
// (HMODULE, dlopen handle) and the file it was mapped from (volume serial
// and file index on Windows, st_dev and st_ino elsewhere).  Every name of
// one file -- a hard link, a symbolic link, an 8.3 alias -- has one file
// identity, whatever the spelling.
struct ModuleIdentity {
    const void* handle = nullptr;
    bool hasFile = false;  // false: the file could not be read (vDSO, file gone)
    uint64_t volume = 0;
    uint64_t fileIndex = 0;

    bool sameFile(const ModuleIdentity& o) const {
        return hasFile && o.hasFile && volume == o.volume && fileIndex == o.fileIndex;
    }
};

// A loaded library.  Destroying the handle unloads it; holders that must keep
// entry points alive (speech back-ends) keep the handle for the whole run.
struct DynLib {
    virtual ~DynLib() = default;
    // Address of the exported `name`, or nullptr.  Callers cast it to the
    // entry point's function-pointer type (calling convention included).
    virtual void* symbol(const char* name) = 0;
    // The module this handle holds.  The default (test doubles) has no
    // handle and no file.
    virtual ModuleIdentity identity() { return {}; }
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

// Every module loaded in the process now -- the program, the libraries it
// links, the ones loaded at run time -- with its identity.  False when the
// list cannot be read (the caller cannot tell what is loaded then).
bool loadedModules(std::vector<ModuleIdentity>* out);
