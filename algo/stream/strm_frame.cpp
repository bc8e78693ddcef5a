// Streaming fingerprint frame analysis: framing ring, block-floating-point
// normalisation, window, power spectrum, band energies, the band-and-time
// difference filter, weak-bit ranking and the quiet-frame test.
//
// Everything is 32-bit integer arithmetic. Each normalisation step records
// its shift so that the frame exponent E (larger means quieter) lets
// consecutive frames be compared at one scale.
#include "algo/stream/stream.h"
#include "algo/stream/strm_arith.h"
#include "engine/eng_support.h"

namespace {

using strm_arith::asr;
using strm_arith::magnitude;
using strm_arith::shl;
using strm_arith::wadd;
using strm_arith::wmul;
using strm_arith::wsub;

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

} // namespace

int32_t strm_normalize(int32_t *values, int32_t count, int32_t target_bits)
{
    // v XOR (v >> 1) has its highest bit where v's sign stops repeating.
    uint32_t spread = 0;
    for (int32_t k = 0; k < count; ++k)
        spread |= static_cast<uint32_t>(values[k] ^ asr(values[k], 1));
    const int32_t shift = target_bits - highest_bit(spread) - 1;
    if (shift > 0) {
        for (int32_t k = 0; k < count; ++k)
            values[k] = shl(values[k], shift & 31);
    } else if (shift < 0) {
        for (int32_t k = 0; k < count; ++k)
            values[k] = asr(values[k], (-shift) & 31);
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
    const int32_t n = state->frame_length;
    const uint16_t *w = state->window;
    int32_t *frame = state->frame;
    for (int32_t k = 0; k < n / 2; ++k) {
        frame[k] = wmul(frame[k], w[k]);
        frame[n - 1 - k] = wmul(frame[n - 1 - k], w[k]);
    }
}

void strm_power_spectrum(StreamState *state)
{
    const int32_t half = state->frame_length / 2;
    int32_t *f = state->frame;
    // In place: P[k] is written over F[k], which P[k / 2] has already read.
    const int32_t nyquist = wmul(f[1], f[1]);
    f[0] = wmul(f[0], f[0]);
    for (int32_t k = 1; k < half; ++k)
        f[k] = wadd(wmul(f[2 * k], f[2 * k]), wmul(f[2 * k + 1], f[2 * k + 1]));
    f[half] = nyquist;
}

void strm_band_energies(const StreamState *state, int32_t *energies)
{
    const int16_t *e = state->band_edges;
    const int32_t *power = state->frame;
    for (int32_t band = 0; band < STRM_BAND_COUNT; ++band) {
        // Each quarter-bin position adds the power of its nearest bin.
        int32_t sum = 0;
        for (int32_t j = e[band]; j < e[band + 1]; ++j)
            sum = wadd(sum, power[(j + 2) >> 2]);
        energies[band] = sum;
    }
}

void strm_difference_filter(StreamState *state, const int32_t *energies, int32_t exponent,
                            int32_t *outputs)
{
    // Shift counts are taken modulo 32: a step of 32 or more in exponent
    // (the first frame, or silence next to sound) shifts by its low bits.
    const int32_t d = wsub(wadd(exponent, 2), state->previous_exponent);
    const int32_t *b = energies;
    for (int32_t k = 0; k < STRM_FILTER_COUNT; ++k) {
        const int32_t lower = wadd(wadd(b[2 * k], b[2 * k + 1]), b[2 * k + 2]);
        const int32_t upper = wadd(wadd(b[2 * k + 3], b[2 * k + 4]), b[2 * k + 5]);
        const int32_t h = wsub(lower, upper);
        const int32_t prev = state->previous_filter[k];
        outputs[k] = d >= 0 ? wsub(asr(h, d & 31), prev)
                            : wsub(h, asr(prev, static_cast<int32_t>(0u - static_cast<uint32_t>(d)) & 31));
        state->previous_filter[k] = h;
    }
    state->previous_exponent = wadd(exponent, 2);
}

uint32_t strm_weak_bit_mask(const int32_t *outputs, int32_t weak_bits)
{
    // Ranking key: magnitude, then k; the W smallest keys are the bits most
    // likely to flip.
    uint64_t keys[STRM_FILTER_COUNT];
    for (int32_t k = 0; k < STRM_FILTER_COUNT; ++k)
        keys[k] = (static_cast<uint64_t>(magnitude(outputs[k])) << 5) | static_cast<uint32_t>(k);
    uint32_t mask = 0;
    uint64_t taken = 0; // keys are distinct, so the previous minimum bounds the next
    for (int32_t rank = 0; rank < weak_bits && rank < STRM_FILTER_COUNT; ++rank) {
        uint64_t best = ~static_cast<uint64_t>(0);
        for (int32_t k = 0; k < STRM_FILTER_COUNT; ++k) {
            if ((rank == 0 || keys[k] > taken) && keys[k] < best)
                best = keys[k];
        }
        taken = best;
        mask |= 0x80000000u >> (best & 31u);
    }
    return mask;
}

uint8_t strm_is_quiet(int32_t *energies, int32_t log2_frame, int32_t exponent)
{
    const int32_t g = strm_normalize(energies, STRM_BAND_COUNT, 24);
    int32_t sum = 0;
    for (int32_t band = 0; band < STRM_BAND_COUNT; ++band)
        sum = wadd(sum, energies[band]);
    const int32_t level = log2_frame + exponent + g + 1;
    if (level < 0)
        return 0;
    if (level < 32 && asr(sum, level) >= 32)
        return 0;
    return 1;
}

uint32_t strm_analyze_frame(StreamState *state, uint32_t *mask)
{
    const int32_t n = state->frame_length;
    const int32_t a = strm_normalize(state->frame, n, 15);
    strm_apply_window(state);
    eng_memcpy(state->scratch, state->frame, static_cast<size_t>(n) * sizeof(int32_t));
    rfft_forward(state->fft, state->scratch, state->frame);
    const int32_t b = strm_normalize(state->frame, n, 15);
    strm_power_spectrum(state);
    const int32_t c = strm_normalize(state->frame, n / 2 + 1, 21);
    const int32_t exponent = 46 + 2 * a + 2 * b + c;

    int32_t energies[STRM_BAND_COUNT];
    strm_band_energies(state, energies);
    int32_t outputs[STRM_FILTER_COUNT];
    strm_difference_filter(state, energies, exponent, outputs);

    uint32_t fingerprint = 0;
    for (int32_t k = 0; k < STRM_FILTER_COUNT; ++k) {
        if (outputs[k] > 0)
            fingerprint |= 0x80000000u >> k;
    }
    *mask = strm_weak_bit_mask(outputs, state->weak_bits);
    if (strm_is_quiet(energies, state->log2_frame, exponent))
        fingerprint = strm_next_random(state);
    return fingerprint;
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
