#include "engine/eng_g711.h"

#include <array>

namespace {

using ExpansionTable = std::array<int16_t, 256>;

// A G.711 code is a sign bit, a 3-bit segment and a 4-bit mantissa. Both laws
// decode a code to the middle of its quantisation interval, whose magnitude
// is (2 * mantissa + 33) << (segment + shift) for the upper segments.

// A-law: even bits inverted on the line (xor 0x55); segment 0 is linear with
// the same step as segment 1. Sign bit set means positive in G.711; the
// engine's table reverses it.
constexpr int16_t alaw_entry(unsigned code)
{
    const unsigned c = code ^ 0x55u;
    const unsigned segment = (c >> 4) & 7u;
    const unsigned mantissa = c & 0x0Fu;
    const int magnitude = segment == 0 ? static_cast<int>((2 * mantissa + 1) << 3)
                                       : static_cast<int>((2 * mantissa + 33) << (segment + 2));
    const bool g711_positive = (c & 0x80u) != 0;
    return static_cast<int16_t>(g711_positive ? -magnitude : magnitude);
}

// mu-law: all bits inverted on the line; the biased magnitude
// (2 * mantissa + 33) << (segment + 2) carries a bias of 132 that is removed.
// Sign bit clear (after inversion: set) means negative.
constexpr int16_t mulaw_entry(unsigned code)
{
    const unsigned c = ~code & 0xFFu;
    const unsigned segment = (c >> 4) & 7u;
    const unsigned mantissa = c & 0x0Fu;
    const int magnitude = static_cast<int>((2 * mantissa + 33) << (segment + 2)) - 132;
    return static_cast<int16_t>((c & 0x80u) ? -magnitude : magnitude);
}

template <int16_t (*Entry)(unsigned)>
constexpr ExpansionTable make_table()
{
    ExpansionTable table{};
    for (unsigned code = 0; code < 256; ++code)
        table[code] = Entry(code);
    return table;
}

constexpr ExpansionTable kAlaw = make_table<alaw_entry>();
constexpr ExpansionTable kMulaw = make_table<mulaw_entry>();

static_assert(kAlaw[0] == 5504 && kAlaw[0xD5] == -8, "A-law table is sign-reversed G.711");
static_assert(kMulaw[0] == -32124 && kMulaw[0x7F] == 0, "mu-law table is G.711");

} // namespace

const int16_t *eng_alaw_table(void)
{
    return kAlaw.data();
}

const int16_t *eng_mulaw_table(void)
{
    return kMulaw.data();
}
