// The spectral fingerprint's frame path, fed directly: any frame of 32768
// samples (FileFixed's scale, FileFloat's being 2^-14 of it), handed over as
// two pieces of the framing ring cut where the input chooses, through both
// equalisations, both cosine transforms and both band measurements. The
// float transform takes FileFixed's ranks (on its own scale), so that the
// two transforms are compared on one input.
//
// Checks:
// - equalisation (either variant) keeps the order of the samples (a larger
//   sample never gets a smaller rank, equal samples equal ranks); a frame
//   of little range is copied as it is (FileFixed: half-range 8192 or less,
//   FileFloat: range 1 or less); FileFixed's ranks lie within +-2^30 and
//   sum to exactly 0, FileFloat's within +-1;
// - the integer transform, traced here step by step in 64 bits on the same
//   table and shifts, gives the engine's result, and no sum or product it
//   stores reaches 2^31 in magnitude;
// - the integer transform is the float one times 2^15 within 2^15, one unit
//   of FileFloat: 2^-14 of the largest coefficient (N / 2), and 4 times the
//   worst a directed search found (0.25, at X[1] of square waves whose
//   roundings line up);
// - each band's FileFixed energy is not negative (its 32 bits do not wrap)
//   and its rms is FileFloat's times 2^18 within the transforms' difference
//   plus the measurements' own rounding;
// - FileFixed's mean-square frequency of the frame (before equalisation) is
//   the ratio of its two weighted sums over the samples >> 10, computed here
//   exactly, in Q28 within 1.25 units (and 2^-30 of it); so it stays below
//   6 x 2^28 (a difference squared is at most twice the two squares).
// The transform's range claims hold for its input: ranks, or a copied frame
// of resampled samples, which stay below 1.86 x 2^30 (the largest sum of |h|
// of a resampling phase times the largest converted sample, 2^30); copied
// frames beyond that (arbitrary int32 values) are run but not judged.
//
// Input: the choices from the back, the frame's pattern from the front
// (fuzz_support.h).
#include <algorithm>
#include <cmath>
#include <cstring>

#include "algo/spectral/sfp_bands.h"
#include "algo/spectral/sfp_equalise.h"
#include "fuzz/fuzz_support.h"

using fuzz_support::require;

// --- Adapter: the stages as this target reaches them ------------------------------

namespace stage {

constexpr uint32_t kSize = 32768;
constexpr uint32_t kBins = 256;
constexpr int32_t kFlatHalfRange = 8192;

// Band statistics of each variant, for the band table and the float plan.
BandStatistics *statistics(uint32_t variant)
{
    static BandStatistics *made[2];
    BandStatistics *&s = made[variant - 1];
    if (!s) {
        const bool fixed = variant == SFP_VARIANT_FIXED;
        const BandConfig config = {variant,
                                   15,
                                   kBins,
                                   12,
                                   0,
                                   32768,
                                   SFP_BAND_EDGES,
                                   fixed ? static_cast<const void *>(sfp_band_edges_index())
                                         : static_cast<const void *>(sfp_band_edges_hz()),
                                   kFlatHalfRange};
        s = sfp_bands_create(&config);
        require(s != nullptr, "band statistics created");
    }
    return s;
}

void equalise_fixed(const int32_t *first, uint32_t first_count, const int32_t *second,
                    uint32_t second_count, int32_t *frame)
{
    static uint32_t histogram[kBins + 1];
    sfp_equalise_fixed(first, first_count, second, second_count, frame, kSize, histogram, kBins,
                       kFlatHalfRange);
}

void equalise_float(const float *first, uint32_t first_count, const float *second,
                    uint32_t second_count, float *frame)
{
    static uint32_t histogram[kBins];
    sfp_equalise_float(first, first_count, second, second_count, frame, kSize, histogram, kBins);
}

const CosineTransform *fixed_plan()
{
    return sfp_dct_fixed_plan(15);
}
void dct_fixed(int32_t *v)
{
    sfp_dct_fixed(fixed_plan(), v);
}
void dct_float(float *v)
{
    sfp_dct_float(statistics(SFP_VARIANT_FLOAT)->transform, v);
}
const int32_t *table()
{
    return fixed_plan()->table_fixed;
}
uint32_t stage_shift(uint32_t s)
{
    return sfp_dct_fixed_stage_shift(s);
}

uint32_t bands()
{
    return statistics(SFP_VARIANT_FIXED)->bands;
}
void measure_fixed(const int32_t *x, BandFrame *frame)
{
    sfp_bands_measure_fixed(statistics(SFP_VARIANT_FIXED), x, frame);
}
void measure_float(const float *x, BandFrame *frame)
{
    sfp_bands_measure_float(statistics(SFP_VARIANT_FLOAT), x, frame);
}
uint32_t frequency_fixed(const int32_t *first, uint32_t first_count, const int32_t *second,
                         uint32_t second_count)
{
    return sfp_frame_frequency_fixed(first, first_count, second, second_count, kSize);
}

} // namespace stage

