// Item text ("uitem " payloads) applied to a small menu: never reads past
// the text, never touches an item that does not exist, the change code
// agrees with what happened to the item count, and the menu's text count
// stays true and within its cap.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "menu/audiomenu.h"

namespace {
size_t textBytes(const menu& m) {
    size_t n = 0;
    for (const menuitem& it : m.items)
        for (const auto* t : {&it.label, &it.value, &it.sound}) n += *t ? (*t)->size() : 0;
    return n;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<menu> m = menu_create("1|1|3|1|0|r|a|va|sa|-|b|vb|sb|-|c|vc|sc|-");
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // Several changes in a row: the input split at newlines.
    size_t start = 0;
    while (start <= input.size()) {
        size_t end = input.find('\n', start);
        if (end == std::string_view::npos) end = input.size();
        // Each line in a heap copy of exactly its own size, no terminator:
        // AddressSanitizer reports a read of even one byte past it (within
        // the input, the next line's bytes would hide such a read).
        const size_t n = end - start;
        std::unique_ptr<char[]> bytes(new char[n]);  // n 0: no byte may be read
        std::memcpy(bytes.get(), input.data() + start, n);
        int32_t before = m->nItems;
        int code = menu_updateitem(m.get(), std::string_view(bytes.get(), n));
        int32_t expected = code == kMenuItemUnchanged || code == 0 ? before : code > 0 ? before + 1 : before - 1;
        if (m->nItems != expected || static_cast<size_t>(m->nItems) != m->items.size()) std::abort();
        // A replacement or an addition selects an existing item.
        if (code >= 0 && (m->selection < 0 || m->selection >= m->nItems))
            std::abort();
        if (m->textBytes != textBytes(*m) || m->textBytes > kMaxMenuTextBytes || m->nItems > kMaxMenuItems)
            std::abort();
        start = end + 1;
    }
    return 0;
}
