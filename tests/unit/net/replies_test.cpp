// The protocol library alone: the challenge response and every line the
// client sends, byte for byte.  This binary links nothing of the client but
// kordo_protocol.
#include "net/replies.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "net/protocol.h"
#include "platform/radix36.h"

namespace {
TEST(Challenge, WorkedExamples) {
    // Only the concatenation of challenge, login and password matters.
    EXPECT_EQ(doChallenge("abc", "", ""), 1078531u);
    EXPECT_EQ(toBase36(doChallenge("abc", "", "")), "n477");
    EXPECT_EQ(toBase36(doChallenge("ab", "c", "")), "n477");
    EXPECT_EQ(toBase36(doChallenge("a", "b", "c")), "n477");
}

TEST(Challenge, BytesAreUnsigned) {
    uint64_t x = 0;
    qchfnc(&x, "\xE9", 1);
    EXPECT_EQ(x, 0xA16u);  // 11 * 233 + 19
}

TEST(Challenge, ResponseKeepsLowFiftySixBits) {
    std::string longText(200, 'z');
    uint64_t r = doChallenge(longText, "login", "\xFF\xFE");
    EXPECT_EQ(r & ~0x00FFFFFFFFFFFFFFull, 0u);
    EXPECT_LE(toBase36(r).size(), 11u);
}

TEST(Challenge, Base36) {
    EXPECT_EQ(toBase36(0), "0");
    EXPECT_EQ(toBase36(35), "z");
    EXPECT_EQ(toBase36(36), "10");
    EXPECT_EQ(toBase36(~0ull), "3w5e11264sgsf");
}

// Each line as the server reads it.  Values go out as given: CP1252 bytes
// unchanged, nothing cut however long, an empty value as an empty field,
// and a "|" or "\n" inside a value sent as it stands (the protocol has no
// escape; the server then reads more fields, or a second line).
TEST(Replies, EveryLineByteForByte) {
    const std::string big(5000, 'x');
    const KeyMenuContext withValue{3, 1, "v\xE9"};
    const KeyMenuContext noValue{3, 0, ""};
    const KeyMenuContext noSelection{INT32_MIN, -1, ""};
    const KeyMenuContext longValue{1, 0, big};
    const struct {
        const char* what;
        std::string got, want;
    } cases[] = {
        {"login", loginReply("abc", "", "", "k3x9"), "login ||65545|fr|k3x9|n477\n"},
        {"login, CP1252 and the fold of all three", loginReply("ab", "J\xE9r\xF4me", "p|w", "id"),
         "login J\xE9r\xF4me|p|w|65545|fr|id|" +
             toBase36(doChallenge("ab", "J\xE9r\xF4me", "p|w")) + "\n"},
        {"pong", std::string(pongReply()), "pong\n"},
        {"quit", std::string(quitReply()), "quit\n"},
        {"key", keyReply({65, false, false, false}, nullptr), "key 65\n"},
        {"key, every modifier", keyReply({46, true, true, true}, nullptr), "key 1838\n"},
        {"key, Shift+Ctrl", keyReply({46, true, true, false}, nullptr), "key 814\n"},
        {"kem", keyReply({65, false, false, false}, &withValue), "kem 65|3|1|v\xE9\n"},
        {"kem, no value", keyReply({65, true, true, true}, &noValue), "kem 1857|3|0|\n"},
        {"kem, no selection", keyReply({13, false, false, false}, &noSelection),
         "kem 13|-2147483648|-1|\n"},
        {"kem, long value", keyReply({32, false, false, false}, &longValue),
         "kem 32|1|0|" + big + "\n"},
        {"select", selectReply(3, 1, "val"), "select 3|1|val\n"},
        {"select, no value", selectReply(3, 0, ""), "select 3|0|\n"},
        {"select, long value", selectReply(3, 1, big), "select 3|1|" + big + "\n"},
        {"select, cancelled", selectReply(3, -1, "ignored"), "select 3|-1|-1\n"},
        {"select, negative id", selectReply(-5, 2, "a|b"), "select -5|2|a|b\n"},
        {"input", inputReply(7, "Paul"), "input 7|Paul\n"},
        {"input, largest id, empty answer", inputReply(UINT32_MAX, ""), "input 4294967295|\n"},
        {"input, CP1252, | and \\n as typed", inputReply(1, "\xE9t\xE9|x\ny"),
         "input 1|\xE9t\xE9|x\ny\n"},
        {"input, long answer", inputReply(2, big), "input 2|" + big + "\n"},
        {"msgboxresp", msgboxReply(3, 6), "msgboxresp 3|6\n"},
        {"msgboxresp, box not shown", msgboxReply(UINT32_MAX, 0), "msgboxresp 4294967295|0\n"},
        {"chat", chatReply("bonjour \xE0 tous"), "input 60003|bonjour \xE0 tous\n"},
        {"chat, raw command", chatReply("//who all"), "who all\n"},
        {"chat, raw and empty", chatReply("//"), "\n"},
        {"chat, one slash", chatReply("/who"), "input 60003|/who\n"},
        {"chat, long", chatReply(std::string(5000, 'a')),
         "input 60003|" + std::string(5000, 'a') + "\n"},
        {"dllqr", dllqReply(5, "r\xE9sultat"), "dllqr 5|r\xE9sultat\n"},
        {"dllqr, empty text", dllqReply(0, ""), "dllqr 0|\n"},
        {"dllqr, two lines returned", dllqReply(9, "a\nb"), "dllqr 9|a\nb\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.got, c.want);
    }
}
}  // namespace
