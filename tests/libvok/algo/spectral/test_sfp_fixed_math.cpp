// The integer variant's fixed-point operations against exact integer
// computations.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "algo/spectral/sfp_fixed_math.h"

namespace {

std::vector<int32_t> telling_signed()
{
    std::vector<int32_t> values = {0,
                                   1,
                                   -1,
                                   2,
                                   -2,
                                   65535,
                                   65536,
                                   -65536,
                                   INT32_MAX,
                                   INT32_MIN,
                                   INT32_MIN + 1,
                                   185363,
                                   1518500224,
                                   -1518500224};
    std::mt19937 random(7);
    for (int i = 0; i < 300; ++i)
        values.push_back(static_cast<int32_t>(random()));
    return values;
}

TEST(SfpFixedMath, MulhiIsTheTruncatedSignedHighWordOfTheMagnitudes)
{
    const std::vector<int32_t> values = telling_signed();
    for (int32_t a : values) {
        for (int32_t b : values) {
            const __int128 magnitude =
                (__int128)(a < 0 ? -(__int128)a : a) * (b < 0 ? -(__int128)b : b);
            const __int128 high = magnitude >> 32;
            const int64_t expected = static_cast<int64_t>((a < 0) != (b < 0) ? -high : high);
            ASSERT_EQ(expected, sfp_mulhi(a, b)) << a << " x " << b;
        }
    }
}

TEST(SfpFixedMath, UmulhiIsTheUnsignedHighWord)
{
    std::mt19937 random(11);
    for (int i = 0; i < 20000; ++i) {
        const uint32_t a = random();
        const uint32_t b = random();
        ASSERT_EQ(static_cast<uint32_t>((static_cast<unsigned __int128>(a) * b) >> 32),
                  sfp_umulhi(a, b));
    }
    EXPECT_EQ(0xFFFFFFFEu, sfp_umulhi(0xFFFFFFFFu, 0xFFFFFFFFu));
}

TEST(SfpFixedMath, LeadingZeros)
{
    EXPECT_EQ(32u, sfp_leading_zeros(0));
    for (uint32_t bit = 0; bit < 32; ++bit) {
        EXPECT_EQ(31 - bit, sfp_leading_zeros(1u << bit));
        EXPECT_EQ(31 - bit, sfp_leading_zeros((1u << bit) | ((1u << bit) - 1)));
    }
}

TEST(SfpFixedMath, ReciprocalSeedsAndAccuracy)
{
    EXPECT_EQ(0xFE03F80Fu, sfp_reciprocal_seed(0));
    EXPECT_EQ(0x80808080u, sfp_reciprocal_seed(63));
    for (uint32_t i = 0; i < 64; ++i)
        EXPECT_EQ(static_cast<uint32_t>((uint64_t{1} << 39) / (129 + 2 * i)),
                  sfp_reciprocal_seed(i));

    std::mt19937 random(3);
    std::vector<uint32_t> arguments = {0x80000000u, 0xFFFFFFFFu, 12u << 28, 11u << 28, 0xC0000001u};
    for (int i = 0; i < 20000; ++i)
        arguments.push_back(random() | 0x80000000u);
    for (uint32_t a : arguments) {
        // Three Newton steps from the seed leave a few units of the last
        // place.
        const double exact = std::ldexp(1.0, 63) / a;
        ASSERT_NEAR(exact, sfp_reciprocal(a), 8.0) << a;
    }
}

TEST(SfpFixedMath, ReciprocalGivesFourOverFForEightToFifteen)
{
    for (uint32_t f = 8; f <= 15; ++f) {
        const int32_t r = static_cast<int32_t>(sfp_reciprocal(f << 28) >> 1);
        for (int32_t x : {0, 1000, 123456789, 2000000000}) {
            const int64_t expected = int64_t{x} * 4 / f;
            EXPECT_NEAR(static_cast<double>(expected), sfp_mulhi(x, r), 1.0) << f << " " << x;
        }
    }
}

TEST(SfpFixedMath, IsqrtIsTheFlooredRootInQ15)
{
    std::mt19937 random(5);
    std::vector<uint32_t> arguments = {0, 1, 2, 3, 4, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 65536};
    for (int i = 0; i < 20000; ++i)
        arguments.push_back(random() >> (random() % 32));
    for (uint32_t a : arguments) {
        const unsigned __int128 square = static_cast<unsigned __int128>(a) << 30;
        const unsigned __int128 r = sfp_isqrt(a);
        ASSERT_LE(r * r, square) << a;
        ASSERT_GT((r + 1) * (r + 1), square) << a;
    }
    EXPECT_EQ(32768u, sfp_isqrt(1));
    EXPECT_EQ(65536u, sfp_isqrt(4));
}

TEST(SfpFixedMath, WrappingHelpersHaveNoUndefinedCases)
{
    EXPECT_EQ(INT32_MIN, eng_wrap_add(INT32_MAX, 1));
    EXPECT_EQ(INT32_MAX, eng_wrap_sub(INT32_MIN, 1));
    EXPECT_EQ(-16384, eng_wrap_shl(-1, 14));
    EXPECT_EQ(INT32_MIN, eng_wrap_shl(-256, 23));
    EXPECT_EQ(-1, eng_asr(-1, 16));
    EXPECT_EQ(-2, eng_asr(-3, 1));
    EXPECT_EQ(0x12345678, eng_low32(0x7FFFFFFF12345678LL));
}

} // namespace
