#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "platform/atomic_file.h"

bool writeFileAtomic(const std::string& path, std::string_view bytes) {
    const std::string tmp = path + ".tmp";
    HANDLE h = CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    size_t done = 0;
    while (ok && done < bytes.size()) {
        DWORD chunk = static_cast<DWORD>(
            bytes.size() - done > 0x10000000 ? 0x10000000 : bytes.size() - done);
        DWORD written = 0;
        if (!WriteFile(h, bytes.data() + done, chunk, &written, nullptr) || written == 0)
            ok = false;
        else
            done += written;
    }
    // On the disk before the rename, so a power cut never leaves an empty file.
    if (ok && !FlushFileBuffers(h)) ok = false;
    if (!CloseHandle(h)) ok = false;
    // std::rename refuses to replace an existing file on Windows.
    if (ok && !MoveFileExA(tmp.c_str(), path.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        ok = false;
    if (!ok) DeleteFileA(tmp.c_str());
    return ok;
}

bool narrowToOwner(const std::string&) {
    // The folder's inherited permissions stay, as for every file here.
    return true;
}

std::FILE* openPrivateAppend(const std::string& path) {
    // The folder's inherited permissions, as before.
    return std::fopen(path.c_str(), "ab");
}

bool replaceFile(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

std::FILE* createNewFile(const std::string& path, bool* existed) {
    *existed = false;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        *existed = e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS;
        return nullptr;
    }
    // The C runtime takes the handle over: fclose closes it.
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        DeleteFileA(path.c_str());
        return nullptr;
    }
    std::FILE* f = _fdopen(fd, "wb");
    if (!f) {
        _close(fd);
        DeleteFileA(path.c_str());
    }
    return f;
}
