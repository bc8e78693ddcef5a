// Steadiness of the sound over the fingerprint's frames.
//
// The second half of the fingerprint says how each band's level varies over
// the frames. A sound that does not change (a sine, a square wave, any fixed
// tone mix) has no such variation of its own: what its frames show is how
// the frame edges happen to cut its periods and how the 256-bin
// equalisation happens to round it, which the smallest change of the input
// rearranges (the spread shares of a steady 5 kHz sine move by up to 140 of
// 32768 when the input changes by one unit). Measured on the fingerprint's
// own band levels, these artefacts are as large as the honest variation of
// white noise (their spread sum reaches 0.25 of the summed band means at
// band edges, white noise gives 0.02), so they cannot tell the two apart.
//
// What does tell them apart is a property of the resampled frame before it
// is equalised: its mean-square frequency m = sum w (x[n+1] - x[n])^2 /
// sum w x[n]^2 (rad^2 per sample^2, between 0 and 4), with triangular
// weights w that fade both frame edges out. The weights make m of a
// periodic sound independent of where the frame starts, to within about
// (period / frame)^2, and the ratio makes it independent of the level.
// Measured as the standard deviation of m over the 12 frames divided by its
// mean: pure sines from 50 Hz to 5.4 kHz at any level and input rate stay
// below 3e-5, square and sawtooth waves below 2.5e-4 (a 100 Hz square with
// one-sample jitter), a sine with noise 60 dB below it below 3e-6, with a
// vibrato of 1 to 3 % below 2e-5; white noise gives 3e-3 to 9e-3, noise
// in a band 30 Hz wide at 1 kHz 2.3e-3 and more, music and speech 4e-3 (a
// sustained synthesiser chord) to 0.2; the least is noise with nothing
// below 4 kHz (nothing in the bands either), 5.5e-4 to 2e-3. A
// fingerprint whose frames vary by at most 2^-11 = 4.9e-4 is refused, in
// both arithmetics: 18 times the most a sine varies and twice the worst
// steady wave, a sixth of white noise and just below the least noise.
#include "algo/spectral/sfp_bands.h"
#include "algo/spectral/sfp_variant.h"

#include "algo/spectral/sfp_fixed_math.h"

namespace {

// Runs add(w, v, w_previous, previous) over a frame given as two pieces (at
// most size samples in all) for every sample v, w being its triangular
// weight (1 at both ends of the frame, count / 2 in the middle) and
// previous the sample before it with its weight (0 and 0 for the first).
// The frame is walked in runs that lie in one piece and on one side of the
// middle, so that the weight is a counter.
template <class Sample, class Add>
void each_sample(const void *first, uint32_t first_count, const void *second, uint32_t second_count,
                 uint32_t size, Add add)
{
    const uint32_t a = first_count < size ? first_count : size;
    const uint32_t count = a + (second_count < size - a ? second_count : size - a);
    const uint32_t half = (count + 1) / 2; // n < half: weight n + 1, else count - n
    Sample previous = Sample();
    uint32_t w_previous = 0;
    for (uint32_t n = 0; n < count;) {
        const Sample *piece = static_cast<const Sample *>(n < a ? first : second);
        const uint32_t base = n < a ? 0 : a; // piece[0] is sample base
        uint32_t end = n < a ? a : count;
        if (n < half && half < end)
            end = half;
        const bool rising = n < half;
        for (; n < end; ++n) {
            const uint32_t w = rising ? n + 1 : count - n;
            const Sample v = piece[n - base];
            add(w, v, w_previous, previous);
            previous = v;
            w_previous = w;
        }
    }
}

// Block sums keep the single-precision error of 32768 terms near
// (256 + 128) x 2^-24 = 2.3e-5 of the total instead of up to 2e-3.
const uint32_t kFloatBlock = 256;

// A sum of up to 32768 terms below 2^58, exact: the sums of their high and
// low 32-bit halves (below 2^41 and 2^47).
struct ExactSum {
    uint64_t high = 0;
    uint64_t low = 0;

    void add(uint64_t term)
    {
        high += term >> 32;
        low += term & 0xFFFFFFFFu;
    }

    // The sum / 2^32, rounded down.
    uint64_t top() const { return high + (low >> 32); }

    // The sum / 2^bits, rounded down, for a sum below 2^(64 + bits).
    uint64_t shifted(uint32_t bits) const
    {
        return bits >= 32 ? top() >> (bits - 32) : (high << (32 - bits)) + (low >> bits);
    }
};

} // namespace

