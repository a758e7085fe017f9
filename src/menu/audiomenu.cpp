#include "menu/audiomenu.h"

#include <algorithm>
#include <cstring>

#include "platform/fields.h"

namespace {

bool isNullWord(std::string_view f) {
    if (f.size() != 4) return false;
    static constexpr char kWord[] = "null";
    for (size_t i = 0; i < 4; ++i)
        if ((f[i] | 0x20) != kWord[i]) return false;
    return true;
}

size_t textSize(const std::optional<std::string>& t) { return t ? t->size() : 0; }

size_t itemBytes(const menuitem& it) { return textSize(it.label) + textSize(it.value) + textSize(it.sound); }

std::optional<std::string> readText(menufields& f) {
    std::optional<std::string_view> field = f.next();
    if (!field || isNullWord(*field)) return std::nullopt;
    return std::string(*field);
}

}  // namespace

menufields::menufields(std::string_view payload) : text(payload.substr(0, payload.find('\0'))) {}

bool menufields::atEnd() {
    while (pos < text.size() && text[pos] == '|') ++pos;
    return pos >= text.size();
}

std::optional<std::string_view> menufields::next() {
    if (atEnd()) return std::nullopt;
    size_t end = text.find('|', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view field = text.substr(pos, end - pos);
    pos = end;
    return field;
}

int32_t menufields::nextInt() {
    std::optional<std::string_view> field = next();
    return field ? readInt32(*field) : 0;
}

std::optional<std::string> copy(const char* s) {
    if (!s) return std::nullopt;
    return std::string(s);
}

std::optional<std::string> copy(std::optional<std::string_view> s) {
    if (!s) return std::nullopt;
    return std::string(*s);
}

std::unique_ptr<menu> menu_create(std::string_view s) {
    auto m = std::make_unique<menu>();
    menu_update(m.get(), s);
    return m;
}

menu* menu_update(menu* m, std::string_view s) {
    menu_freeitems(m);
    menufields f(s);
    m->id = f.nextInt();
    m->width = f.nextInt();
    int32_t announced = f.nextInt();
    m->selection = f.nextInt();
    m->flags = f.nextInt();
    f.next();  // reserved
    // Each item takes at least two bytes of text ("x|"), which bounds the
    // reservation whatever count the text claims.
    size_t room = f.text.size() / 2 + 1;
    if (announced > 0)
        m->items.reserve(std::min({static_cast<size_t>(announced), room, static_cast<size_t>(kMaxMenuItems)}));
    for (int32_t i = 0; i < announced && i < kMaxMenuItems && !f.atEnd(); ++i) {
        menuitem it;
        menu_readitem(&it, f);
        const size_t bytes = itemBytes(it);
        if (m->textBytes + bytes > kMaxMenuTextBytes) break;
        m->textBytes += bytes;
        m->items.push_back(std::move(it));
    }
    m->nItems = static_cast<int32_t>(m->items.size());
    return m;
}

void menu_readitem(menuitem* it, menufields& f) {
    it->label = readText(f);
    it->value = readText(f);
    it->sound = readText(f);
    f.next();  // image: ignored
}

void menu_freeitem(menuitem* it) {
    it->label.reset();
    it->value.reset();
    it->sound.reset();
}

void menu_freeitems(menu* m) {
    m->items.clear();
    m->items.shrink_to_fit();
    m->nItems = 0;
    m->textBytes = 0;
}

void menu_free(std::unique_ptr<menu> m) { m.reset(); }

int menu_updateitem(menu* m, std::string_view s) {
    menufields f(s);
    int64_t v = f.nextInt();
    if (v < 0) {
        int64_t index = -v - 1;
        if (index >= m->nItems) return kMenuItemUnchanged;
        m->textBytes -= itemBytes(m->items[static_cast<size_t>(index)]);
        m->items.erase(m->items.begin() + index);
        m->nItems = static_cast<int32_t>(m->items.size());
        if (m->selection == index && m->selection > 0) --m->selection;
        return static_cast<int>(-(index + 1));
    }
    menuitem it;
    menu_readitem(&it, f);
    const size_t bytes = itemBytes(it);
    if (v < m->nItems) {
        menuitem& old = m->items[static_cast<size_t>(v)];
        const size_t total = m->textBytes - itemBytes(old) + bytes;
        if (total > kMaxMenuTextBytes) return kMenuItemUnchanged;
        old = std::move(it);
        m->textBytes = total;
        m->selection = static_cast<int32_t>(v);
        return 0;
    }
    if (m->nItems >= kMaxMenuItems || m->textBytes + bytes > kMaxMenuTextBytes) return kMenuItemUnchanged;
    m->items.push_back(std::move(it));
    m->textBytes += bytes;
    m->nItems = static_cast<int32_t>(m->items.size());
    m->selection = m->nItems - 1;
    return static_cast<int>(std::min<int64_t>(v + 1, INT32_MAX));
}
