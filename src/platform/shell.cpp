#include "platform/shell.h"

#include <atomic>

namespace {
ShellSeam nullShell;
std::atomic<ShellSeam*> current{&nullShell};
}  // namespace

ShellSeam& shell() { return *current.load(std::memory_order_acquire); }

void setShell(ShellSeam* seam) { current.store(seam ? seam : &nullShell, std::memory_order_release); }