namespace {

using stage::kSize;
constexpr int kLog2 = 15;

// Resampled FileFixed samples stay below 1.86 x 2^30.
constexpr int64_t kLargestSample = (int64_t{1} << 31) - (int64_t{1} << 27);

// Rounded right shift as the transform takes it: half up.
FUZZ_UNTRACED inline int64_t rounded(int64_t v, uint32_t shift)
{
    return shift == 0 ? v : (v + (int64_t{1} << (shift - 1))) >> shift;
}

// A value the transform stores in 32 bits, wrapped as the engine wraps it;
// its magnitude joins the largest seen.
FUZZ_UNTRACED inline int64_t stored(int64_t v, uint64_t &largest)
{
    const uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    largest = magnitude > largest ? magnitude : largest;
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v)));
}

// reverse[i]: the 15 bits of i in reverse order; reverse[i] >> 1 reverses
// the 14 bits of i < 2^14.
FUZZ_UNTRACED const std::vector<uint32_t> &reverse()
{
    static const std::vector<uint32_t> table = [] {
        std::vector<uint32_t> r(kSize);
        for (uint32_t i = 0; i < kSize; ++i)
            for (int b = 0; b < kLog2; ++b)
                r[i] |= ((i >> b) & 1u) << (kLog2 - 1 - b);
        return r;
    }();
    return table;
}

// The integer transform step by step in 64 bits: the input reordered (bit
// reversal of the whole, then of each half, then the second half
// reversed), the butterfly stages (sum and difference times the table,
// each shifted by the stage's own amounts), a bit reversal, the
// post-additions X[2k+1] = H[k] + H[k+1] level by level, and X[0] over
// sqrt(2) in Q31.
FUZZ_UNTRACED const std::vector<int64_t> &traced_dct(const int32_t *x, bool judged)
{
    static std::vector<int64_t> after_stages(kSize), out(kSize);
    const uint32_t *rev = reverse().data();
    const int32_t *table = stage::table();
    int64_t *v = after_stages.data();
    int64_t *a = out.data();
    const uint32_t n = kSize;
    const uint32_t half = n / 2;
    uint64_t largest = 0;
    for (uint32_t i = 0; i < n; ++i)
        a[i] = x[rev[i]];
    for (uint32_t i = 0; i < half; ++i) {
        v[i] = a[rev[i] >> 1];
        v[n - 1 - i] = a[half + (rev[i] >> 1)];
    }
    for (int s = 0; s < kLog2; ++s) {
        const uint32_t w = n >> (s + 1);
        const uint32_t shift = stage::stage_shift(static_cast<uint32_t>(s));
        const uint32_t product_shift = 32 - static_cast<uint32_t>(kLog2 - s) + shift;
        for (uint32_t base = 0; base < n; base += 2 * w) {
            for (uint32_t j = 0; j < w; ++j) {
                const int64_t lo = v[base + j];
                const int64_t hi = v[base + j + w];
                v[base + j] = stored(rounded(lo + hi, shift), largest);
                v[base + j + w] = stored(rounded((lo - hi) * table[w + j], product_shift), largest);
            }
        }
    }
    for (uint32_t i = 0; i < n; ++i)
        a[i] = v[rev[i]];
    for (int u = 0; u + 2 <= kLog2; ++u) {
        const uint32_t h = n >> (u + 1);
        const uint32_t e = h / 2;
        for (uint32_t m = 0; m + 2 <= (2u << u); ++m)
            for (uint32_t j = 0; j < e; ++j)
                a[e + j + m * h] = stored(a[e + j + m * h] + a[e + j + (m + 1) * h], largest);
    }
    const int64_t inverse_sqrt2 = std::llround(std::ldexp(1.0, 31) / std::sqrt(2.0));
    a[0] = stored(rounded(a[0] * inverse_sqrt2, 31), largest);
    require(!judged || largest < (uint64_t{1} << 31), "transform values below 2^31");
    return out;
}

