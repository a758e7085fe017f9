#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/dynlib.h"

namespace {
// The identity of the file at `path` (symbolic links followed), with `handle`.
ModuleIdentity identityOf(const void* handle, const std::string& path) {
    ModuleIdentity id;
    id.handle = handle;
    struct stat st {};
    if (!path.empty() && ::stat(path.c_str(), &st) == 0) {
        id.hasFile = true;
        id.volume = static_cast<uint64_t>(st.st_dev);
        id.fileIndex = static_cast<uint64_t>(st.st_ino);
    }
    return id;
}

// The loader names the program itself "" (dl_iterate_phdr, link maps).
std::string moduleFile(const char* name) {
    return name && name[0] ? std::string(name) : std::string("/proc/self/exe");
}

struct PosixLib : DynLib {
    void* handle;
    explicit PosixLib(void* h) : handle(h) {}
    ~PosixLib() override { dlclose(handle); }
    void* symbol(const char* name) override { return dlsym(handle, name); }
    ModuleIdentity identity() override {
        // The loader hands back the module it already has when the file is
        // one it mapped under another name: the link map names that module.
        struct link_map* map = nullptr;
        if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map) return identityOf(handle, {});
        return identityOf(handle, moduleFile(map->l_name));
    }
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

bool loadedModules(std::vector<ModuleIdentity>* out) {
    out->clear();
    // Names first: dlopen is not called while the loader's list is walked.
    std::vector<std::string> names;
    dl_iterate_phdr(
        [](struct dl_phdr_info* info, size_t, void* data) -> int {
            static_cast<std::vector<std::string>*>(data)->emplace_back(
                info->dlpi_name ? info->dlpi_name : "");
            return 0;
        },
        &names);
    for (const std::string& name : names) {
        // The module's handle without loading anything; the reference this
        // takes is dropped at once (the module stays: it was loaded before).
        void* h = dlopen(name.empty() ? nullptr : name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
        out->push_back(identityOf(h, moduleFile(name.c_str())));
        if (h) dlclose(h);
    }
    return !out->empty();
}
