// Menu text ("menu ", "umenu " payloads): parsing never reads past the text,
// and the record it gives keeps its invariants, also when a parse replaces
// the content of a menu that already has items.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "menu/audiomenu.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A heap copy of exactly `size` bytes, no terminator: AddressSanitizer
    // reports a read of even one byte past the payload.  (A std::string
    // would hide it behind its own zero byte or its inline buffer.)
    std::unique_ptr<char[]> bytes(new char[size]);  // size 0: no byte may be read
    std::memcpy(bytes.get(), data, size);
    const std::string_view text(bytes.get(), size);
    std::unique_ptr<menu> m = menu_create(text);
    if (m->nItems < 0 || static_cast<size_t>(m->nItems) != m->items.size()) std::abort();
    // Every item needs at least two bytes of text.
    if (m->items.size() > size / 2 + 1) std::abort();
    menu_update(m.get(), text.substr(size / 2));
    if (static_cast<size_t>(m->nItems) != m->items.size()) std::abort();
    size_t textBytes = 0;
    for (const menuitem& it : m->items)
        for (const auto* t : {&it.label, &it.value, &it.sound}) textBytes += *t ? (*t)->size() : 0;
    if (m->textBytes != textBytes) std::abort();
    return 0;
}