// The sample indices in increasing order of their values (a radix sort
// on two 16-bit digits, stable, so equal values keep index order).
FUZZ_UNTRACED const std::vector<uint32_t> &sorted_order(const std::vector<int32_t> &x)
{
    static std::vector<uint32_t> order(kSize), next(kSize), start(65537);
    for (uint32_t i = 0; i < kSize; ++i)
        order[i] = i;
    for (uint32_t shift = 0; shift < 32; shift += 16) {
        std::fill(start.begin(), start.end(), 0u);
        for (uint32_t i = 0; i < kSize; ++i)
            ++start[(((static_cast<uint32_t>(x[i]) ^ 0x80000000u) >> shift) & 0xFFFFu) + 1];
        for (uint32_t d = 0; d < 65536; ++d)
            start[d + 1] += start[d];
        for (uint32_t k = 0; k < kSize; ++k) {
            const uint32_t i = order[k];
            next[start[((static_cast<uint32_t>(x[i]) ^ 0x80000000u) >> shift) & 0xFFFFu]++] = i;
        }
        order.swap(next);
    }
    return order;
}

// A rank transform: along the samples in increasing order the ranks never
// fall, and equal samples have equal ranks.
template <class Rank>
FUZZ_UNTRACED void check_order(const std::vector<uint32_t> &order, const int32_t *x,
                               const Rank *rank)
{
    for (size_t k = 1; k < order.size(); ++k) {
        const uint32_t i = order[k - 1];
        const uint32_t j = order[k];
        require(x[i] == x[j] ? rank[i] == rank[j] : rank[i] <= rank[j],
                "equalisation keeps the order of the samples");
    }
}

// One frame's buffers, kept from input to input.
struct Frame {
    std::vector<int32_t> x, ring, q;
    std::vector<float> ring_float, f, g;
    int32_t low, high;
};

// The samples as the framing ring holds them from start: the frame is
// ring[start ...] then ring[0 ... start - 1].
FUZZ_UNTRACED void lay_out(Frame &frame, uint32_t start)
{
    frame.ring.resize(kSize);
    frame.ring_float.resize(kSize);
    frame.low = INT32_MAX;
    frame.high = INT32_MIN;
    for (uint32_t k = 0; k < kSize; ++k) {
        const int32_t v = frame.x[k];
        frame.ring[(start + k) % kSize] = v;
        frame.ring_float[(start + k) % kSize] = std::ldexp(static_cast<float>(v), -14);
        frame.low = std::min(frame.low, v);
        frame.high = std::max(frame.high, v);
    }
}

// The ranks on FileFloat's scale: 2^-30 of FileFixed's.
FUZZ_UNTRACED void to_float(const std::vector<int32_t> &q, std::vector<float> &g)
{
    g.resize(q.size());
    for (size_t k = 0; k < q.size(); ++k)
        g[k] = static_cast<float>(std::ldexp(static_cast<double>(q[k]), -30));
}

FUZZ_UNTRACED void check_equalised(const Frame &frame, bool flat)
{
    const std::vector<uint32_t> &order = sorted_order(frame.x);
    check_order(order, frame.x.data(), frame.q.data());
    check_order(order, frame.x.data(), frame.f.data());
    if (flat) {
        require(frame.q == frame.x, "FileFixed copies a flat frame");
    } else {
        int64_t sum = 0;
        for (int32_t v : frame.q) {
            require(v >= -(1 << 30) && v <= (1 << 30), "FileFixed ranks within 2^30");
            sum += v;
        }
        require(sum == 0, "FileFixed ranks centred");
    }
    const float range = std::ldexp(static_cast<float>(frame.high), -14) -
                        std::ldexp(static_cast<float>(frame.low), -14);
    for (uint32_t k = 0; k < kSize; ++k)
        require(range > 1.0f ? std::fabs(frame.f[k]) <= 1.0f
                             : frame.f[k] == std::ldexp(static_cast<float>(frame.x[k]), -14),
                "FileFloat ranks within 1, a flat frame copied");
}

