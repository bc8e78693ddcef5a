#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "engine/eng_support.h"
#include <vok/eng_types.h>

namespace {

TEST(SampleTypeBits, EightOrSixteenForKnownTypesZeroOtherwise)
{
    const struct {
        SampleType type;
        uint32_t bits;
    } cases[] = {{0, 0}, {1, 8}, {2, 16}, {3, 8}, {4, 8}, {5, 0}, {-1, 0}};
    for (const auto &c : cases)
        EXPECT_EQ(c.bits, eng_sample_type_bits(c.type)) << "type " << c.type;
}

TEST(BoundedPrint, TerminatesOnlyWhenAPositionRemains)
{
    char array[8];
    std::memset(array, '#', sizeof array);
    EXPECT_EQ(3, eng_snprintf(array, sizeof array, "%d", 123));
    EXPECT_STREQ("123", array);

    // Exactly as long as the array: all characters, no terminator.
    std::memset(array, '#', sizeof array);
    EXPECT_EQ(4, eng_snprintf(array, 4, "%s", "abcd"));
    EXPECT_EQ(0, std::memcmp(array, "abcd#", 5));

    // Longer: what fits is written, the answer is negative.
    std::memset(array, '#', sizeof array);
    EXPECT_LT(eng_snprintf(array, 4, "%s", "abcdef"), 0);
    EXPECT_EQ(0, std::memcmp(array, "abcd#", 5));

    EXPECT_EQ(0, eng_snprintf(array, 0, "%s", ""));
    EXPECT_LT(eng_snprintf(array, 0, "%s", "a"), 0);
}

TEST(BoundedPrint, LongTextThatDoesNotFit)
{
    std::string long_text(1000, 'z');
    char array[600];
    EXPECT_LT(eng_snprintf(array, sizeof array, "%s", long_text.c_str()), 0);
    EXPECT_EQ(std::string(600, 'z'), std::string(array, sizeof array));
}

TEST(ByteRoutines, CopyHandlesOverlapBothWays)
{
    char text[] = "abcdefgh";
    eng_memcpy(text + 2, text, 5);
    EXPECT_STREQ("ababcdeh", text);
    char back[] = "abcdefgh";
    eng_memcpy(back, back + 3, 5);
    EXPECT_STREQ("defghfgh", back);
}

TEST(ByteRoutines, SetUsesTheLowByte)
{
    unsigned char bytes[4] = {0, 0, 0, 0};
    eng_memset(bytes, static_cast<int16_t>(0x1234), 3);
    EXPECT_EQ(0x34, bytes[0]);
    EXPECT_EQ(0x34, bytes[2]);
    EXPECT_EQ(0x00, bytes[3]);
}

TEST(StringRoutines, SearchLengthAndConversion)
{
    const char *text = "a/b";
    EXPECT_EQ(text + 1, eng_strchr(text, '/'));
    EXPECT_EQ(text + 3, eng_strchr(text, 0)) << "the terminator can be found";
    EXPECT_EQ(text + 1, eng_strchr(text, static_cast<int16_t>(0x0100 | '/')));
    EXPECT_EQ(nullptr, eng_strchr(text, 'z'));
    EXPECT_EQ(3u, eng_strlen(text));

    char *end = nullptr;
    EXPECT_EQ(255, eng_strtol("ff!", &end, 16));
    EXPECT_EQ('!', *end);
    EXPECT_EQ(-42, eng_atoi("  -42x"));
    EXPECT_EQ(INT32_MAX, eng_atoi("99999999999")) << "saturates like a 32-bit conversion";
    EXPECT_EQ(INT32_MIN, eng_atoi("-99999999999"));
    EXPECT_EQ(0, eng_atoi("x"));
}

TEST(MathRoutines, PassThrough)
{
    EXPECT_DOUBLE_EQ(3.0, eng_sqrt(9.0));
    EXPECT_DOUBLE_EQ(std::sin(0.5), eng_sin(0.5));
    EXPECT_DOUBLE_EQ(std::cos(0.5), eng_cos(0.5));
    EXPECT_DOUBLE_EQ(2.5, eng_fabs(-2.5));
    EXPECT_DOUBLE_EQ(-3.0, eng_floor(-2.5));
}

} // namespace
