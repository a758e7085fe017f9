#include <fcntl.h>
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

// The game folder itself holds the configuration (passwords) and the logs:
// it must be the current user's own folder, not a link to somewhere else, and
// closed to everyone else.  Checked and narrowed through one descriptor, so
// that what is checked is what is narrowed.
bool securePrivateFolder(const std::string& folder, std::string* error) {
    const std::string refused = "refusing the folder " + folder + " for the game's files: ";
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        struct stat st {};
        if (::lstat(folder.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            *error = refused + "it is a symbolic link";
        else if (err == ENOTDIR)
            *error = folder + " is not a folder";
        else
            *error = "cannot open " + folder + ": " + std::strerror(err);
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    if (!ok) {
        *error = "cannot read " + folder + ": " + std::strerror(errno);
    } else if (st.st_uid != ::geteuid()) {
        *error = refused + "it belongs to another user (uid " + std::to_string(st.st_uid) + ")";
        ok = false;
    } else if ((st.st_mode & 077) != 0 && ::fchmod(fd, st.st_mode & 07700) != 0) {
        *error = "cannot make " + folder + " private: " + std::strerror(errno);
        ok = false;
    }
    ::close(fd);
    return ok;
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
    // directory rules ask for the data folder; existing parents are left
    // alone.
    fs::path partial;
    for (const fs::path& part : fs::path(folder)) {
        partial /= part;
        if (part.empty() || isDirectory(partial)) continue;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
            *error = "cannot create " + partial.string() + ": " + std::strerror(errno);
            return false;
        }
    }
    return securePrivateFolder(trimmed(folder), error);
}
