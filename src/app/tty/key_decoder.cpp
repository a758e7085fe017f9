#include "app/tty/key_decoder.h"

#include <algorithm>
#include <array>

#include "app/key_codes.h"
#include "platform/caps.h"

namespace {

enum class Parse { Key, Nothing, Incomplete };

constexpr char kEsc = '\x1b';
constexpr size_t kMaxSequence = kMaxKeySequence;

constexpr int VK_BACK = 8, VK_CLEAR = 12, VK_SPACE = 32, VK_INSERT = 45;

TermKey key(int vk, char32_t ch = 0) {
    TermKey k;
    k.vk = vk;
    k.ch = ch;
    return k;
}

// xterm's modifier parameter: 1 + (1 Shift, 2 Alt, 4 Ctrl, 8 Meta); Meta is
// taken for Alt, as terminals that send it put it on the Alt key.
void applyModifier(TermKey* k, int m) {
    if (m < 2) return;
    const int bits = m - 1;
    k->shift = k->shift || (bits & 1);
    k->alt = k->alt || (bits & 2) || (bits & 8);
    k->ctrl = k->ctrl || (bits & 4);
}

// The key of "CSI n ~" (and rxvt's "CSI n $ ^ @"); 0 when unknown.
int tildeKey(int n) {
    switch (n) {
        case 1: case 7: return VKEY_HOME;
        case 2: return VK_INSERT;
        case 3: return VKEY_DELETE;
        case 4: case 8: return VKEY_END;
        case 5: return VKEY_PRIOR;
        case 6: return VKEY_NEXT;
        case 11: case 12: case 13: case 14: case 15: return VKEY_F1 + (n - 11);  // F1-F5
        case 17: case 18: case 19: case 20: case 21: return VKEY_F1 + 5 + (n - 17);  // F6-F10
        case 23: case 24: return VKEY_F1 + 10 + (n - 23);  // F11, F12
        case 25: case 26: return VKEY_F1 + 12 + (n - 25);  // F13, F14
        case 28: case 29: return VKEY_F1 + 14 + (n - 28);  // F15, F16
        case 31: case 32: case 33: case 34: return VKEY_F1 + 16 + (n - 31);  // F17-F20
        default: return 0;
    }
}

// The key of a final letter shared by CSI and SS3 sequences; 0 when unknown.
int letterKey(char f) {
    switch (f) {
        case 'A': return VKEY_UP;
        case 'B': return VKEY_DOWN;
        case 'C': return VKEY_RIGHT;
        case 'D': return VKEY_LEFT;
        case 'H': return VKEY_HOME;
        case 'F': return VKEY_END;
        case 'E': case 'G': return VK_CLEAR;  // keypad 5 without Num Lock
        case 'P': return VKEY_F1;
        case 'Q': return VKEY_F1 + 1;
        case 'R': return VKEY_F1 + 2;
        case 'S': return VKEY_F1 + 3;
        default: return 0;
    }
}

// A character as a key: letters and digits carry their key code (upper case
// with Shift), the space too; other characters type without one.
TermKey charKey(char32_t c) {
    if (c >= 'a' && c <= 'z') return key(static_cast<int>(c - 'a' + 'A'), c);
    if (c >= 'A' && c <= 'Z') {
        TermKey k = key(static_cast<int>(c), c);
        k.shift = true;
        return k;
    }
    if (c >= '0' && c <= '9') return key(static_cast<int>(c), c);
    if (c == ' ') return key(VK_SPACE, c);
    return key(0, c);
}

// A control byte (0x00-0x1F, 0x7F) as the key that sends it.
TermKey controlKey(unsigned char b) {
    switch (b) {
        case '\r': case '\n': return key(VKEY_RETURN);
        case '\t': return key(VKEY_TAB);
        case 0x08: case 0x7f: return key(VK_BACK);
        case 0x1b: return key(VKEY_ESCAPE);
        default: break;
    }
    TermKey k;
    k.ctrl = true;
    if (b == 0) k.vk = VK_SPACE;
    else if (b <= 0x1a) k.vk = 'A' + b - 1;
    else if (b == 0x1c) k.vk = 220;  // Ctrl+backslash
    else if (b == 0x1d) k.vk = 221;  // Ctrl+]
    else if (b == 0x1e) k.vk = '6';  // Ctrl+^
    else k.vk = 189;                 // Ctrl+_ : the minus key
    return k;
}

// One UTF-8 character or control byte at the start of `s`.
Parse parseChar(std::string_view s, TermKey* out, size_t* used) {
    const auto b = static_cast<unsigned char>(s[0]);
    if (b < 0x20 || b == 0x7f) {
        *out = controlKey(b);
        *used = 1;
        return Parse::Key;
    }
    if (b < 0x80) {
        *out = charKey(b);
        *used = 1;
        return Parse::Key;
    }
    size_t len = 0;
    char32_t c = 0;
    if (b >= 0xc2 && b <= 0xdf) len = 2, c = b & 0x1f;
    else if (b >= 0xe0 && b <= 0xef) len = 3, c = b & 0x0f;
    else if (b >= 0xf0 && b <= 0xf4) len = 4, c = b & 0x07;
    else {
        *used = 1;  // not a lead byte
        return Parse::Nothing;
    }
    for (size_t i = 1; i < len; ++i) {
        if (i >= s.size()) return Parse::Incomplete;
        const auto cb = static_cast<unsigned char>(s[i]);
        if ((cb & 0xc0) != 0x80) {
            *used = i;  // drop the broken start; the byte is read afresh
            return Parse::Nothing;
        }
        c = (c << 6) | (cb & 0x3f);
    }
    *used = len;
    // Overlong forms, surrogates and values past Unicode are no characters.
    const bool overlong = (len == 3 && c < 0x800) || (len == 4 && c < 0x10000);
    if (overlong || (c >= 0xd800 && c <= 0xdfff) || c > 0x10ffff) return Parse::Nothing;
    *out = charKey(c);
    return Parse::Key;
}

// Parameters of a sequence: up to four numbers separated by ';'.
struct Params {
    std::array<int, 4> v{};
    int count = 0;
    bool privateMarker = false;  // "<=>?": a report or a private mode, no key
    int get(int i, int def) const { return i < count && v[static_cast<size_t>(i)] > 0 ? v[static_cast<size_t>(i)] : def; }
};

// Reads parameter bytes from s[*i]; stops at the first byte that is none.
void readParams(std::string_view s, size_t* i, Params* p) {
    bool any = false;
    for (; *i < s.size(); ++*i) {
        const char c = s[*i];
        if (c >= '0' && c <= '9') {
            if (!any) p->count = std::min(p->count + 1, 4), any = true;
            int& v = p->v[static_cast<size_t>(p->count - 1)];
            if (v < 100000) v = v * 10 + (c - '0');
        } else if (c == ';' || c == ':') {
            if (!any) p->count = std::min(p->count + 1, 4);
            any = false;
        } else if (c >= 0x3c && c <= 0x3f) {
            p->privateMarker = true;
        } else {
            return;
        }
    }
}

// "CSI ..." after its two bytes; `s` is the whole pending text.
Parse parseCsi(std::string_view s, TermKey* out, size_t* used) {
    size_t i = 2;
    if (i >= s.size()) return Parse::Incomplete;
    // The Linux console's F1-F5: "ESC [ [ A" .. "ESC [ [ E".
    if (s[i] == '[') {
        if (i + 1 >= s.size()) return Parse::Incomplete;
        *used = i + 2;
        const char f = s[i + 1];
        if (f < 'A' || f > 'E') return Parse::Nothing;
        *out = key(VKEY_F1 + (f - 'A'));
        return Parse::Key;
    }
    Params p;
    readParams(s, &i, &p);
    // Intermediate bytes (none of the keys here uses one but rxvt's '$').
    while (i < s.size() && s[i] >= 0x20 && s[i] <= 0x2f && s[i] != '$') ++i;
    if (i >= s.size()) return Parse::Incomplete;
    const char f = s[i];
    if (static_cast<unsigned char>(f) < 0x20) {
        *used = i;  // a control byte ends the broken sequence and is read afresh
        return Parse::Nothing;
    }
    *used = i + 1;
    if (!(f == '$' || (f >= 0x40 && f <= 0x7e))) return Parse::Nothing;  // not a final byte
    if (p.privateMarker) return Parse::Nothing;

    TermKey k;
    switch (f) {
        case '~': case '$': case '^': case '@': {
            const int n = p.get(0, 0);
            // xterm's modifyOtherKeys: "CSI 27 ; m ; code ~".
            if (f == '~' && n == 27 && p.count >= 3) {
                k = charKey(static_cast<char32_t>(p.get(2, 0)));
                if (p.get(2, 0) < 0x20 || p.get(2, 0) == 0x7f)
                    k = controlKey(static_cast<unsigned char>(p.get(2, 0) & 0x7f));
                applyModifier(&k, p.get(1, 1));
                break;
            }
            k.vk = tildeKey(n);
            if (!k.vk) return Parse::Nothing;
            if (f == '~') applyModifier(&k, p.get(1, 1));
            k.shift = k.shift || f == '$' || f == '@';
            k.ctrl = k.ctrl || f == '^' || f == '@';
            break;
        }
        case 'u': {
            // "CSI code ; m u" (the fixterms/kitty form).
            const int code = p.get(0, 0);
            if (code <= 0) return Parse::Nothing;
            k = code < 0x20 || code == 0x7f ? controlKey(static_cast<unsigned char>(code))
                                            : charKey(static_cast<char32_t>(code));
            applyModifier(&k, p.get(1, 1));
            break;
        }
        case 'Z':
            k.vk = VKEY_TAB;
            k.shift = true;
            applyModifier(&k, p.get(1, 1));
            break;
        case 'a': case 'b': case 'c': case 'd':
            // rxvt's Shift+arrows.
            k.vk = letterKey(static_cast<char>(f - 'a' + 'A'));
            k.shift = true;
            break;
        default:
            k.vk = letterKey(f);
            if (!k.vk) return Parse::Nothing;
            // "CSI 1 ; m X": the modifier is the second number.
            applyModifier(&k, p.count >= 2 ? p.get(1, 1) : 1);
            break;
    }
    *out = k;
    return Parse::Key;
}

// "SS3 ..." (ESC O) after its two bytes.
Parse parseSs3(std::string_view s, TermKey* out, size_t* used) {
    size_t i = 2;
    Params p;
    readParams(s, &i, &p);
    if (i >= s.size()) return Parse::Incomplete;
    const char f = s[i];
    if (static_cast<unsigned char>(f) < 0x20) {
        *used = i;
        return Parse::Nothing;
    }
    *used = i + 1;
    TermKey k;
    if (f >= 'a' && f <= 'd') {
        // rxvt's Ctrl+arrows.
        k.vk = letterKey(static_cast<char>(f - 'a' + 'A'));
        k.ctrl = true;
    } else if (f == 'M') {
        k.vk = VKEY_RETURN;  // keypad Enter
    } else if (f >= 'p' && f <= 'y') {
        k = key(96 + (f - 'p'), static_cast<char32_t>('0' + (f - 'p')));  // keypad digits
    } else if (f >= 'j' && f <= 'o') {
        static const char kOps[] = "*+,-./";  // keypad j..o: 106..111
        k = key(106 + (f - 'j'), static_cast<char32_t>(kOps[f - 'j']));
    } else {
        k.vk = letterKey(f);
        if (!k.vk) return Parse::Nothing;
    }
    // Old xterms put the modifier alone ("ESC O 5 P"), newer ones second.
    applyModifier(&k, p.count >= 2 ? p.get(1, 1) : p.get(0, 1));
    *out = k;
    return Parse::Key;
}

// One key at the start of `s`, which begins with ESC and holds at most
// kMaxSequence bytes.
Parse parseEscape(std::string_view s, TermKey* out, size_t* used) {
    if (s.size() < 2) return Parse::Incomplete;
    if (s[1] == '[') return parseCsi(s, out, used);
    if (s[1] == 'O') return parseSs3(s, out, used);
    if (s[1] == kEsc) {
        // ESC before a sequence: Alt with a key that has one (rxvt, screen
        // and tmux send Alt+arrows so).  ESC ESC before anything else is
        // Alt+Escape.
        if (s.size() < 3) return Parse::Incomplete;
        if (s[2] == '[' || s[2] == 'O') {
            size_t inner = 0;
            Parse r = parseEscape(s.substr(1), out, &inner);
            if (r == Parse::Incomplete) return r;
            *used = inner + 1;
            if (r == Parse::Key) out->alt = true;
            return r;
        }
        *out = key(VKEY_ESCAPE);
        out->alt = true;
        *used = 2;
        return Parse::Key;
    }
    // Alt as an ESC prefix of a character or control byte.
    size_t inner = 0;
    Parse r = parseChar(s.substr(1), out, &inner);
    if (r == Parse::Incomplete) return r;
    *used = inner + 1;
    if (r == Parse::Key) out->alt = true;
    return r;
}

// One key at the start of `s` (not empty).  An escape sequence is looked
// for in its first kMaxSequence bytes only, and one without an end there is
// dropped as exactly that many bytes: where a read ends never changes what
// is decoded.
Parse parseOne(std::string_view s, TermKey* out, size_t* used) {
    if (s[0] != kEsc) return parseChar(s, out, used);
    Parse r = parseEscape(s.substr(0, kMaxSequence), out, used);
    if (r == Parse::Incomplete && s.size() >= kMaxSequence) {
        *used = kMaxSequence;
        return Parse::Nothing;
    }
    return r;
}

}  // namespace

void keyDecoderFeed(KeyDecoder* d, std::string_view bytes, std::vector<TermKey>* out) {
    d->pending.append(bytes);
    size_t pos = 0;
    while (pos < d->pending.size()) {
        TermKey k;
        size_t used = 0;
        Parse r = parseOne(std::string_view(d->pending).substr(pos), &k, &used);
        if (r == Parse::Incomplete) break;
        if (r == Parse::Key) out->push_back(k);
        pos += used;
    }
    d->pending.erase(0, pos);
}

bool keyDecoderPending(const KeyDecoder& d) { return !d.pending.empty(); }

void keyDecoderFlush(KeyDecoder* d, std::vector<TermKey>* out) {
    const std::string& p = d->pending;
    if (p == "\x1b") {
        out->push_back(key(VKEY_ESCAPE));
    } else if (p == "\x1b\x1b") {
        TermKey k = key(VKEY_ESCAPE);
        k.alt = true;
        out->push_back(k);
    } else if (p == "\x1b[" || p == "\x1bO") {
        TermKey k = p[1] == '[' ? key(219, '[') : charKey('O');
        k.alt = true;
        out->push_back(k);
    }
    d->pending.clear();
}

void keyDecoderReset(KeyDecoder* d) { d->pending.clear(); }
