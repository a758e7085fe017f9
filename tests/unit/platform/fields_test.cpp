#include "platform/fields.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
TEST(Fields, SignedReadingStopsAtTheFirstOtherByteAndSaturates) {
    const std::vector<std::pair<std::string, int32_t>> cases = {
        {"1", 1},
        {"-7", -7},
        {"  +3x", 3},
        {"\t-2", -2},
        {"\n\v\f\r 9", 9},
        {"", 0},
        {"abc", 0},
        {"- 5", 0},
        {"+-5", 0},
        {"12 34", 12},
        {"007", 7},
        {"2147483647", 2147483647},
        {"2147483648", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"-2147483649", -2147483647 - 1},
        {"99999999999", 2147483647},
        {"-99999999999", -2147483647 - 1},
        // Longer than any 64-bit value: still saturated, not wrapped.
        {"184467440737095516170", 2147483647},
        {"-99999999999999999999999999", -2147483647 - 1},
        {std::string("4\0002", 3), 4},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(readInt32(text), value) << text;
}

TEST(Fields, UnsignedReadingTakesNoBlankNorSign) {
    const std::vector<std::pair<std::string, uint32_t>> cases = {
        {"0", 0},
        {"42|x", 42},
        {" 42", 0},
        {"+42", 0},
        {"-1", 0},
        {"", 0},
        {"4294967295", 4294967295u},
        {"4294967296", 4294967295u},
        {"99999999999999999999999", 4294967295u},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(readUint32(text), value) << text;
}

TEST(Fields, DigitRunGivesLengthWrappedAndSaturatedValues) {
    struct Case {
        std::string text;
        size_t length;
        uint64_t wrapped, saturated;
    };
    const std::vector<Case> cases = {
        {"", 0, 0, 0},
        {"x12", 0, 0, 0},
        {"123abc", 3, 123, 123},
        {"18446744073709551615", 20, UINT64_MAX, UINT64_MAX},
        // 2^64 and 2^64 + 5: wrap to 0 and 5, saturate at the top.
        {"18446744073709551616", 20, 0, UINT64_MAX},
        {"18446744073709551621;", 20, 5, UINT64_MAX},
        {"1844674407370955161500", 22, UINT64_MAX - 99, UINT64_MAX},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const DigitRun r = leadingDigits(c.text);
        EXPECT_EQ(r.length, c.length);
        EXPECT_EQ(r.wrapped, c.wrapped);
        EXPECT_EQ(r.saturated, c.saturated);
    }
}

TEST(Fields, BlanksAndOneSignAreSkipped) {
    bool negative = false;
    EXPECT_EQ(skipBlanksAndSign(" \t-12", &negative), "12");
    EXPECT_TRUE(negative);
    EXPECT_EQ(skipBlanksAndSign("+-1", &negative), "-1");
    EXPECT_FALSE(negative);
    EXPECT_EQ(skipBlanksAndSign("   ", &negative), "");
    EXPECT_FALSE(negative);
}

TEST(Fields, SplitSkipsEmptyFields) {
    const std::vector<std::string_view> want = {"a", "b c", "d"};
    EXPECT_EQ(splitFields("|a||b c|d|"), want);
    EXPECT_TRUE(splitFields("").empty());
    EXPECT_TRUE(splitFields("|||").empty());
}
}  // namespace
