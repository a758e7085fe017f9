// Menu text ("menu ", "umenu " payloads): parsing never reads past the text,
// and the record it gives keeps its invariants, also when a parse replaces
// the content of a menu that already has items.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "menu/audiomenu.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Copied so the sanitizer sees any read one byte past the payload.
    std::string text(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<menu> m = menu_create(text);
    if (m->nItems < 0 || static_cast<size_t>(m->nItems) != m->items.size()) std::abort();
    // Every item needs at least two bytes of text.
    if (m->items.size() > size / 2 + 1) std::abort();
    menu_update(m.get(), std::string_view(text).substr(size / 2));
    if (static_cast<size_t>(m->nItems) != m->items.size()) std::abort();
    return 0;
}