FUZZ_UNTRACED void check_transforms(const Frame &frame, const std::vector<int64_t> &traced,
                                    bool judged)
{
    for (uint32_t k = 0; k < kSize; ++k) {
        require(traced[k] == frame.q[k], "the integer transform as traced");
        require(!judged ||
                    std::fabs(std::ldexp(static_cast<double>(frame.q[k]), -15) - frame.g[k]) <= 1.0,
                "the integer transform is the float one times 2^15 within 2^15");
    }
}

// sum w (v[n] - v[n-1])^2 / sum w v[n]^2 for v = x >> 10, with the
// triangular weights w = n + 1 up to the middle and count - n after it, the
// change term of n weighted as sample n - 1; exact, in Q28.
FUZZ_UNTRACED void check_frequency(const std::vector<int32_t> &x, uint32_t q)
{
    using u128 = unsigned __int128;
    const uint32_t half = (kSize + 1) / 2;
    auto weight = [&](uint32_t n) { return n < half ? n + 1 : kSize - n; };
    u128 power = 0;
    u128 change = 0;
    for (uint32_t n = 0; n < kSize; ++n) {
        const int64_t v = x[n] >> 10;
        power += static_cast<u128>(weight(n)) * static_cast<uint64_t>(v * v);
        if (n > 0) {
            const int64_t d = v - (x[n - 1] >> 10);
            change += static_cast<u128>(weight(n - 1)) * static_cast<uint64_t>(d * d);
        }
    }
    const double exact =
        power == 0 ? 0.0 : std::ldexp(static_cast<double>(change) / static_cast<double>(power), 28);
    // The sums are taken to 32 bits, the power to at least 31 (dropping the
    // rest costs 2^28 / 2^31 = 1/8 unit at most), and the quotient rounds
    // down.
    require(std::fabs(q - exact) <= 1.25 + std::ldexp(exact, -30),
            "FileFixed's frame frequency is the ratio of its sums");
}

FUZZ_UNTRACED void check_bands(const BandFrame &fixed, const BandFrame &floating, bool judged)
{
    for (uint32_t b = 0; b < stage::bands(); ++b) {
        require(fixed.energy.q[b] >= 0, "band energy within 31 bits");
        // The transforms differ by at most 1 per coefficient, so their rms
        // by at most 1; FileFixed's truncations (each square >> 16, the sum
        // >> 16, the weighted mean's high word) take at most 2^-2 more, and
        // FileFloat's single-precision sum a relative 2^-12 (2260 terms).
        const double rms = floating.rms.f[b];
        require(!judged || std::fabs(std::ldexp(fixed.rms.q[b], -18) - rms) <= 1.25 + rms / 4096,
                "FileFixed band rms is FileFloat's times 2^18");
    }
}

} // namespace

FUZZ_STARTS_THE_ENGINE

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Frame frame;
    FuzzedDataProvider in(data, size);
    const uint32_t start = in.ConsumeIntegralInRange<uint32_t>(0, kSize - 1);
    frame.x.resize(kSize);
    fuzz_support::Signal(in).fill(frame.x.data(), kSize);
    lay_out(frame, start);

    // Equalisation of each variant, from the two pieces of the ring.
    const uint32_t first = kSize - start;
    frame.q.resize(kSize);
    frame.f.resize(kSize);
    stage::equalise_fixed(frame.ring.data() + start, first, frame.ring.data(), start,
                          frame.q.data());
    stage::equalise_float(frame.ring_float.data() + start, first, frame.ring_float.data(), start,
                          frame.f.data());
    const bool flat = (frame.high >> 1) - (frame.low >> 1) <= stage::kFlatHalfRange;
    check_equalised(frame, flat);
    check_frequency(frame.x, stage::frequency_fixed(frame.ring.data() + start, first,
                                                    frame.ring.data(), start));

    // The integer transform against its trace and the float transform, on
    // the same equalised frame.
    const bool judged =
        !flat || std::max(-int64_t{frame.low}, int64_t{frame.high}) <= kLargestSample;
    const std::vector<int64_t> &traced = traced_dct(frame.q.data(), judged);
    to_float(frame.q, frame.g);
    stage::dct_fixed(frame.q.data());
    stage::dct_float(frame.g.data());
    check_transforms(frame, traced, judged);

    BandFrame fixed_bands;
    BandFrame float_bands;
    stage::measure_fixed(frame.q.data(), &fixed_bands);
    stage::measure_float(frame.g.data(), &float_bands);
    check_bands(fixed_bands, float_bands, judged);
    return 0;
}