float sfp_frame_frequency_float(const void *first, uint32_t first_count, const void *second,
                                uint32_t second_count, uint32_t size)
{
    float change = 0.0f, power = 0.0f;
    float block_change = 0.0f, block_power = 0.0f;
    uint32_t in_block = 0;
    each_sample<float>(first, first_count, second, second_count, size,
                       [&](uint32_t w, float v, uint32_t w_previous, float previous) {
                           const float d = v - previous;
                           block_power += static_cast<float>(w) * v * v;
                           block_change += static_cast<float>(w_previous) * d * d;
                           if (++in_block == kFloatBlock) {
                               change += block_change;
                               power += block_power;
                               block_change = block_power = 0.0f;
                               in_block = 0;
                           }
                       });
    change += block_change;
    power += block_power;
    return power > 0.0f ? change / power : 0.0f;
}

uint32_t sfp_frame_frequency_fixed(const void *first, uint32_t first_count, const void *second,
                                   uint32_t second_count, uint32_t size)
{
    // Samples >> 10: |v| < 2^21 (1/8 or 1/16 of a 16-bit step, the samples
    // being 2^13 or 2^14 times FileFloat's), |d| < 2^22, w <= 2^14 (FileFixed
    // frames have 32768 samples), so each weighted square is below 2^58. The
    // sums of 32768 of them are kept exactly: taking each square >> 16
    // dropped most of a quiet frame (m came out as 0, or clamped, where
    // FileFloat measures 2 or 4). m is a ratio, so the scale drops out.
    ExactSum change;
    ExactSum power;
    each_sample<int32_t>(first, first_count, second, second_count, size,
                         [&](uint32_t w, int32_t x, uint32_t w_previous, int32_t previous) {
                             const int64_t v = eng_asr(x, 10);
                             const int64_t d = v - eng_asr(previous, 10);
                             power.add(uint64_t{w} * static_cast<uint64_t>(v * v));
                             change.add(uint64_t{w_previous} * static_cast<uint64_t>(d * d));
                         });
    // The ratio in Q28 from the power's top 32 bits and the change at the
    // same scale (dropping the rest costs 2^28 / 2^31, 1/8 of a unit, at
    // most). change is at most 6 x power (a squared difference is at most
    // twice the two squares, and a weight at most twice the next one), so
    // it stays below 6 x 2^32, change << 28 below 2^63 and m below 6 x 2^28.
    uint32_t bits = 0;
    for (uint64_t top = power.top(); top != 0; top >>= 1)
        ++bits;
    const uint64_t p = power.shifted(bits);
    const uint64_t c = change.shifted(bits);
    if (p == 0)
        return 0;
    const uint64_t ratio = (c << 28) / p;
    return ratio > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(ratio);
}

uint8_t sfp_frames_steady_float(const BandStatistics *s)
{
    const uint32_t count = s->frames;
    if (count < 2)
        return 1; // nothing can vary
    float sum = 0.0f;
    for (const BandFrame *f = s->first; f; f = f->next)
        sum += f->frequency.f;
    const float mean = sum / static_cast<float>(count);
    float deviation = 0.0f;
    for (const BandFrame *f = s->first; f; f = f->next)
        deviation += (f->frequency.f - mean) * (f->frequency.f - mean);
    const float allowed = mean * (1.0f / static_cast<float>(1u << SFP_STEADY_LOG2));
    return deviation <= static_cast<float>(count - 1) * allowed * allowed;
}

uint8_t sfp_frames_steady_fixed(const BandStatistics *s)
{
    const uint32_t count = s->frames;
    if (count < 2)
        return 1; // nothing can vary
    // m in Q28 is below 2^31; in Q26 each squared deviation is below 2^58,
    // and at most 15 frames keep the sums below 2^62.
    uint64_t sum = 0;
    for (const BandFrame *f = s->first; f; f = f->next)
        sum += f->frequency.q;
    const uint64_t mean = sum / count;
    uint64_t deviation = 0;
    for (const BandFrame *f = s->first; f; f = f->next) {
        const uint64_t m = f->frequency.q;
        const uint64_t d = (m > mean ? m - mean : mean - m) >> 2;
        deviation += d * d;
    }
    const uint64_t quarter_mean = mean >> 2;
    const uint64_t allowed =
        (uint64_t{count - 1} * quarter_mean * quarter_mean) >> (2 * SFP_STEADY_LOG2);
    return deviation <= allowed;
}
