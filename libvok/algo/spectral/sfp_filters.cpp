// The resampler's filters: FileFloat's choice of L/M and its windowed-sinc
// design, the two stored filters, and FileFixed's rate table with its Q31
// coefficients derived from the same design.
#include "algo/spectral/sfp_resampler.h"

#include <cstdint>

#include "engine/eng_support.h"

namespace {

// h[43 + k] of the stored quarter-band filter, k = 0 to 40; the filter is
// symmetric about index 43. Stored data: fingerprints were computed with
// exactly these values.
const float kQuarterBandHalf[41] = {
    0.25f,
    0.224765062f,
    0.158268273f,
    0.0740885437f,
    9.52971705e-18f,
    -0.0434667654f,
    -0.0504389964f,
    -0.0300144814f,
    -8.90549513e-18f,
    0.0223066378f,
    0.0276298448f,
    0.0172321144f,
    7.9381926e-18f,
    -0.0135977166f,
    -0.0171612091f,
    -0.0108488658f,
    -6.72635812e-18f,
    0.0086932797f,
    0.0110058654f,
    0.00696229702f,
    5.38777805e-18f,
    -0.00555143738f,
    -0.00699136872f,
    -0.00439199572f,
    -4.04341434e-18f,
    0.0034363023f,
    0.00427606655f,
    0.00264958595f,
    2.80177571e-18f,
    -0.00200525485f,
    -0.00244615134f,
    -0.00148206949f,
    -1.74616897e-18f,
    0.00106240343f,
    0.00125383458f,
    0.000731163076f,
    9.26670381e-19f,
    -0.000475114532f,
    -0.000525457493f,
    -0.000282469584f,
    -3.57763421e-19f,
};

const uint32_t kQuarterLength = 84;
const uint32_t kQuarterCentre = 43;
const uint32_t kHalfLength = 42;
const uint32_t kHalfCentre = 21;

// The Q31 value of a coefficient, truncated toward zero.
int32_t to_q31(float value)
{
    const float scaled = value * 2147483648.0f;
    if (scaled >= 2147483647.0f)
        return INT32_MAX;
    if (scaled <= -2147483648.0f)
        return INT32_MIN;
    return static_cast<int32_t>(scaled);
}

struct StoredFilters {
    float quarter[kQuarterLength];
    float half[kHalfLength];
    // The same, newest tap last, as the resampler's polyphase layout wants.
    float quarter_layout[kQuarterLength];
    float half_layout[kHalfLength];

    StoredFilters()
    {
        for (uint32_t i = 0; i < kQuarterLength; ++i)
            quarter[i] = 0.0f;
        for (uint32_t k = 0; k <= 40; ++k) {
            quarter[kQuarterCentre + k] = kQuarterBandHalf[k];
            quarter[kQuarterCentre - k] = kQuarterBandHalf[k];
        }
        // The half-band filter takes every second quarter-band tap, doubled.
        for (uint32_t i = 0; i < kHalfLength; ++i)
            half[i] = 0.0f;
        for (uint32_t k = 0; k <= 20; ++k) {
            half[kHalfCentre + k] = 2.0f * kQuarterBandHalf[2 * k];
            half[kHalfCentre - k] = 2.0f * kQuarterBandHalf[2 * k];
        }
        for (uint32_t i = 0; i < kQuarterLength; ++i)
            quarter_layout[i] = quarter[kQuarterLength - 1 - i];
        for (uint32_t i = 0; i < kHalfLength; ++i)
            half_layout[i] = half[kHalfLength - 1 - i];
    }
};

const StoredFilters &stored_filters()
{
    static const StoredFilters filters;
    return filters;
}

struct RowLayout {
    uint32_t input_rate;
    uint32_t up;
    uint32_t down;
    uint32_t length;
    bool half_gain; // coefficients at half the design's gain
};

// Searched in this order. Row 0 is the pass-through for equal rates.
const RowLayout kRowLayouts[] = {
    {1, 1, 1, 0, false},
    {48000, 147, 640, 13377, false},
    {44100, 1, 4, kQuarterLength, false},
    {32000, 441, 1280, 26460, false},
    {24000, 147, 320, 6615, false},
    {22050, 1, 2, kHalfLength, false},
    {16000, 441, 640, 13230, false},
    // Upsampling by 441/320 has a gain above 1, which Q31 cannot hold.
    {8000, 441, 320, 9261, true},
};
const uint32_t kRowCount = sizeof kRowLayouts / sizeof kRowLayouts[0];
const uint32_t kFixedCoefficients = 13377 + 84 + 26460 + 6615 + 42 + 13230 + 9261;

struct FixedTables {
    int16_t high[kFixedCoefficients];
    uint16_t low[kFixedCoefficients];
    RateTableRow rows[kRowCount];
    SfpSymmetricFilter quarter;
    SfpSymmetricFilter half;

