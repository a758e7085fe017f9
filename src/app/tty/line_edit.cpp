#include "app/tty/line_edit.h"

#include <algorithm>

#include "app/key_codes.h"
#include "platform/text.h"

namespace {

constexpr int VK_BACK = 8;

// The UTF-8 form of code point `c`.
std::string utf8Of(char32_t c) {
    std::string s;
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else if (c < 0x800) {
        s += static_cast<char>(0xc0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
        s += static_cast<char>(0xe0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
        s += static_cast<char>(0x80 | (c & 0x3f));
    } else {
        s += static_cast<char>(0xf0 | (c >> 18));
        s += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
        s += static_cast<char>(0x80 | (c & 0x3f));
    }
    return s;
}

// Removes the selection, if any; true when there was one.
bool eraseSelection(LineEdit* e) {
    if (e->anchor < 0 || e->anchor == e->caret) {
        e->anchor = -1;
        return false;
    }
    const int a = std::min(e->anchor, e->caret), b = std::max(e->anchor, e->caret);
    e->text.erase(static_cast<size_t>(a), static_cast<size_t>(b - a));
    e->caret = a;
    e->anchor = -1;
    return true;
}

int wordLeft(const std::string& t, int i) {
    while (i > 0 && t[static_cast<size_t>(i) - 1] == ' ') --i;
    while (i > 0 && t[static_cast<size_t>(i) - 1] != ' ') --i;
    return i;
}

int wordRight(const std::string& t, int i) {
    const int n = static_cast<int>(t.size());
    while (i < n && t[static_cast<size_t>(i)] != ' ') ++i;
    while (i < n && t[static_cast<size_t>(i)] == ' ') ++i;
    return i;
}

}  // namespace

std::string typedText(const TermKey& k) {
    if (k.ch < 0x20 || k.ch == 0x7f || k.ch > 0x10ffff) return {};
    return utf8ToCp1252(utf8Of(k.ch));
}

void lineEditSet(LineEdit* e, const std::string& text) {
    e->text = text;
    e->caret = static_cast<int>(text.size());
    e->anchor = -1;
}

void lineEditSelect(LineEdit* e, int start, int end) {
    const int n = static_cast<int>(e->text.size());
    e->anchor = std::clamp(start, 0, n);
    e->caret = std::clamp(end, 0, n);
    if (e->anchor == e->caret) e->anchor = -1;
}

bool lineEditKey(LineEdit* e, const TermKey& k) {
    e->caret = std::clamp(e->caret, 0, static_cast<int>(e->text.size()));
    if (k.ch >= 0x20 && k.ch != 0x7f && !k.ctrl && !k.alt) {
        eraseSelection(e);
        if (e->text.size() >= e->limit) return true;
        const std::string c = typedText(k);
        e->text.insert(static_cast<size_t>(e->caret), c);
        e->caret += static_cast<int>(c.size());
        return true;
    }
    if (k.alt) return false;
    const int n = static_cast<int>(e->text.size());
    switch (k.vk) {
        case VK_BACK:
            if (!eraseSelection(e) && e->caret > 0) {
                const int from = k.ctrl ? wordLeft(e->text, e->caret) : e->caret - 1;
                e->text.erase(static_cast<size_t>(from), static_cast<size_t>(e->caret - from));
                e->caret = from;
            }
            return true;
        case VKEY_DELETE:
            if (!eraseSelection(e) && e->caret < n) e->text.erase(static_cast<size_t>(e->caret), 1);
            return true;
        case VKEY_LEFT:
            e->anchor = -1;
            e->caret = k.ctrl ? wordLeft(e->text, e->caret) : std::max(0, e->caret - 1);
            return true;
        case VKEY_RIGHT:
            e->anchor = -1;
            e->caret = k.ctrl ? wordRight(e->text, e->caret) : std::min(n, e->caret + 1);
            return true;
        case VKEY_HOME:
            e->anchor = -1;
            e->caret = 0;
            return true;
        case VKEY_END:
            e->anchor = -1;
            e->caret = n;
            return true;
        default:
            return false;
    }
}
