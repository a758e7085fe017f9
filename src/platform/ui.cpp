#include "platform/ui.h"

#include <atomic>

namespace {
UiSeam nullUi;
std::atomic<UiSeam*> current{&nullUi};
}  // namespace

UiThreadSeam& uiThread() { return *current.load(std::memory_order_acquire); }
UiViewSeam& uiViews() { return *current.load(std::memory_order_acquire); }
UiDialogSeam& uiDialogs() { return *current.load(std::memory_order_acquire); }

void setUi(UiSeam* seam) { current.store(seam ? seam : &nullUi, std::memory_order_release); }
