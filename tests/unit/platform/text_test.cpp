#include <gtest/gtest.h>

#include "platform/text.h"

namespace {
TEST(Text, Cp1252ToUtf8) {
    EXPECT_EQ(cp1252ToUtf8("abc"), "abc");
    EXPECT_EQ(cp1252ToUtf8("\xE9t\xE9"), "\xC3\xA9t\xC3\xA9");              // été
    EXPECT_EQ(cp1252ToUtf8("\x80"), "\xE2\x82\xAC");                       // euro
    EXPECT_EQ(cp1252ToUtf8("\x92\x9C\x9F"), "\xE2\x80\x99\xC5\x93\xC5\xB8");  // ’ œ Ÿ
    EXPECT_EQ(cp1252ToUtf8("\xAB\xBB"), "\xC2\xAB\xC2\xBB");
}

TEST(Text, Utf8ToCp1252) {
    EXPECT_EQ(utf8ToCp1252("\xC3\xA9t\xC3\xA9"), "\xE9t\xE9");
    EXPECT_EQ(utf8ToCp1252("\xE2\x82\xAC 5"), "\x80 5");
    EXPECT_EQ(utf8ToCp1252("\xE4\xB8\xAD"), "?");             // no CP1252 form
    EXPECT_EQ(utf8ToCp1252("\xF0\x9F\x98\x80!"), "?!");       // emoji
    EXPECT_EQ(utf8ToCp1252("a\xC3"), "a?");                   // cut sequence
    EXPECT_EQ(utf8ToCp1252("\xFF" "b"), "?b");
}

TEST(Text, EveryByteRoundTrips) {
    std::string all;
    for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
    EXPECT_EQ(utf8ToCp1252(cp1252ToUtf8(all)), all);
}
}  // namespace
