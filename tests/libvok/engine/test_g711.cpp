// The companded-sample tables against a G.711 expansion written here from
// the recommendation's description: a code is a sign bit, a 3-bit segment
// and a 4-bit mantissa; the decoded value is the middle of the quantisation
// interval.
#include <gtest/gtest.h>

#include "engine/eng_g711.h"

namespace {

// A-law, G.711 table 1a, in 16-bit linear units: even bits inverted on the
// line; segment 0 spans [0, 256) in steps of 16, segment s >= 1 spans
// [256 << (s - 1), 512 << (s - 1)) in steps of 16 << (s - 1); a code decodes
// to the middle of its step. Sign bit set means positive.
int g711_alaw(unsigned code)
{
    const unsigned c = code ^ 0x55;
    const unsigned segment = (c >> 4) & 7;
    const int mantissa = static_cast<int>(c & 15);
    const int start = segment == 0 ? 0 : 256 << (segment - 1);
    const int step = segment == 0 ? 16 : 16 << (segment - 1);
    const int value = start + mantissa * step + step / 2;
    return (c & 0x80) ? value : -value;
}

// mu-law, G.711 table 2a, in 14-bit units: all bits inverted on the line;
// segment s starts at 33 * (2^s - 1) and has steps of 2^(s + 1); the decoder
// output of a code is the start of its step. The 16-bit value is four times
// the 14-bit one. Sign bit (after inversion) set means negative.
int g711_mulaw(unsigned code)
{
    const unsigned c = ~code & 0xFF;
    const unsigned segment = (c >> 4) & 7;
    const int mantissa = static_cast<int>(c & 15);
    const int value14 = 33 * ((1 << segment) - 1) + mantissa * (2 << segment);
    const int value = 4 * value14;
    return (c & 0x80) ? -value : value;
}

TEST(G711, AlawTableIsTheSignReversedExpansion)
{
    const int16_t *table = eng_alaw_table();
    for (unsigned code = 0; code < 256; ++code)
        EXPECT_EQ(0, table[code] + g711_alaw(code)) << "code " << code;
}

TEST(G711, MulawTableIsTheExpansion)
{
    const int16_t *table = eng_mulaw_table();
    for (unsigned code = 0; code < 256; ++code)
        EXPECT_EQ(g711_mulaw(code), table[code]) << "code " << code;
}

TEST(G711, TellingEntries)
{
    const int16_t *a = eng_alaw_table();
    const int16_t *u = eng_mulaw_table();
    const struct {
        unsigned code;
        int alaw, mulaw;
    } cases[] = {{0, 5504, -32124},   {1, 5248, -31100}, {85, 8, -716}, {127, 848, 0},
                 {128, -5504, 32124}, {213, -8, 716},    {255, -848, 0}};
    for (const auto &c : cases) {
        EXPECT_EQ(c.alaw, a[c.code]) << "A-law code " << c.code;
        EXPECT_EQ(c.mulaw, u[c.code]) << "mu-law code " << c.code;
    }
}

} // namespace