    FixedTables()
    {
        const StoredFilters &stored = stored_filters();
        uint32_t offset = 0;
        for (uint32_t r = 0; r < kRowCount; ++r) {
            const RowLayout &layout = kRowLayouts[r];
            RateTableRow &row = rows[r];
            row.input_rate = layout.input_rate;
            row.output_rate = layout.input_rate == 1 ? 1 : 11025;
            row.up = layout.up;
            row.down = layout.down;
            row.length = layout.length;
            row.coefficients_high = high + offset;
            row.coefficients_low = low + offset;
            if (layout.length == 0)
                continue;
            SfpFilterShape shape = {};
            const bool designed = layout.up > 1;
            if (designed)
                sfp_filter_shape(layout.up, layout.down, &shape);
            const float *table = layout.length == kQuarterLength ? stored.quarter : stored.half;
            const uint32_t k = layout.length / layout.up;
            for (uint32_t phase = 0; phase < layout.up; ++phase) {
                for (uint32_t i = 0; i < k; ++i) {
                    const uint32_t index = phase + (k - 1 - i) * layout.up;
                    float h = designed ? sfp_filter_tap(&shape, index) : table[index];
                    if (layout.half_gain)
                        h *= 0.5f;
                    const int32_t q = to_q31(h);
                    high[offset + phase * k + i] = static_cast<int16_t>(q >> 16);
                    low[offset + phase * k + i] = static_cast<uint16_t>(q & 0xFFFF);
                }
            }
            offset += layout.length;
        }
        make_symmetric(&quarter, stored.quarter, kQuarterLength, kQuarterCentre);
        make_symmetric(&half, stored.half, kHalfLength, kHalfCentre);
    }

    static void make_symmetric(SfpSymmetricFilter *filter, const float *table, uint32_t length,
                               uint32_t centre)
    {
        filter->centre = centre;
        const int32_t middle = to_q31(table[centre]);
        filter->centre_high = static_cast<int16_t>(middle >> 16);
        filter->centre_low = static_cast<uint16_t>(middle & 0xFFFF);
        filter->pairs = 0;
        for (uint32_t k = 1; centre + k < length && k <= centre; ++k) {
            const int32_t q = to_q31(table[centre + k]);
            if (q == 0)
                continue; // the filter's zero taps cost nothing
            filter->offset[filter->pairs] = k;
            filter->high[filter->pairs] = static_cast<int16_t>(q >> 16);
            filter->low[filter->pairs] = static_cast<uint16_t>(q & 0xFFFF);
            ++filter->pairs;
        }
    }
};

} // namespace

uint8_t sfp_choose_factors(double input_rate, double output_rate, uint32_t *up, uint32_t *down)
{
    if (!(input_rate != 0.0) || !(output_rate != 0.0) || !up || !down)
        return 0;
    const double x = output_rate / input_rate;
    const double tolerance = eng_fabs(x * 1e-6);
    const double sign = x < 0 ? -1.0 : 1.0;
    const double magnitude = eng_fabs(x);
    double p = 0.0;
    double q = 0.0;
    if (eng_fabs(magnitude - 1.0) < tolerance) {
        p = sign;
        q = 1.0;
    } else if (magnitude < tolerance) {
        return 0; // 0/0: no resampler can be made
    } else {
        // Nearest-integer continued fraction: convergents P/Q until the
        // remainder vanishes or P/Q is within the tolerance.
        double p2 = 0.0, p1 = 1.0, q2 = 1.0, q1 = 0.0;
        double y = x;
        for (int step = 0; step < 64; ++step) {
            const double a = eng_floor(y + 0.5);
            y -= a;
            p = a * p1 + p2;
            q = a * q1 + q2;
            p2 = p1;
            p1 = p;
            q2 = q1;
            q1 = q;
            if (y == 0.0 || eng_fabs(p / q - magnitude) < tolerance)
                break;
            y = 1.0 / y;
        }
        p *= sign;
    }
    if (q < 0) {
        p = -p;
        q = -q;
    }
    // Only a positive fraction of sensible size makes a resampler.
    if (!(p >= 1.0 && q >= 1.0 && p < 4294967296.0 && q < 4294967296.0))
        return 0;
    *up = static_cast<uint32_t>(p);
    *down = static_cast<uint32_t>(q);
    return 1;
}

