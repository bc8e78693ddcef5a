#include "algo/spectral/sfp_fixed_math.h"

#include <array>

namespace {

constexpr std::array<uint32_t, 64> make_seeds()
{
    std::array<uint32_t, 64> seeds{};
    for (uint32_t i = 0; i < 64; ++i)
        seeds[i] = static_cast<uint32_t>((uint64_t{1} << 39) / (129u + 2u * i));
    return seeds;
}

constexpr std::array<uint32_t, 64> kSeeds = make_seeds();
static_assert(kSeeds[0] == 0xFE03F80Fu && kSeeds[63] == 0x80808080u, "reciprocal seeds");

uint32_t magnitude(int32_t a)
{
    return a < 0 ? 0u - static_cast<uint32_t>(a) : static_cast<uint32_t>(a);
}

} // namespace

int32_t sfp_mulhi(int32_t a, int32_t b)
{
    const uint64_t product = static_cast<uint64_t>(magnitude(a)) * magnitude(b);
    // At most 2^62 >> 32 = 2^30: the magnitude fits and can be negated.
    const int32_t high = static_cast<int32_t>(product >> 32);
    return (a < 0) != (b < 0) ? -high : high;
}

uint32_t sfp_umulhi(uint32_t a, uint32_t b)
{
    return static_cast<uint32_t>((static_cast<uint64_t>(a) * b) >> 32);
}

uint32_t sfp_leading_zeros(uint32_t a)
{
    return a == 0 ? 32u : static_cast<uint32_t>(__builtin_clz(a));
}

uint32_t sfp_reciprocal_seed(uint32_t index)
{
    return kSeeds[index & 63u];
}

uint32_t sfp_reciprocal(uint32_t a)
{
    uint32_t r = kSeeds[(a >> 25) & 63u];
    // r' = 2 r (1 - a r / 2^64) in 0.32 arithmetic: each step doubles the
    // number of correct bits.
    for (int step = 0; step < 3; ++step)
        r = 2u * sfp_umulhi(0u - sfp_umulhi(a, r), r);
    return r;
}

uint32_t sfp_isqrt(uint32_t a)
{
    // Restoring square root of the 62-bit value a x 2^30, two bits per step:
    // 16 steps take the argument's bit pairs, 15 more take zeros. The
    // remainder needs 33 bits, so it is kept in 64.
    uint64_t remainder = 0;
    uint32_t root = 0;
    for (int step = 0; step < 31; ++step) {
        const uint32_t pair = step < 16 ? (a >> (30 - 2 * step)) & 3u : 0u;
        remainder = (remainder << 2) | pair;
        const uint64_t trial = (static_cast<uint64_t>(root) << 2) | 1u;
        root <<= 1;
        if (remainder >= trial) {
            remainder -= trial;
            root |= 1u;
        }
    }
    return root;
}
