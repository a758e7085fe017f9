// The terminal key decoder: what xterm (and tmux, which speaks xterm's
// sequences), the Linux console and screen (and rxvt) send for each key,
// decoded whole and split at every byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/key_codes.h"
#include "app/tty/key_decoder.h"
#include "app/tty/tty_ui.h"

namespace {

struct Case {
    const char* terminal;
    std::string bytes;
    TermKey key;
};

TermKey K(int vk, bool shift = false, bool ctrl = false, bool alt = false, char32_t ch = 0) {
    TermKey k;
    k.vk = vk;
    k.shift = shift;
    k.ctrl = ctrl;
    k.alt = alt;
    k.ch = ch;
    return k;
}

const int INS = 45, CLEAR = 12, BACK = 8;
int F(int n) { return VKEY_F1 + n - 1; }

const std::vector<Case>& cases() {
    static const std::vector<Case> c = {
        // xterm (and tmux with xterm-keys, VTE, konsole)
        {"xterm", "\x1b[A", K(VKEY_UP)},
        {"xterm", "\x1bOB", K(VKEY_DOWN)},  // application cursor mode
        {"xterm", "\x1b[1;5C", K(VKEY_RIGHT, false, true)},
        {"xterm", "\x1b[1;2D", K(VKEY_LEFT, true)},
        {"xterm", "\x1b[1;3A", K(VKEY_UP, false, false, true)},
        {"xterm", "\x1b[1;6B", K(VKEY_DOWN, true, true)},
        {"xterm", "\x1b[H", K(VKEY_HOME)},
        {"xterm", "\x1b[F", K(VKEY_END)},
        {"xterm", "\x1b[1;5H", K(VKEY_HOME, false, true)},
        {"xterm", "\x1b[5~", K(VKEY_PRIOR)},
        {"xterm", "\x1b[6;5~", K(VKEY_NEXT, false, true)},
        {"xterm", "\x1b[2~", K(INS)},
        {"xterm", "\x1b[3~", K(VKEY_DELETE)},
        {"xterm", "\x1b[3;6~", K(VKEY_DELETE, true, true)},
        {"xterm", "\x1bOP", K(F(1))},
        {"xterm", "\x1bOS", K(F(4))},
        {"xterm", "\x1b[1;2P", K(F(1), true)},
        {"xterm", "\x1b[1;3S", K(F(4), false, false, true)},
        {"xterm", "\x1b[15~", K(F(5))},
        {"xterm", "\x1b[17;5~", K(F(6), false, true)},
        {"xterm", "\x1b[21~", K(F(10))},
        {"xterm", "\x1b[24;2~", K(F(12), true)},
        {"xterm", "\x1b[Z", K(VKEY_TAB, true)},
        {"xterm", "\x1b[E", K(CLEAR)},
        {"xterm", "\x1bOM", K(VKEY_RETURN)},
        {"xterm", "\x1b[27;5;13~", K(VKEY_RETURN, false, true)},  // modifyOtherKeys
        {"xterm", "\x1b[13;5u", K(VKEY_RETURN, false, true)},     // CSI u
        // The Linux console
        {"linux", "\x1b[[A", K(F(1))},
        {"linux", "\x1b[[E", K(F(5))},
        {"linux", "\x1b[17~", K(F(6))},
        {"linux", "\x1b[23~", K(F(11))},
        {"linux", "\x1b[25~", K(F(13))},  // Shift+F1
        {"linux", "\x1b[34~", K(F(20))},  // Shift+F8
        {"linux", "\x1b[1~", K(VKEY_HOME)},
        {"linux", "\x1b[4~", K(VKEY_END)},
        {"linux", "\x1b[G", K(CLEAR)},
        {"linux", "\x7f", K(BACK)},
        // screen (and tmux's default), rxvt
        {"screen", "\x1bOA", K(VKEY_UP)},
        {"screen", "\x1b\x1bOA", K(VKEY_UP, false, false, true)},
        {"screen", "\x1b\x1b[5~", K(VKEY_PRIOR, false, false, true)},
        {"screen", "\x1b[7~", K(VKEY_HOME)},
        {"screen", "\x1b[8~", K(VKEY_END)},
        {"rxvt", "\x1b[a", K(VKEY_UP, true)},
        {"rxvt", "\x1bOd", K(VKEY_LEFT, false, true)},
        {"rxvt", "\x1b[3$", K(VKEY_DELETE, true)},
        {"rxvt", "\x1b[5^", K(VKEY_PRIOR, false, true)},
        {"rxvt", "\x1b[3@", K(VKEY_DELETE, true, true)},
        // Characters, control bytes and Alt as an ESC prefix: the same on all
        {"any", "a", K('A', false, false, false, 'a')},
        {"any", "Q", K('Q', true, false, false, 'Q')},
        {"any", "7", K('7', false, false, false, '7')},
        {"any", " ", K(32, false, false, false, ' ')},
        {"any", "?", K(0, false, false, false, '?')},
        {"any", "\xc3\xa9", K(0, false, false, false, 0xe9)},       // é
        {"any", "\xe2\x82\xac", K(0, false, false, false, 0x20ac)}, // €
        {"any", "\r", K(VKEY_RETURN)},
        {"any", "\t", K(VKEY_TAB)},
        {"any", "\x03", K('C', false, true)},
        {"any", std::string("\0", 1), K(32, false, true)},
        {"any", "\x1b" "c", K('C', false, false, true, 'c')},
        {"any", "\x1b" "C", K('C', true, false, true, 'C')},
        {"any", "\x1b\x7f", K(BACK, false, false, true)},
        {"any", "\x1b\x08", K(BACK, false, false, true)},
        {"any", "\x1b\x18", K('X', false, true, true)},
        {"any", "\x1b\xc3\xa9", K(0, false, false, true, 0xe9)},
    };
    return c;
}

std::vector<TermKey> decode(const std::vector<std::string>& chunks) {
    KeyDecoder d;
    std::vector<TermKey> out;
    for (const std::string& c : chunks) keyDecoderFeed(&d, c, &out);
    EXPECT_FALSE(keyDecoderPending(d));
    return out;
}

std::string describe(const TermKey& k) {
    return "vk " + std::to_string(k.vk) + (k.shift ? " shift" : "") + (k.ctrl ? " ctrl" : "") +
           (k.alt ? " alt" : "") + " ch " + std::to_string(static_cast<uint32_t>(k.ch));
}

TEST(KeyDecoder, SequencesOfEachTerminalGiveTheirKey) {
    for (const Case& c : cases()) {
        std::vector<TermKey> got = decode({c.bytes});
        ASSERT_EQ(got.size(), 1u) << c.terminal << " " << testing::PrintToString(c.bytes);
        EXPECT_EQ(got[0], c.key) << c.terminal << " " << testing::PrintToString(c.bytes) << ": "
                                 << describe(got[0]) << " instead of " << describe(c.key);
    }
}

// Every case after one another, cut at every point in two: the same keys
// in the same order, whatever the read boundaries.
TEST(KeyDecoder, AStreamSplitAnywhereDecodesTheSame) {
    std::string all;
    std::vector<TermKey> want;
    for (const Case& c : cases()) {
        // A lone ESC before these would make them Alt keys: keep each whole.
        all += c.bytes;
        want.push_back(c.key);
    }
    for (size_t cut = 0; cut <= all.size(); ++cut) {
        std::vector<TermKey> got = decode({all.substr(0, cut), all.substr(cut)});
        ASSERT_EQ(got, want) << "cut at " << cut;
    }
    // And one byte at a time.
    std::vector<std::string> bytes;
    for (char b : all) bytes.emplace_back(1, b);
    EXPECT_EQ(decode(bytes), want);
}

TEST(KeyDecoder, ALoneEscapeWaitsThenIsTheEscapeKey) {
    struct {
        std::string bytes;
        TermKey flushed;
    } table[] = {
        {"\x1b", K(VKEY_ESCAPE)},
        {"\x1b\x1b", K(VKEY_ESCAPE, false, false, true)},
        {"\x1b[", K(219, false, false, true, '[')},
        {"\x1bO", K('O', true, false, true, 'O')},
    };
    for (const auto& t : table) {
        KeyDecoder d;
        std::vector<TermKey> out;
        keyDecoderFeed(&d, t.bytes, &out);
        EXPECT_TRUE(out.empty());
        ASSERT_TRUE(keyDecoderPending(d));
        keyDecoderFlush(&d, &out);
        EXPECT_FALSE(keyDecoderPending(d));
        ASSERT_EQ(out.size(), 1u) << testing::PrintToString(t.bytes);
        EXPECT_EQ(out[0], t.flushed) << testing::PrintToString(t.bytes);
    }
    // A sequence cut short by the wait is dropped, not typed as text.
    KeyDecoder d;
    std::vector<TermKey> out;
    keyDecoderFeed(&d, "\x1b[1;5", &out);
    keyDecoderFlush(&d, &out);
    EXPECT_TRUE(out.empty());
}

TEST(KeyDecoder, UnknownAndBrokenInputIsDroppedAndWhatFollowsStillDecodes) {
    const std::vector<std::string> noise = {
        "\x1b[99~",                 // no such key
        "\x1b[?1;2c",               // a device attributes report
        "\x1b[" + std::string(20, '1'),  // parameters cut by the next key
        "\xff",                     // no UTF-8 lead byte
        "\xc3(",                    // a broken two-byte character (the "(" stays)
        "\xe0\x80\x80",             // an overlong form
        "\xed\xa0\x80",             // a surrogate
    };
    for (const std::string& n : noise) {
        std::vector<TermKey> got = decode({n + "\x1b[B"});
        ASSERT_FALSE(got.empty()) << testing::PrintToString(n);
        EXPECT_EQ(got.back(), K(VKEY_DOWN)) << testing::PrintToString(n);
        for (size_t i = 0; i + 1 < got.size(); ++i)
            EXPECT_EQ(got[i].ch, U'(') << testing::PrintToString(n);
    }
}

// A sequence that never ends is dropped the same whatever the reads.
TEST(KeyDecoder, AnEndlessSequenceDecodesTheSameHoweverItIsRead) {
    const std::string noise = "\x1b[17;;;;7;;6" + std::string(30, '8') + "17;;;;7;;6" + std::string(20, '8') + "x";
    const std::vector<TermKey> whole = decode({noise});
    for (size_t cut = 0; cut <= noise.size(); ++cut)
        ASSERT_EQ(decode({noise.substr(0, cut), noise.substr(cut)}), whole) << "cut at " << cut;
    EXPECT_EQ(whole.back(), K('X', false, false, false, 'x'));
}

// The stand-ins for keys a terminal cannot send reach the key path as the
// keys they stand for; Alt with other keys is left as it is.
TEST(TtyAltKeys, StandInsBecomeTheKeysTheyStandFor) {
    EXPECT_EQ(applyAltKey(K('6', false, false, true)), K(VKEY_F6, false, true));
    EXPECT_EQ(applyAltKey(K('5', false, false, true)), K(VKEY_F5, false, true));
    EXPECT_EQ(applyAltKey(K('X', false, false, true)), K(VKEY_DELETE, true, true));
    EXPECT_EQ(applyAltKey(K('A', false, false, true)), K(VKEY_APPS));
    EXPECT_EQ(applyAltKey(K('C', false, false, true, 'c')), K('C', false, false, true, 'c'));
    EXPECT_EQ(applyAltKey(K('6')), K('6'));
    EXPECT_TRUE(isCloseKey(K('Q', false, false, true)));
    EXPECT_TRUE(isCloseKey(K(VKEY_F4, false, false, true)));
    EXPECT_FALSE(isCloseKey(K(VKEY_F4)));
}

}  // namespace
