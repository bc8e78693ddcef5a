// The fingerprint from the frames held: per band the share of the overall
// level and the share of the level's variation, in both arithmetics.
//
// Frames of a steady sound have no variation of their own to share out;
// both arithmetics refuse them by the same rule (sfp_steady.cpp). Otherwise
// only a sum of levels or of spreads that is zero leaves nothing to share:
// then, too, the fingerprint cannot be computed and nothing is copied.
#include "algo/spectral/sfp_bands.h"
#include "algo/spectral/sfp_variant.h"

#include "algo/spectral/sfp_fixed_math.h"
#include "engine/eng_support.h"

namespace {

// Stores the low 16 bits of a value: 32768 keeps its bit pattern 0x8000.
int16_t to_int16_bits(int64_t value)
{
    const uint16_t bits = static_cast<uint16_t>(static_cast<uint64_t>(value) & 0xFFFFu);
    int16_t stored;
    eng_memcpy(&stored, &bits, sizeof stored);
    return stored;
}

bool finite(float x)
{
    return x - x == 0.0f;
}

// Shares of a sum of values >> 2: value / (sum >> 16) >> 3 is about 32768
// x value / (4 x sum). The truncated divisor costs up to 1/divisor of each
// share. From 128 on the form is kept as it is (fingerprints made so far
// stay the same); below, value << k is divided by sum >> (16 - k), k the
// fewest extra bits that make the divisor 128 or more (at most 16: then the
// sum itself), where the form used to give up, so that FileFixed decides
// like FileFloat. values < 2^31, so value << 16 < 2^47. Only a sum of 0 has
// no shares.
const uint64_t kSmallestDivisor = 128;

bool shares(const uint32_t *values, uint32_t count, uint64_t sum, int16_t *out)
{
    if (sum == 0)
        return false;
    uint32_t k = 0;
    while (k < 16 && (sum >> (16 - k)) < kSmallestDivisor)
        ++k;
    const uint64_t divisor = sum >> (16 - k);
    for (uint32_t b = 0; b < count; ++b)
        out[b] = to_int16_bits(static_cast<int64_t>(((uint64_t{values[b]} << k) / divisor) >> 3));
    return true;
}

// reciprocal(n << z) >> 1 for z the leading zeros of n: mulhi(x, that) is
// x x 4 / n for n from 8 to 15.
int32_t quarter_reciprocal(uint32_t n)
{
    return static_cast<int32_t>(sfp_reciprocal(n << sfp_leading_zeros(n)) >> 1);
}

} // namespace

uint8_t sfp_compute_result_float(BandStatistics *s)
{
    const uint32_t bands = s->bands;
    if (s->frames < 2 || sfp_frames_steady_float(s))
        return false;
    const float f = static_cast<float>(s->frames);
    float level[SFP_MAX_BANDS];
    float spread[SFP_MAX_BANDS];
    float level_sum = 0.0f;
    float spread_sum = 0.0f;
    for (uint32_t b = 0; b < bands; ++b) {
        float energy = 0.0f;
        float rms = 0.0f;
        for (const BandFrame *frame = s->first; frame; frame = frame->next) {
            energy += frame->energy.f[b];
            rms += frame->rms.f[b];
        }
        const float mean = rms / f;
        float variance = 0.0f;
        for (const BandFrame *frame = s->first; frame; frame = frame->next) {
            const float d = frame->rms.f[b] - mean;
            variance += d * d;
        }
        level[b] = static_cast<float>(eng_sqrt(energy / f));
        spread[b] = static_cast<float>(eng_sqrt(variance / (f - 1.0f)));
    }
    for (uint32_t b = 0; b < bands; ++b) {
        level_sum += level[b];
        spread_sum += spread[b];
    }
    if (!(level_sum > 0.0f) || !(spread_sum > 0.0f) || !finite(level_sum) || !finite(spread_sum))
        return false;
    const float scale = static_cast<float>(s->output_scale);
    for (uint32_t b = 0; b < bands; ++b) {
        s->result[b] = to_int16_bits(static_cast<int32_t>(scale * (level[b] / level_sum)));
        s->result[bands + b] =
            to_int16_bits(static_cast<int32_t>(scale * (spread[b] / spread_sum)));
    }
    return true;
}

uint8_t sfp_compute_result_fixed(BandStatistics *s)
{
    const uint32_t bands = s->bands;
    const uint32_t f = s->frames;
    // The reciprocals scale by 4 / n only for n from 8 to 15: both F and
    // F - 1 must lie there (the configured 12 frames do).
    if (f < 9 || f > 15 || sfp_frames_steady_fixed(s))
        return false;
    const int32_t r_frames = quarter_reciprocal(f);
    const int32_t r_spread = quarter_reciprocal(f - 1);
    uint32_t level[SFP_MAX_BANDS];
    int32_t half_mean[SFP_MAX_BANDS];
    uint64_t level_sum = 0;
    uint32_t largest = 0; // magnitude of the largest deviation
    for (uint32_t b = 0; b < bands; ++b) {
        int32_t energy = 0;
        int32_t rms = 0;
        for (const BandFrame *frame = s->first; frame; frame = frame->next) {
            energy = eng_wrap_add(energy, eng_asr(frame->energy.q[b], 2));
            rms = eng_wrap_add(rms, eng_asr(frame->rms.q[b], 3));
        }
        const int32_t mean_energy = sfp_mulhi(energy, r_frames);
        level[b] = sfp_isqrt(mean_energy > 0 ? static_cast<uint32_t>(mean_energy) : 0);
        half_mean[b] = sfp_mulhi(rms, r_frames);
        level_sum += level[b] >> 2;
        for (const BandFrame *frame = s->first; frame; frame = frame->next) {
            const int64_t d = int64_t{eng_asr(frame->rms.q[b], 1)} - half_mean[b];
            const uint64_t magnitude = static_cast<uint64_t>(d < 0 ? -d : d);
            if (magnitude > largest)
                largest = magnitude > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(magnitude);
        }
    }
    // Normalise the deviations to just below 2^30 (by at most 2^11).
    const uint32_t y = sfp_leading_zeros(largest);
    const uint32_t shift = y > 13 ? 11 : (y >= 2 ? y - 2 : 0);
    uint32_t spread[SFP_MAX_BANDS];
    uint64_t spread_sum = 0;
    for (uint32_t b = 0; b < bands; ++b) {
        // At most 15 terms below 2^28 each: the sum fits 32 unsigned bits.
        uint32_t variance = 0;
        for (const BandFrame *frame = s->first; frame; frame = frame->next) {
            const int64_t d = int64_t{eng_asr(frame->rms.q[b], 1)} - half_mean[b];
            const uint32_t magnitude = static_cast<uint32_t>(d < 0 ? -d : d) << shift;
            variance += sfp_umulhi(magnitude, magnitude);
        }
        spread[b] = sfp_isqrt(sfp_umulhi(variance, static_cast<uint32_t>(r_spread)));
        spread_sum += spread[b] >> 2;
    }
    return shares(level, bands, level_sum, s->result) &&
           shares(spread, bands, spread_sum, s->result + bands);
}

uint32_t sfp_result_size(const BandStatistics *s)
{
    return s ? s->bands * 4 : 0;
}

uint32_t sfp_get_result(BandStatistics *s, void *destination, uint32_t room)
{
    if (!s || !destination)
        return 0;
    if (!s->result_ready) {
        if (!s->variant->compute_result(s))
            return 0;
        s->result_ready = 1;
    }
    const uint32_t size = sfp_result_size(s);
    if (room < size)
        return 0;
    eng_memcpy(destination, s->result, size);
    return size;
}
