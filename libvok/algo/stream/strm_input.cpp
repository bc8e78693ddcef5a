// Streaming fingerprint input: frame-to-sample conversion, the 16-tap
// resampling filter and the 441/M phase accumulator that brings every
// accepted rate to 5512.5 Hz.
#include "algo/stream/strm_internal.h"
#include "algo/stream/strm_lanes.h"
#include "engine/eng_bytes.h"
#include "engine/eng_vector.h"
#include "engine/eng_wrap.h"

namespace {

struct RateRow {
    uint32_t rate;
    int16_t c[8]; // c0 weights the outer taps, c7 the two middle ones
};

// Symmetric 16-tap low-pass filters, unity gain in Q15, one per input rate.
constexpr RateRow kRates[STRM_RATE_COUNT] = {
    {8000, {42, -186, -34, 919, -409, -2968, 3314, 15706}},
    {11025, {2, 183, 252, -550, -1659, 22, 6032, 12099}},
    {16000, {21, -118, -437, -622, 204, 2658, 6074, 8603}},
    {22050, {-113, -157, -135, 297, 1455, 3285, 5240, 6512}},
    {24000, {-107, -113, -12, 502, 1649, 3320, 5028, 6115}},
    {32000, {-12, 73, 355, 1001, 2039, 3303, 4463, 5159}},
    {44100, {112, 244, 618, 1294, 2217, 3224, 4086, 4584}},
    {48000, {140, 277, 666, 1343, 2243, 3206, 4019, 4485}},
};

// The output rate is 441 / M of the input rate, M = 2 rate / 25.
const uint32_t kPhaseStep = 441;

// Ring position of any index, modulo 32 (taken on the unsigned value).
inline uint32_t slot(int32_t index)
{
    return static_cast<uint32_t>(index) & (STRM_INPUT_RING - 1);
}

// The 16 taps of each row in order of age, oldest first: c0 ... c7, c7 ... c0.
struct Taps {
    int32_t h[STRM_RATE_COUNT][16];
};

constexpr Taps expand_taps()
{
    Taps taps{};
    for (int32_t row = 0; row < STRM_RATE_COUNT; ++row) {
        for (int32_t k = 0; k < 8; ++k) {
            taps.h[row][k] = kRates[row].c[k];
            taps.h[row][15 - k] = kRates[row].c[k];
        }
    }
    return taps;
}

constexpr Taps kTaps = expand_taps();

// y = sum of c_k (x[j - k] + x[j - 15 + k]), indices modulo 32, in 32-bit
// arithmetic: the same as the sum over the 16 taps of h_t x[j - 15 + t],
// which the doubled ring holds as one run.
inline int32_t fir(const int32_t *ring, const int32_t *h, int32_t j)
{
    const int32_t *x = ring + slot(j) + STRM_INPUT_RING - 15;
    uint32_t y = 0;
    for (int32_t t = 0; t < 16; ++t)
        y += static_cast<uint32_t>(h[t]) * static_cast<uint32_t>(x[t]);
    return static_cast<int32_t>(y);
}

inline void put(int32_t *ring, int32_t i, int32_t x)
{
    ring[i] = x;
    ring[i + STRM_INPUT_RING] = x;
}

// Input frames converted per pass, on the stack.
constexpr uint32_t kChunk = 1024;

void feed(StreamState *s, const uint8_t *bytes, uint32_t frames)
{
    const uint32_t stride = s->bytes_per_frame;
    const uint32_t modulus = 2 * s->sample_rate / 25;
    const int32_t *h = kTaps.h[s->rate_index];
    int32_t *ring = s->input_ring;
    int32_t i = s->input_index;
    uint32_t p = s->phase;
    int32_t samples[kChunk];
    while (frames > 0) {
        const uint32_t count = frames < kChunk ? frames : kChunk;
        strm_convert(s, bytes, static_cast<int32_t>(count), samples);
        for (uint32_t f = 0; f < count; ++f) {
            put(ring, i, samples[f]);
            if (p < kPhaseStep) {
                int32_t y = fir(ring, h, i);
                if (p != 0) {
                    // Linear interpolation towards the previous filter
                    // output, weight p * 74 / 2^15 (about p / 442.8).
                    const int32_t g = fir(ring, h, i - 1);
                    const int32_t weight = static_cast<int32_t>(p * 74);
                    y = eng_wrap_add(y, eng_wrap_mul(eng_asr(eng_wrap_sub(g, y), 15), weight));
                }
                strm_push_sample(s, y);
            }
            p += kPhaseStep;
            if (p >= modulus)
                p -= modulus;
            i = static_cast<int32_t>(slot(i + 1));
        }
        bytes += static_cast<size_t>(count) * stride;
        frames -= count;
    }
    s->input_index = i;
    s->phase = p;
}

} // namespace

