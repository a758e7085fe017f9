#include "app/extensions.h"

#include <cstdio>
#include <filesystem>
#include <vector>

#include "net/agc.h"
#include "net/replies.h"
#include "platform/fields.h"

namespace {
ExtensionState extensionState;
}  // namespace

const ExtensionState& extensionsView() { return extensionState; }

void setExtensionFolder(std::string folder) { extensionState.folder = std::move(folder); }

void extensionsReset() {
    extensionState.functions.clear();
    extensionState.refused.clear();
    extensionState.libraries.clear();
    extensionState.folder.clear();
    extensionState.argument.clear();
}

namespace {
// Unsigned decimal up to the first non-digit, modulo 2^32, as the signed
// 32-bit id the function takes.
int32_t parseId(std::string_view f) {
    return static_cast<int32_t>(static_cast<uint32_t>(leadingDigits(f).wrapped));
}

std::string libraryFolder() {
    if (!extensionState.folder.empty()) return extensionState.folder;
    std::error_code ec;
    std::string cwd = std::filesystem::current_path(ec).string();
    if (ec || cwd.empty()) return {};
    if (cwd.back() != '/' && cwd.back() != '\\') cwd += '/';
    return cwd;
}

// Loads the library the server calls `libName`, refusing the client's own
// libraries: by name first, then, once loaded, by module.
std::unique_ptr<DynLib> loadExtension(std::string_view libName) {
    if (extensionState.refused.count(libName)) return nullptr;
    std::string file = extensionFileName(libName);
    if (file.empty()) return nullptr;
    std::string folder = libraryFolder();
    if (folder.empty()) return nullptr;
    // Most failed requests name a file that is not there: answered before
    // the module list is read.  (fopen, as the loader, takes the path in the
    // system's 8-bit code page.)
    std::FILE* probe = std::fopen((folder + file).c_str(), "rb");
    if (!probe) return nullptr;
    std::fclose(probe);
    std::vector<ModuleIdentity> before;
    if (!loadedModules(&before)) return nullptr;
    std::unique_ptr<DynLib> lib = loadLibraryFrom(folder, file);
    if (!lib) return nullptr;
    std::vector<const void*> extensionHandles;
    for (const auto& entry : extensionState.libraries)
        extensionHandles.push_back(entry.second->identity().handle);
    if (isClientModule(lib->identity(), before, extensionHandles)) {
        // Dropping the handle gives back only the reference this load took:
        // the module stays loaded for the client.
        extensionState.refused.emplace(libName);
        return nullptr;
    }
    return lib;
}

ExtensionFunction resolve(std::string_view field) {
    auto f = extensionState.functions.find(field);
    if (f != extensionState.functions.end()) return f->second;
    size_t colon = field.find(':');
    if (colon == std::string_view::npos) return nullptr;
    std::string_view libName = field.substr(0, colon);
    std::string funcName(field.substr(colon + 1));
    auto l = extensionState.libraries.find(libName);
    if (l == extensionState.libraries.end()) {
        std::unique_ptr<DynLib> lib = loadExtension(libName);
        if (!lib) return nullptr;
        l = extensionState.libraries.emplace(std::string(libName), std::move(lib)).first;
    }
    void* sym = l->second->symbol(funcName.c_str());
    if (!sym) return nullptr;
    auto fn = reinterpret_cast<ExtensionFunction>(sym);
    extensionState.functions.emplace(std::string(field), fn);
    return fn;
}
}  // namespace

bool isClientLibraryName(std::string_view name) {
    // Libraries the client loads or links itself: the screen-reader and
    // voice libraries (whose functions have other signatures than an
    // extension's, and whose state the client's speech relies on), the
    // Windows and MinGW run-time libraries it imports, and the client.
    static const char* const kOwn[] = {
        "jfwapi", "nvdacontrollerclient", "nvdacontrollerclient32", "nvdacontrollerclient64", "sapi5",
        "kordo", "kernel32", "kernelbase", "ntdll", "user32", "gdi32", "comdlg32", "comctl32", "shell32",
        "shlwapi", "advapi32", "ole32", "oleaut32", "combase", "ws2_32", "wsock32", "winmm", "iphlpapi",
        "avrt", "mmdevapi", "msvcrt", "ucrtbase", "libgcc_s_dw2-1", "libgcc_s_seh-1", "libstdc++-6",
        "libwinpthread-1", "libspeechd", "libbrlapi", "libsdl2", "libsdl2-2.0", "libc", "libstdc++",
        "libgcc_s", "libm", "libdl", "libpthread"};
    std::string stem;
    for (char c : name) stem += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    // The stem: up to ".dll", ".so", ".exe" or a version ("libc.so.6").
    for (const char* ext : {".dll", ".so", ".exe"}) {
        size_t p = stem.find(ext);
        if (p != std::string::npos) stem.resize(p);
    }
    while (!stem.empty() && (stem.back() == ' ' || stem.back() == '.')) stem.pop_back();
    for (const char* own : kOwn)
        if (stem == own) return true;
    return false;
}

bool isClientModule(const ModuleIdentity& loaded, const std::vector<ModuleIdentity>& before,
                    const std::vector<const void*>& extensionHandles) {
    if (!loaded.handle || !loaded.hasFile) return true;
    for (const ModuleIdentity& m : before) {
        bool extension = false;
        for (const void* h : extensionHandles) extension = extension || (m.handle && m.handle == h);
        if (extension) continue;
        if ((m.handle && m.handle == loaded.handle) || m.sameFile(loaded)) return true;
    }
    return false;
}

std::string extensionFileName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return {};
    for (unsigned char c : name)
        if (c < 0x20 || c == '/' || c == '\\' || c == ':') return {};
    if (isClientLibraryName(name)) return {};
    std::string file(name);
#ifndef _WIN32
    if (file.size() > 4 && file.compare(file.size() - 4, 4, ".dll") == 0) file.replace(file.size() - 4, 4, ".so");
#endif
    return file;
}

const char* dllRun(std::string_view s, int32_t* idptr) {
    std::vector<std::string_view> fields = splitFields(s);
    *idptr = 0;
    if (fields.empty()) return nullptr;
    ExtensionFunction fn = resolve(fields[0]);
    if (!fn) return nullptr;
    *idptr = fields.size() > 1 ? parseId(fields[1]) : 0;
    // The payload has no terminator: the function gets a NUL-terminated
    // copy, kept until the next call because a function may hand back a
    // pointer into its argument.
    const bool hasArg = fields.size() > 2;
    extensionState.argument.assign(hasArg ? fields[2] : std::string_view());
    return fn(*idptr, hasArg ? extensionState.argument.c_str() : nullptr);
}

void doDllRun(std::string_view s) {
    int32_t id = 0;
    const char* r = dllRun(s, &id);
    if (!r) return;
    agc_sendCurrent(dllqReply(id, r));
}
