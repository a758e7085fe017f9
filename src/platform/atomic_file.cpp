// The part of the file helpers that is the same on every platform.
#include "platform/atomic_file.h"

#include <cstdio>

bool readWholeFile(const std::string& path, std::string* bytes) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    if (ok) *bytes = std::move(out);
    return ok;
}
