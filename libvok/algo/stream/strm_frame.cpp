// Streaming fingerprint frame analysis: framing ring, block-floating-point
// normalisation, window, power spectrum, band energies, the band-and-time
// difference filter, weak-bit ranking and the quiet-frame test.
//
// Everything is 32-bit integer arithmetic. Each normalisation step records
// its shift so that the frame exponent E (larger means quieter) lets
// consecutive frames be compared at one scale.
#include "algo/stream/strm_internal.h"
#include "engine/eng_support.h"
#include "engine/eng_vector.h"
#include "engine/eng_wrap.h"

namespace {

// Index of the highest set bit, -1 for 0.
int32_t highest_bit(uint32_t v)
{
    int32_t m = -1;
    while (v != 0) {
        ++m;
        v >>= 1;
    }
    return m;
}

// v scaled by 2^shift: a left shift for positive counts, an arithmetic
// right shift for negative ones (counts within -31 ... 31).
inline int32_t scaled(int32_t v, int32_t shift)
{
    return shift >= 0 ? eng_wrap_shl(v, shift & 31) : eng_asr(v, (-shift) & 31);
}

// out[k] = (frame[k] scaled) x w[k] for the rising half and x w[N - 1 - k]
// for the falling half. out may be frame.
ENG_VECTOR_CLONES void window_scaled(const int32_t *frame, int32_t shift, const uint16_t *w,
                                     int32_t n, int32_t *out)
{
    const int32_t half = n / 2;
    if (shift >= 0) {
        for (int32_t k = 0; k < half; ++k)
            out[k] = eng_wrap_mul(eng_wrap_shl(frame[k], shift & 31), w[k]);
        for (int32_t k = half; k < n; ++k)
            out[k] = eng_wrap_mul(eng_wrap_shl(frame[k], shift & 31), w[n - 1 - k]);
    } else {
        for (int32_t k = 0; k < half; ++k)
            out[k] = eng_wrap_mul(eng_asr(frame[k], (-shift) & 31), w[k]);
        for (int32_t k = half; k < n; ++k)
            out[k] = eng_wrap_mul(eng_asr(frame[k], (-shift) & 31), w[n - 1 - k]);
    }
}

inline int32_t square(int32_t v)
{
    return eng_wrap_mul(v, v);
}

// Power of the packed spectrum scaled by 2^shift: P[0] = F[0]^2,
// P[N/2] = F[1]^2, P[k] = F[2k]^2 + F[2k+1]^2 (32-bit). out may be
// spectrum: P[k] is then written over F[k], which P[k / 2] has already
// read.
ENG_VECTOR_CLONES void power_scaled(const int32_t *spectrum, int32_t shift, int32_t n, int32_t *out)
{
    const int32_t half = n / 2;
    const int32_t nyquist = square(scaled(spectrum[1], shift));
    out[0] = square(scaled(spectrum[0], shift));
    if (shift >= 0) {
        for (int32_t k = 1; k < half; ++k)
            out[k] = eng_wrap_add(square(eng_wrap_shl(spectrum[2 * k], shift & 31)),
                                  square(eng_wrap_shl(spectrum[2 * k + 1], shift & 31)));
    } else {
        for (int32_t k = 1; k < half; ++k)
            out[k] = eng_wrap_add(square(eng_asr(spectrum[2 * k], (-shift) & 31)),
                                  square(eng_asr(spectrum[2 * k + 1], (-shift) & 31)));
    }
    out[half] = nyquist;
}

// Band energies of the power values scaled by 2^shift: each quarter-bin
// position j of a band adds the power of its nearest bin (j + 2) / 4. A
// bin inside a band is the nearest of four positions; the bins at the two
// ends of a band may be nearest to fewer of its positions. The sum is
// 32-bit, so adding a bin's power m times is adding m times its power.
ENG_VECTOR_CLONES void band_sums(const int32_t *power, int32_t shift, const int16_t *edges,
                                 int32_t *energies)
{
    for (int32_t band = 0; band < STRM_BAND_COUNT; ++band) {
        const int32_t first = edges[band];
        const int32_t last = edges[band + 1] - 1;
        const int32_t b0 = (first + 2) >> 2;
        const int32_t b1 = (last + 2) >> 2;
        int32_t sum;
        if (b0 == b1) {
            sum = eng_wrap_mul(last - first + 1, scaled(power[b0], shift));
        } else {
            // Positions 4b - 2 ... 4b + 1 share bin b.
            sum = eng_wrap_mul(4 * b0 + 2 - first, scaled(power[b0], shift));
            int32_t inner = 0;
            for (int32_t b = b0 + 1; b < b1; ++b)
                inner = eng_wrap_add(inner, scaled(power[b], shift));
            sum = eng_wrap_add(sum, eng_wrap_mul(4, inner));
            sum = eng_wrap_add(sum, eng_wrap_mul(last - 4 * b1 + 3, scaled(power[b1], shift)));
        }
        energies[band] = sum;
    }
}

} // namespace

