#include "platform/shell.h"

#include <atomic>

namespace {
ShellSeam nullShell;
std::atomic<ShellSeam*> current{&nullShell};
}  // namespace

ShellSeam& shell() { return *current.load(std::memory_order_acquire); }

void setShell(ShellSeam* seam) { current.store(seam ? seam : &nullShell, std::memory_order_release); }

std::string fileUri(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (unsigned char c : path) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
                           c == '/';
        if (plain) {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 0xF];
        }
    }
    return uri;
}
