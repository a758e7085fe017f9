#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/atomic_file.h"

namespace {
constexpr mode_t kPrivate = 0600;
}

bool writeFileAtomic(const std::string& path, std::string_view bytes) {
    const std::string tmp = path + ".tmp";
    // A file of our own, made here: an existing one would keep its mode and
    // owner through O_TRUNC, and a link would be written through.
    if (::unlink(tmp.c_str()) != 0 && errno != ENOENT) return false;
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kPrivate);
    if (fd < 0) return false;
    // The umask may only take bits away; it is the exact mode that is asked.
    bool ok = ::fchmod(fd, kPrivate) == 0;
    size_t done = 0;
    while (ok && done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else done += static_cast<size_t>(n);
    }
    // The data must be on the disk before the rename makes it the file, or a
    // power cut could leave an empty file under the old name.
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    if (ok && std::rename(tmp.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) std::remove(tmp.c_str());
    return ok;
}

bool narrowToOwner(const std::string& path) {
    // Through a descriptor, so the file checked is the file changed; a link
    // is not followed.
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    const bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                    ((st.st_mode & 077) == 0 || ::fchmod(fd, st.st_mode & 0700) == 0);
    ::close(fd);
    return ok;
}

std::FILE* openPrivateAppend(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kPrivate);
    if (fd < 0) return nullptr;
    // A log made by an earlier version (0644 through fopen) is narrowed too.
    // Only a plain file: a player's /dev/null stays what it is.
    struct stat st {};
    if (::fstat(fd, &st) != 0 ||
        (S_ISREG(st.st_mode) && (st.st_mode & 077) != 0 && ::fchmod(fd, st.st_mode & 0700) != 0)) {
        ::close(fd);
        return nullptr;
    }
    std::FILE* f = ::fdopen(fd, "ab");
    if (!f) ::close(fd);
    return f;
}

bool replaceFile(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

std::FILE* createNewFile(const std::string& path, bool* existed) {
    *existed = false;
    // O_EXCL with O_CREAT fails on any existing name, a dangling link too.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        *existed = errno == EEXIST;
        return nullptr;
    }
    std::FILE* f = ::fdopen(fd, "wb");
    if (!f) {
        ::close(fd);
        std::remove(path.c_str());
    }
    return f;
}