ENG_VECTOR_CLONES int32_t strm_normalize_shift(const int32_t *values, int32_t count,
                                               int32_t target_bits)
{
    // v XOR (v >> 1) has its highest bit where v's sign stops repeating.
    uint32_t spread = 0;
    for (int32_t k = 0; k < count; ++k)
        spread |= static_cast<uint32_t>(values[k] ^ eng_asr(values[k], 1));
    return target_bits - highest_bit(spread) - 1;
}

int32_t strm_normalize(int32_t *values, int32_t count, int32_t target_bits)
{
    const int32_t shift = strm_normalize_shift(values, count, target_bits);
    if (shift > 0) {
        for (int32_t k = 0; k < count; ++k)
            values[k] = eng_wrap_shl(values[k], shift & 31);
    } else if (shift < 0) {
        for (int32_t k = 0; k < count; ++k)
            values[k] = eng_asr(values[k], (-shift) & 31);
    }
    return shift;
}

void strm_copy_frame(StreamState *state)
{
    const int32_t n = state->frame_length;
    const int32_t older = n - state->ring_position;
    eng_memcpy(state->frame, state->frame_ring + state->ring_position,
               static_cast<size_t>(older) * sizeof(int32_t));
    eng_memcpy(state->frame + older, state->frame_ring,
               static_cast<size_t>(state->ring_position) * sizeof(int32_t));
}

void strm_apply_window(StreamState *state)
{
    window_scaled(state->frame, 0, state->window, state->frame_length, state->frame);
}

void strm_power_spectrum(StreamState *state)
{
    power_scaled(state->frame, 0, state->frame_length, state->frame);
}

void strm_difference_filter(StreamState *state, const int32_t *energies, int32_t exponent,
                            int32_t *outputs)
{
    // Shift counts are taken modulo 32: a step of 32 or more in exponent
    // (the first frame, or silence next to sound) shifts by its low bits.
    const int32_t d = eng_wrap_sub(eng_wrap_add(exponent, 2), state->previous_exponent);
    const int32_t up = static_cast<int32_t>(static_cast<uint32_t>(d) & 31u);          // d >= 0
    const int32_t down = static_cast<int32_t>((0u - static_cast<uint32_t>(d)) & 31u); // d < 0
    const int32_t *b = energies;
    for (int32_t k = 0; k < STRM_FILTER_COUNT; ++k) {
        const int32_t lower = eng_wrap_add(eng_wrap_add(b[2 * k], b[2 * k + 1]), b[2 * k + 2]);
        const int32_t upper = eng_wrap_add(eng_wrap_add(b[2 * k + 3], b[2 * k + 4]), b[2 * k + 5]);
        const int32_t h = eng_wrap_sub(lower, upper);
        const int32_t prev = state->previous_filter[k];
        outputs[k] =
            d >= 0 ? eng_wrap_sub(eng_asr(h, up), prev) : eng_wrap_sub(h, eng_asr(prev, down));
        state->previous_filter[k] = h;
    }
    state->previous_exponent = eng_wrap_add(exponent, 2);
}

