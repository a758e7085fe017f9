#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <vector>

#include "platform/dynlib.h"

namespace {
// The module's handle and the identity of the file it was mapped from: the
// volume serial number and file index of that file, the same for every name
// of it (a long name, its 8.3 alias, a hard link).
ModuleIdentity identityOf(HMODULE module) {
    ModuleIdentity id;
    id.handle = module;
    // Wide and with room for long paths: the module's path may hold
    // characters of no ANSI code page and exceed MAX_PATH.
    std::vector<wchar_t> path(32768);
    DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0 || n >= path.size()) return id;
    // No access asked for: the attributes alone, which a file mapped as a
    // module still gives.
    HANDLE f = CreateFileW(path.data(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return id;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(f, &info)) {
        id.hasFile = true;
        id.volume = info.dwVolumeSerialNumber;
        id.fileIndex = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    }
    CloseHandle(f);
    return id;
}

struct Win32Lib : DynLib {
    HMODULE handle;
    explicit Win32Lib(HMODULE h) : handle(h) {}
    ~Win32Lib() override { FreeLibrary(handle); }
    void* symbol(const char* name) override {
        return reinterpret_cast<void*>(GetProcAddress(handle, name));
    }
    ModuleIdentity identity() override { return identityOf(handle); }
};

struct Win32Loader : DynLibLoader {
    std::unique_ptr<DynLib> load(const std::string& fileName) override {
        // ANSI file names: the program's strings are in the ANSI code page.
        HMODULE h = nullptr;
        std::string dir = programFolder();
        if (!dir.empty()) h = LoadLibraryA((dir + fileName).c_str());
        if (!h) h = LoadLibraryA(fileName.c_str());
        if (!h) return nullptr;
        return std::make_unique<Win32Lib>(h);
    }
};
}  // namespace

std::string programFolder() {
    std::vector<char> buf(MAX_PATH * 4);
    DWORD n = GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0 || n >= buf.size()) return {};
    std::string path(buf.data(), n);
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::unique_ptr<DynLib> loadLibraryFrom(const std::string& folder, const std::string& fileName) {
    std::string path = (folder.empty() ? std::string(".\\") : folder) + fileName;
    // A path with a separator is opened as given, never searched for; the
    // altered search order makes its own imports resolve from its folder.
    HMODULE h = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!h) return nullptr;
    return std::make_unique<Win32Lib>(h);
}

DynLibLoader& systemLibraries() {
    static Win32Loader loader;
    return loader;
}

bool loadedModules(std::vector<ModuleIdentity>* out) {
    out->clear();
    // The snapshot fails with ERROR_BAD_LENGTH while another thread loads or
    // unloads a module: a few more tries.
    HANDLE snap = INVALID_HANDLE_VALUE;
    for (int tries = 0; tries < 8 && snap == INVALID_HANDLE_VALUE; tries++) {
        snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0);
        if (snap == INVALID_HANDLE_VALUE && GetLastError() != ERROR_BAD_LENGTH) break;
    }
    if (snap == INVALID_HANDLE_VALUE) return false;
    MODULEENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Module32FirstW(snap, &entry); more; more = Module32NextW(snap, &entry))
        out->push_back(identityOf(entry.hModule));
    CloseHandle(snap);
    return !out->empty();
}
