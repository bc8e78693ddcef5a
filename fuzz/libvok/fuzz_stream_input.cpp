// The streaming fingerprint's input stage, fed directly: any bytes at every
// accepted rate, sample type and channel count, added to a state in pieces
// cut at whole frames where the input chooses (in one call when it chooses
// none), on the scalar path and on the vector path this processor runs.
//
// Checks: whatever the cuts and the path, the frame ring holds exactly the
// resampled samples computed here in 64 bits from the conversion table, the
// 16-tap filter and the phase accumulator, and the phase and input index
// are where that computation leaves them; so nothing depends on the cuts,
// and no sum of the 32-bit filter or its interpolation wraps (16-bit input
// keeps them below 2^31). At most N - 1 samples are made, so that no frame
// is analysed and the ring holds every one.
//
// Input: format, length and cuts from the back; the bytes from the front,
// repeated to the length.
#include <algorithm>
#include <initializer_list>
#include <map>
#include <tuple>

#include "algo/stream/strm_lanes.h"
#include "engine/eng_g711.h"
#include "fuzz/fuzz_support.h"

using fuzz_support::require;

// --- Adapter: the stage as this target reaches it -------------------------------

namespace stage {

// One state per path and format (id 3, N = 2048), made on first use.
StreamState *state_for(StreamPath path, int32_t row, SampleType type, uint32_t channels)
{
    // Kept to the end of the process (reachable, so not reported as leaks).
    static auto &states =
        *new std::map<std::tuple<int, int32_t, SampleType, uint32_t>, StreamState *>;
    StreamState *&s = states[{path, row, type, channels}];
    if (!s) {
        void *made = nullptr;
        require(strm_use_path(path) == ENG_OK, "path exists");
        require(strm_create(3, strm_rate_of_row(row), type, channels, &made) == ENG_OK,
                "state created");
        strm_use_path(STRM_PATH_BEST);
        s = static_cast<StreamState *>(made);
    }
    strm_reset(s);
    return s;
}

void add(StreamState *s, const uint8_t *bytes, size_t count)
{
    static const uint8_t none = 0; // an empty vector may have no array
    uint8_t ready = 0;
    const ResultCode added =
        strm_add_audio(s, count ? bytes : &none, static_cast<uint32_t>(count), &ready);
    require(added == ENG_OK && !ready, "audio added");
}

// The resampled samples the frame ring holds.
std::vector<int32_t> samples(const StreamState *s)
{
    require(!s->ring_filled, "no frame analysed");
    return std::vector<int32_t>(s->frame_ring, s->frame_ring + s->ring_position);
}

uint32_t phase(const StreamState *s)
{
    return s->phase;
}
size_t input_index(const StreamState *s)
{
    return static_cast<size_t>(s->input_index);
}
const int16_t *coefficients(int32_t row)
{
    return strm_fir_coefficients(row);
}
uint32_t rate(int32_t row)
{
    return strm_rate_of_row(row);
}

} // namespace stage

namespace {

int64_t signed16(const uint8_t *b)
{
    return static_cast<int16_t>(static_cast<uint16_t>(b[0] | b[1] << 8));
}

// One sample per frame, as the format table gives it.
FUZZ_UNTRACED int64_t convert(const uint8_t *f, SampleType type, uint32_t channels)
{
    const int16_t *table = type == SAMPLE_ALAW ? eng_alaw_table() : eng_mulaw_table();
    if (type == SAMPLE_PCM_U8)
        return channels == 1 ? (f[0] - 128) * 256 : (f[0] + f[1] - 256) * 128;
    if (type == SAMPLE_PCM_S16)
        return channels == 1 ? signed16(f) : (signed16(f) + signed16(f + 2)) >> 1;
    return channels == 1 ? table[f[0]] : (table[f[0]] + table[f[1]]) >> 1;
}

// The 16-tap filter over x[j ... j + 15], x[j + 15] the newest sample.
FUZZ_UNTRACED int64_t fir(const int64_t *x, const int16_t *c, size_t j)
{
    const int64_t *at = x + j;
    int64_t y = 0;
    for (int k = 0; k < 8; ++k)
        y += c[k] * (at[15 - k] + at[k]);
    return y;
}

// The resampled samples in 64 bits: y = h + ((g - h) >> 15) x 74 p for the
// filter outputs h at the frame and g at the one before, made while the
// phase p (advancing by 441 modulo M = 2 rate / 25) is below 441; at most
// `limit` of them. x holds 16 zeros (silence) before the first frame.
// Answers the frames they take, and leaves p at the next one's phase.
FUZZ_UNTRACED size_t resampled(const std::vector<int64_t> &x, int32_t row, size_t limit,
                               std::vector<int64_t> &out, uint32_t &p)
{
    const int16_t *c = stage::coefficients(row);
    const uint32_t modulus = 2 * stage::rate(row) / 25;
    size_t f = 0;
    for (; f + 16 < x.size(); ++f) {
        if (p < 441) {
            if (out.size() == limit)
                break;
            const int64_t h = fir(x.data() + 1, c, f);
            const int64_t step = (fir(x.data(), c, f) - h) >> 15;
            out.push_back(p == 0 ? h : h + step * (74 * p));
        }
        p += 441;
        if (p >= modulus)
            p -= modulus;
    }
    return f;
}

} // namespace

FUZZ_STARTS_THE_ENGINE

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const int32_t row = in.ConsumeIntegralInRange<int32_t>(0, STRM_RATE_COUNT - 1);
    const SampleType type = in.ConsumeIntegralInRange<SampleType>(SAMPLE_PCM_U8, SAMPLE_MULAW);
    const uint32_t channels = in.ConsumeBool() ? 2 : 1;
    const size_t wanted = in.ConsumeIntegralInRange<size_t>(0, 6000);
    std::vector<size_t> cuts(in.ConsumeIntegralInRange<size_t>(0, 16));
    for (size_t &cut : cuts)
        cut = in.ConsumeIntegralInRange<size_t>(0, 1 << 12);
    fuzz_support::Audio audio = fuzz_support::repeated_audio(in, wanted, type, channels);
    const size_t frame_bytes = audio.frame_bytes;
    std::vector<int64_t> x(16 + wanted); // silence before the first frame
    for (size_t f = 0; f < wanted; ++f)
        x[16 + f] = convert(&audio.bytes[f * frame_bytes], type, channels);

    // Id 3 takes frames of N = 2048: at most 2047 samples (8000 Hz input
    // gives them from 2971 frames, 48000 Hz from 17825). Up to 6000 frames
    // cross the vector path's runs of 1024 five times.
    std::vector<int64_t> expected;
    uint32_t phase = 0;
    const size_t frames = resampled(x, row, 2047, expected, phase);
    audio.bytes.resize(frames * frame_bytes);
    for (const StreamPath path : {STRM_PATH_SCALAR, strm_creation_path()}) {
        StreamState *s = stage::state_for(path, row, type, channels);
        fuzz_support::in_pieces(audio, cuts, [&](size_t, size_t at, size_t bytes) {
            stage::add(s, audio.bytes.data() + at, bytes);
        });
        const std::vector<int32_t> ring = stage::samples(s);
        require(ring.size() == expected.size() &&
                    std::equal(ring.begin(), ring.end(), expected.begin()),
                "resampled samples as computed in 64 bits");
        require(stage::phase(s) == phase && stage::input_index(s) == frames % STRM_INPUT_RING,
                "phase and input index where the samples leave them");
    }
    return 0;
}