// Stereo frames are averaged (the sum shifted right, rounding down); 8-bit
// PCM is centred and brought to the 16-bit scale.
ENG_VECTOR_CLONES void strm_convert(const StreamState *s, const uint8_t *bytes, int32_t count,
                                    int32_t *out)
{
    const bool stereo = s->channels == 2;
    switch (s->sample_type) {
    case SAMPLE_PCM_U8:
        if (stereo) {
            for (int32_t f = 0; f < count; ++f)
                out[f] = (static_cast<int32_t>(bytes[2 * f]) + bytes[2 * f + 1] - 256) * 128;
        } else {
            for (int32_t f = 0; f < count; ++f)
                out[f] = (static_cast<int32_t>(bytes[f]) - 128) * 256;
        }
        break;
    case SAMPLE_PCM_S16:
        if (stereo) {
            for (int32_t f = 0; f < count; ++f)
                out[f] = eng_asr(eng_le_s16(bytes + 4 * f) + eng_le_s16(bytes + 4 * f + 2), 1);
        } else {
            for (int32_t f = 0; f < count; ++f)
                out[f] = eng_le_s16(bytes + 2 * f);
        }
        break;
    case SAMPLE_ALAW:
    case SAMPLE_MULAW: {
        const int16_t *table = s->sample_type == SAMPLE_ALAW ? s->alaw : s->mulaw;
        if (stereo) {
            for (int32_t f = 0; f < count; ++f)
                out[f] =
                    eng_asr(static_cast<int32_t>(table[bytes[2 * f]]) + table[bytes[2 * f + 1]], 1);
        } else {
            for (int32_t f = 0; f < count; ++f)
                out[f] = table[bytes[f]];
        }
        break;
    }
    default:
        break;
    }
}

int32_t strm_rate_index(uint32_t sample_rate)
{
    for (int32_t row = 0; row < STRM_RATE_COUNT; ++row) {
        if (kRates[row].rate == sample_rate)
            return row;
    }
    return -1;
}

uint32_t strm_rate_of_row(int32_t row)
{
    return row >= 0 && row < STRM_RATE_COUNT ? kRates[row].rate : 0;
}

const int16_t *strm_fir_coefficients(int32_t row)
{
    return row >= 0 && row < STRM_RATE_COUNT ? kRates[row].c : nullptr;
}

int32_t strm_fir(const StreamState *state)
{
    return fir(state->input_ring, kTaps.h[state->rate_index], state->input_index);
}

ResultCode strm_add_audio(void *state, const uint8_t *bytes, uint32_t byte_count, uint8_t *ready)
{
    if (!state || !bytes || !ready)
        return STRM_E_INVALID_ARG;
    auto *s = static_cast<StreamState *>(state);
    if (s->bytes_per_frame == 0)
        return STRM_E_NO_DATA;
    const uint32_t frames = byte_count / s->bytes_per_frame;
    if (s->lanes != 0) {
        strm_lanes_feed(s, bytes, frames);
        *ready = s->ready;
        return ENG_OK;
    }
    feed(s, bytes, frames);
    *ready = s->ready;
    return ENG_OK;
}
