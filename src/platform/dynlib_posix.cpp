#include <dlfcn.h>
#include <unistd.h>

#include <vector>

#include "platform/dynlib.h"

namespace {
struct PosixLib : DynLib {
    void* handle;
    explicit PosixLib(void* h) : handle(h) {}
    ~PosixLib() override { dlclose(handle); }
    void* symbol(const char* name) override { return dlsym(handle, name); }
};

struct PosixLoader : DynLibLoader {
    std::unique_ptr<DynLib> load(const std::string& fileName) override {
        std::string dir = programFolder();
        if (dir.empty()) return nullptr;
        // A full path, so dlopen never searches LD_LIBRARY_PATH or the system
        // folders for a library meant to sit next to the program.
        void* h = dlopen((dir + fileName).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!h) return nullptr;
        return std::make_unique<PosixLib>(h);
    }
};
}  // namespace

std::string programFolder() {
    std::vector<char> buf(4096);
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return {};
    std::string path(buf.data(), static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::unique_ptr<DynLib> loadLibraryFrom(const std::string& folder, const std::string& fileName) {
    // A path with a "/" in it: dlopen opens exactly that file, no search.
    std::string path = (folder.empty() ? std::string("./") : folder) + fileName;
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) return nullptr;
    return std::make_unique<PosixLib>(h);
}

DynLibLoader& systemLibraries() {
    static PosixLoader loader;
    return loader;
}
