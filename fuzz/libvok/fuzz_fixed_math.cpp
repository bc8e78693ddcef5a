// The spectral fingerprint's fixed-point helpers on any arguments, against
// exact 64- and 128-bit arithmetic:
//   mulhi(a, b)     the sign of a b times (|a| |b| >> 32), INT32_MIN included;
//   umulhi(a, b)    the high word of the unsigned 64-bit product;
//   leading zeros   32 - the bit length;
//   isqrt(a)        r with r^2 <= a 2^30 < (r + 1)^2;
//   reciprocal(a)   for a with its top bit set, within 2 of 2^63 / a. The
//                   bound is the exact worst case over all 2^31 arguments
//                   (-2 at a = 2^31, whose reciprocal 2^32 does not fit; the
//                   others stay below 2); three Newton steps from a 7-bit seed
//                   leave far more than the 31 bits this needs.
// Input: two 32-bit arguments (the reciprocal takes the first with its top
// bit set).
#include <cstdint>

#include "algo/spectral/sfp_fixed_math.h"
#include "fuzz/fuzz_support.h"

using fuzz_support::require;

// --- Adapter: the helpers as this target reaches them ---------------------------

namespace stage {

inline int32_t mulhi(int32_t a, int32_t b)
{
    return sfp_mulhi(a, b);
}
inline uint32_t umulhi(uint32_t a, uint32_t b)
{
    return sfp_umulhi(a, b);
}
inline uint32_t leading_zeros(uint32_t a)
{
    return sfp_leading_zeros(a);
}
inline uint32_t isqrt(uint32_t a)
{
    return sfp_isqrt(a);
}
inline uint32_t reciprocal(uint32_t a)
{
    return sfp_reciprocal(a);
}

} // namespace stage

namespace {

using u128 = unsigned __int128;

void check(uint32_t x, uint32_t y)
{
    const int32_t a = static_cast<int32_t>(x);
    const int32_t b = static_cast<int32_t>(y);
    const int64_t high = static_cast<int64_t>(
        (static_cast<u128>(a < 0 ? -int64_t{a} : a) * static_cast<u128>(b < 0 ? -int64_t{b} : b)) >>
        32);
    require(stage::mulhi(a, b) == ((a < 0) != (b < 0) ? -high : high), "mulhi");
    require(stage::umulhi(x, y) == static_cast<uint32_t>((uint64_t{x} * y) >> 32), "umulhi");

    uint32_t bits = 0;
    while (bits < 32 && (x >> bits) != 0)
        ++bits;
    require(stage::leading_zeros(x) == 32 - bits, "leading zeros");

    const u128 root = stage::isqrt(x);
    const u128 square = static_cast<u128>(x) << 30;
    require(root * root <= square && (root + 1) * (root + 1) > square, "isqrt is the floored root");

    // |r - 2^63 / a| <= 2, that is |r a - 2^63| <= 2 a.
    const uint32_t top = x | 0x80000000u;
    const __int128 error =
        static_cast<__int128>(stage::reciprocal(top)) * top - (static_cast<__int128>(1) << 63);
    require(error <= 2 * static_cast<__int128>(top) && error >= -2 * static_cast<__int128>(top),
            "reciprocal within 2 of 2^63 / a");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const uint32_t x = in.ConsumeIntegral<uint32_t>();
    check(x, in.ConsumeIntegral<uint32_t>());
    return 0;
}
