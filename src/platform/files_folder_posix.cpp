#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/dynlib.h"
#include "platform/files_folder.h"

#ifndef KORDO_INSTALL_PREFIX
#define KORDO_INSTALL_PREFIX "/usr/local"
#endif

namespace fs = std::filesystem;

namespace {
// `path` without trailing separators ("/" stays "/").
std::string trimmed(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

bool isDirectory(const fs::path& p) {
    std::error_code ec;
    return fs::is_directory(p, ec);
}
}  // namespace

std::string userDataFolder(const FolderFacts& f) {
    if (!f.xdgDataHome.empty() && f.xdgDataHome[0] == '/') return trimmed(f.xdgDataHome);
    if (!f.home.empty() && f.home[0] == '/') {
        std::string home = trimmed(f.home);
        return (home == "/" ? "" : home) + "/.local/share";
    }
    return {};
}

std::string chooseFilesFolder(const FolderFacts& f, const std::string& name) {
    if (!f.exeFolder.empty() && f.exeFolderWritable && !f.installed) return f.exeFolder;
    std::string data = userDataFolder(f);
    return data.empty() ? std::string() : data + "/" + name;
}

bool isInstalledTree(const std::string& exeFolder, const std::string& prefix) {
    if (exeFolder.empty()) return false;
    const fs::path exe = fs::path(trimmed(exeFolder));
    std::error_code ec;
    if (!prefix.empty() && fs::equivalent(exe, fs::path(prefix) / "bin", ec)) return true;
    return exe.filename() == "bin" && isDirectory(exe.parent_path() / "share" / "kordo");
}

FolderFacts probeFolderFacts() {
    FolderFacts f;
    f.exeFolder = programFolder();
    if (!f.exeFolder.empty()) {
        f.exeFolderWritable = ::access(f.exeFolder.c_str(), W_OK | X_OK) == 0;
        f.installed = isInstalledTree(f.exeFolder, KORDO_INSTALL_PREFIX);
    }
    if (const char* x = std::getenv("XDG_DATA_HOME")) f.xdgDataHome = x;
    if (const char* h = std::getenv("HOME")) f.home = h;
    if (f.home.empty()) {
        // No HOME (started by a service manager, say): the account's home.
        std::vector<char> buf(16384);
        struct passwd pw;
        struct passwd* found = nullptr;
        if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found &&
            found->pw_dir)
            f.home = found->pw_dir;
    }
    return f;
}

std::string filesFolder(const std::string& name) {
    return chooseFilesFolder(probeFolderFacts(), name);
}

bool makeFilesFolder(const std::string& folder, std::string* error) {
    if (folder.empty()) {
        *error = "no folder for the game's files: neither XDG_DATA_HOME nor HOME is set";
        return false;
    }
    // Each missing folder from the top down, with mode 0700 as the base
    // directory rules ask for the data folder; existing ones are left alone.
    fs::path partial;
    for (const fs::path& part : fs::path(folder)) {
        partial /= part;
        if (part.empty() || isDirectory(partial)) continue;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
            *error = "cannot create " + partial.string() + ": " + std::strerror(errno);
            return false;
        }
    }
    if (!isDirectory(folder)) {
        *error = folder + " is not a folder";
        return false;
    }
    return true;
}