uint8_t sfp_filter_shape(uint32_t up, uint32_t down, SfpFilterShape *shape)
{
    if (!shape || up == 0 || down == 0)
        return 0;
    const uint64_t l = up;
    const uint64_t m_down = down;
    const uint64_t m = l > m_down ? l : m_down;
    const uint64_t taps = 20 * m + 1;
    uint64_t leading;
    if (l < m_down) {
        leading = m_down - l;
    } else {
        // (3M - (b/2 mod M) - L) mod M, taken as a non-negative remainder.
        const int64_t value = static_cast<int64_t>(3 * m_down) -
                              static_cast<int64_t>((taps / 2) % m_down) - static_cast<int64_t>(l);
        const int64_t modulus = static_cast<int64_t>(m_down);
        leading = static_cast<uint64_t>(((value % modulus) + modulus) % modulus);
    }
    const uint64_t length = l + leading + taps - ((leading + taps) % l);
    if (length > (uint64_t{1} << 24))
        return 0;
    shape->up = up;
    shape->down = down;
    shape->half_width = static_cast<uint32_t>(m);
    shape->taps = static_cast<uint32_t>(taps);
    shape->leading = static_cast<uint32_t>(leading);
    shape->length = static_cast<uint32_t>(length);
    shape->per_phase = static_cast<uint32_t>(length / l);
    shape->gain = static_cast<float>(up) / static_cast<float>(down);
    return 1;
}

float sfp_filter_tap(const SfpFilterShape *shape, uint32_t index)
{
    if (index < shape->leading || index - shape->leading >= shape->taps)
        return 0.0f;
    const uint32_t m = shape->half_width;
    const uint32_t position = index - shape->leading;
    if (position == 10 * m)
        return shape->gain;
    // Hamming-windowed sinc, symmetric about the centre tap 10m; all in
    // single precision.
    const uint32_t j = position < 10 * m ? position : shape->taps - 1 - position;
    const float pi = static_cast<float>(ENG_PI);
    const float two_pi = static_cast<float>(2.0 * ENG_PI);
    const float u = (pi / static_cast<float>(m)) *
                    static_cast<float>(static_cast<int64_t>(j) - static_cast<int64_t>(10 * m));
    const float angle = two_pi * static_cast<float>(j) / static_cast<float>(20 * m);
    const float window = 0.54f - 0.46f * static_cast<float>(eng_cos(angle));
    const float sinc = static_cast<float>(eng_sin(u)) / u;
    return window * shape->gain * sinc;
}

const float *sfp_quarter_band_filter(void)
{
    return stored_filters().quarter;
}

const float *sfp_half_band_filter(void)
{
    return stored_filters().half;
}

const float *sfp_stored_filter_layout(uint32_t down)
{
    if (down == 4)
        return stored_filters().quarter_layout;
    if (down == 2)
        return stored_filters().half_layout;
    return nullptr;
}

uint32_t sfp_fixed_rate_count(void)
{
    return kRowCount;
}

namespace {

const FixedTables &fixed_tables()
{
    // Built by the first caller; C++ makes the construction thread-safe.
    static const FixedTables tables;
    return tables;
}

} // namespace

const RateTableRow *sfp_fixed_rate_row(uint32_t index)
{
    return index < kRowCount ? &fixed_tables().rows[index] : nullptr;
}

const SfpSymmetricFilter *sfp_fixed_symmetric_filter(uint32_t down)
{
    if (down == 4)
        return &fixed_tables().quarter;
    if (down == 2)
        return &fixed_tables().half;
    return nullptr;
}