uint32_t strm_weak_bit_mask(const int32_t *outputs, int32_t weak_bits)
{
    // Ranking key: magnitude, then k. Keys are distinct; the W smallest
    // mark the bits most likely to flip. They are kept sorted as they come.
    const int32_t wanted = weak_bits < 0 ? 0 : weak_bits > 32 ? 32 : weak_bits;
    if (wanted == 0)
        return 0;
    uint64_t smallest[STRM_FILTER_COUNT];
    int32_t held = 0;
    for (int32_t k = 0; k < STRM_FILTER_COUNT; ++k) {
        const uint64_t key =
            (static_cast<uint64_t>(eng_magnitude(outputs[k])) << 5) | static_cast<uint32_t>(k);
        if (held == wanted && key >= smallest[held - 1])
            continue;
        int32_t at = held < wanted ? held++ : held - 1;
        while (at > 0 && smallest[at - 1] > key) {
            smallest[at] = smallest[at - 1];
            --at;
        }
        smallest[at] = key;
    }
    uint32_t mask = 0;
    for (int32_t i = 0; i < held; ++i)
        mask |= 0x80000000u >> (smallest[i] & 31u);
    return mask;
}

uint8_t strm_is_quiet(int32_t *energies, int32_t log2_frame, int32_t exponent)
{
    const int32_t g = strm_normalize(energies, STRM_BAND_COUNT, 24);
    int32_t sum = 0;
    for (int32_t band = 0; band < STRM_BAND_COUNT; ++band)
        sum = eng_wrap_add(sum, energies[band]);
    const int32_t level = log2_frame + exponent + g + 1;
    if (level < 0)
        return 0;
    if (level < 32 && eng_asr(sum, level) >= 32)
        return 0;
    return 1;
}

uint32_t strm_analyze_frame(StreamState *state, uint32_t *mask)
{
    // Each normalisation's shift is applied on the way into the next step
    // rather than in a pass of its own; the values are the same.
    const int32_t n = state->frame_length;
    // The frame exponent records all three shifts.
    const int32_t frame_shift = strm_normalize_shift(state->frame, n, 15);
    window_scaled(state->frame, frame_shift, state->window, n, state->scratch);
    rfft_forward(state->fft, state->scratch, state->frame);
    const int32_t spectrum_shift = strm_normalize_shift(state->frame, n, 15);
    int32_t *power = state->scratch; // free again after the transform
    power_scaled(state->frame, spectrum_shift, n, power);
    const int32_t power_shift = strm_normalize_shift(power, n / 2 + 1, 21);
    const int32_t exponent = 46 + 2 * frame_shift + 2 * spectrum_shift + power_shift;

    int32_t energies[STRM_BAND_COUNT];
    band_sums(power, power_shift, state->band_edges, energies);
    return strm_finish_frame(state, energies, exponent, mask);
}

uint32_t strm_finish_frame(StreamState *state, int32_t *energies, int32_t exponent, uint32_t *mask)
{
    int32_t outputs[STRM_FILTER_COUNT];
    strm_difference_filter(state, energies, exponent, outputs);

    uint32_t fingerprint = 0;
    for (int32_t k = 0; k < STRM_FILTER_COUNT; ++k) {
        if (outputs[k] > 0)
            fingerprint |= 0x80000000u >> k;
    }
    *mask = strm_weak_bit_mask(outputs, state->weak_bits);
    if (strm_is_quiet(energies, state->log2_frame, exponent))
        fingerprint = strm_random_next(&state->random);
    return fingerprint;
}

void strm_store_frame(StreamState *state, uint32_t fingerprint, uint32_t mask)
{
    // The first analysed frame only primes the filter history.
    if (state->have_previous_frame) {
        state->fingerprints[state->count] = fingerprint;
        state->masks[state->count] = mask;
        state->count += 1;
        if (state->count == STRM_BLOCK_WORDS) {
            state->count = 0;
            strm_finish_block(state);
        }
    }
    state->have_previous_frame = 1;
}

void strm_push_sample(StreamState *state, int32_t sample)
{
    state->frame_ring[state->ring_position] = sample;
    state->ring_position += 1;
    if (state->ring_position == state->frame_length) {
        state->ring_position = 0;
        state->ring_filled = 1;
    }
    if ((state->ring_position & (state->hop - 1)) != 0 || !state->ring_filled)
        return;

    strm_copy_frame(state);
    uint32_t mask = 0;
    const uint32_t fingerprint = strm_analyze_frame(state, &mask);
    strm_store_frame(state, fingerprint, mask);
}
