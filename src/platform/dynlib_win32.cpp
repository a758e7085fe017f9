#include <windows.h>

#include <vector>

#include "platform/dynlib.h"

namespace {
struct Win32Lib : DynLib {
    HMODULE handle;
    explicit Win32Lib(HMODULE h) : handle(h) {}
    ~Win32Lib() override { FreeLibrary(handle); }
    void* symbol(const char* name) override {
        return reinterpret_cast<void*>(GetProcAddress(handle, name));
    }
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
