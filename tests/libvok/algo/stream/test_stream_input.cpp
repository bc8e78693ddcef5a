// Input conversion and resampling, against a direct computation of the
// filter and phase-accumulator formulas written here.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "algo/stream/strm_internal.h"
#include "engine/eng_g711.h"
#include "engine/eng_memory.h"
#include "tests/support/alloc_faults.h"

namespace {

const uint32_t kRates[8] = {8000, 11025, 16000, 22050, 24000, 32000, 44100, 48000};

class StreamInput : public ::testing::Test {
protected:
    void SetUp() override { vok_test::start_memory_layer(); }
    void TearDown() override
    {
        if (state)
            strm_destroy(state);
    }
    StreamState *make(uint32_t rate, SampleType type, uint32_t channels, uint32_t id = 3)
    {
        if (state)
            strm_destroy(state);
        void *made = nullptr;
        EXPECT_EQ(ENG_OK, strm_create(id, rate, type, channels, &made));
        state = static_cast<StreamState *>(made);
        return state;
    }
    uint8_t add(const std::vector<uint8_t> &bytes)
    {
        uint8_t ready = 7;
        EXPECT_EQ(ENG_OK,
                  strm_add_audio(state, bytes.data(), static_cast<uint32_t>(bytes.size()), &ready));
        return ready;
    }
    StreamState *state = nullptr;
};

TEST_F(StreamInput, RateTableAcceptsEightRatesInOrder)
{
    for (int32_t row = 0; row < 8; ++row) {
        EXPECT_EQ(row, strm_rate_index(kRates[row]));
        EXPECT_EQ(kRates[row], strm_rate_of_row(row));
        // The 16 taps sum to about unity gain in Q15.
        const int16_t *c = strm_fir_coefficients(row);
        int32_t sum = 0;
        for (int k = 0; k < 8; ++k)
            sum += 2 * c[k];
        EXPECT_NEAR(32768, sum, 16) << kRates[row];
    }
    for (uint32_t rate : {0u, 7999u, 11024u, 12000u, 44101u, 96000u})
        EXPECT_EQ(-1, strm_rate_index(rate));
    EXPECT_EQ(0u, strm_rate_of_row(8));
    EXPECT_EQ(nullptr, strm_fir_coefficients(-1));
    EXPECT_EQ(15706, strm_fir_coefficients(0)[7]);
    EXPECT_EQ(140, strm_fir_coefficients(7)[0]);
}

struct Conversion {
    SampleType type;
    uint32_t channels;
    std::vector<uint8_t> frame;
    int32_t expected;
};

TEST_F(StreamInput, EachFormatBecomesOneSignedSample)
{
    const int16_t *a = eng_alaw_table();
    const int16_t *u = eng_mulaw_table();
    const Conversion cases[] = {
        {SAMPLE_PCM_U8, 1, {0x80}, 0},
        {SAMPLE_PCM_U8, 1, {0xFF}, 127 * 256},
        {SAMPLE_PCM_U8, 1, {0x00}, -128 * 256},
        {SAMPLE_PCM_U8, 2, {0x80, 0x80}, 0},
        {SAMPLE_PCM_U8, 2, {0xFF, 0xFF}, 32512},
        {SAMPLE_PCM_U8, 2, {0x00, 0x01}, -255 * 128},
        {SAMPLE_PCM_S16, 1, {0x34, 0x12}, 0x1234},
        {SAMPLE_PCM_S16, 1, {0x00, 0x80}, -32768},
        {SAMPLE_PCM_S16, 2, {0xFF, 0x7F, 0xFF, 0x7F}, 32767},
        {SAMPLE_PCM_S16, 2, {0x00, 0x80, 0x00, 0x80}, -32768},
        {SAMPLE_PCM_S16, 2, {0xFF, 0xFF, 0x00, 0x00}, -1}, // (-1 + 0) >> 1, arithmetic
        {SAMPLE_PCM_S16, 2, {0xFD, 0xFF, 0x00, 0x00}, -2}, // -3 >> 1
        {SAMPLE_ALAW, 1, {0x00}, a[0]},
        {SAMPLE_ALAW, 2, {0x00, 0xD5}, (a[0] + a[0xD5]) >> 1},
        {SAMPLE_ALAW, 2, {0x80, 0x81}, (a[0x80] + a[0x81]) >> 1},
        {SAMPLE_MULAW, 1, {0x00}, u[0]},
        {SAMPLE_MULAW, 2, {0x00, 0x01}, (u[0] + u[1]) >> 1},
        {SAMPLE_MULAW, 2, {0x7F, 0xFF}, 0},
    };
    for (const Conversion &c : cases) {
        make(44100, c.type, c.channels);
        add(c.frame);
        EXPECT_EQ(c.expected, state->input_ring[0])
            << "type " << c.type << " channels " << c.channels;
        EXPECT_EQ(c.expected, state->input_ring[32])
            << "type " << c.type << " channels " << c.channels;
        EXPECT_EQ(1, state->input_index);
        // The first frame always produces an output: p starts at 0.
        EXPECT_EQ(1, state->ring_position);
    }
}

TEST_F(StreamInput, ArgumentChecksChangeNothing)
{
    make(44100, SAMPLE_PCM_S16, 2);
    uint8_t bytes[4] = {1, 2, 3, 4};
    uint8_t ready = 9;
    EXPECT_EQ(STRM_E_INVALID_ARG, strm_add_audio(nullptr, bytes, 4, &ready));
    EXPECT_EQ(STRM_E_INVALID_ARG, strm_add_audio(state, nullptr, 4, &ready));
    EXPECT_EQ(STRM_E_INVALID_ARG, strm_add_audio(state, bytes, 4, nullptr));
    EXPECT_EQ(9, ready);
    EXPECT_EQ(0, state->input_index);

    // Fewer bytes than one frame: nothing converted, success, ready reported.
    EXPECT_EQ(ENG_OK, strm_add_audio(state, bytes, 3, &ready));
    EXPECT_EQ(0, ready);
    EXPECT_EQ(0, state->input_index);
    EXPECT_EQ(ENG_OK, strm_add_audio(state, bytes, 0, &ready));
    // A trailing partial frame is ignored, not kept.
    EXPECT_EQ(ENG_OK, strm_add_audio(state, bytes, 4 + 3, &ready));
    EXPECT_EQ(1, state->input_index);

    state->bytes_per_frame = 0;
    ready = 9;
    EXPECT_EQ(STRM_E_NO_DATA, strm_add_audio(state, bytes, 4, &ready));
    EXPECT_EQ(9, ready);
}

// The resampler written out from its formulas: a 32-sample input ring,
// the symmetric 16-tap filter, and 441 / M phase steps with linear
// interpolation towards the previous filter output when p is not 0.
struct DirectResampler {
    explicit DirectResampler(int32_t row) : c(strm_fir_coefficients(row))
    {
        modulus = 2 * strm_rate_of_row(row) / 25;
    }
    static int64_t wrap(int64_t v)
    {
        const int64_t low = v & 0xFFFFFFFF;
        return low >= 0x80000000LL ? low - 0x100000000LL : low;
    }
    int64_t fir(int32_t j) const
    {
        int64_t y = 0;
        for (int32_t k = 0; k < 8; ++k)
            y += static_cast<int64_t>(c[k]) *
                 (x[((j - k) % 32 + 32) % 32] + x[((j - 15 + k) % 32 + 32) % 32]);
        return y;
    }
    void push(int32_t sample, std::vector<int32_t> &out)
    {
        x[i] = sample;
        if (p < 441) {
            // 32-bit arithmetic: differences and products wrap around.
            int64_t y = wrap(fir(i));
            if (p != 0) {
                const int64_t d = wrap(wrap(fir(i - 1)) - y);
                const int64_t step = d >= 0 ? d / 32768 : -((-d + 32767) / 32768);
                y = wrap(y + wrap(step * static_cast<int64_t>(p * 74)));
                ++interpolated;
            }
            out.push_back(static_cast<int32_t>(y));
        }
        p += 441;
        if (p >= modulus)
            p -= modulus;
        i = (i + 1) % 32;
    }
    const int16_t *c;
    uint32_t modulus = 0;
    int32_t x[32] = {};
    int32_t i = 0;
    uint32_t p = 0;
    int interpolated = 0;
};

TEST_F(StreamInput, ResamplerMatchesItsDirectFormulaAtEveryRate)
{
    std::mt19937 gen(99);
    for (int32_t row = 0; row < 8; ++row) {
        make(kRates[row], SAMPLE_PCM_S16, 1);
        DirectResampler direct(row);
        std::vector<int32_t> want;
        std::vector<uint8_t> bytes;
        // Loud random audio, enough for fewer than N = 2048 outputs.
        const uint32_t frames = 2000 * direct.modulus / 441;
        for (uint32_t n = 0; n < frames; ++n) {
            const int32_t v = static_cast<int32_t>(gen() % 65536) - 32768;
            direct.push(v, want);
            bytes.push_back(static_cast<uint8_t>(v & 0xFF));
            bytes.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
        }
        // Fed in uneven pieces of whole frames.
        size_t at = 0;
        for (size_t piece = 2; at < bytes.size(); piece = piece * 3 + 2) {
            const size_t take = std::min(piece, bytes.size() - at);
            uint8_t ready = 0;
            ASSERT_EQ(ENG_OK, strm_add_audio(state, bytes.data() + at, static_cast<uint32_t>(take),
                                             &ready));
            at += take;
        }
        ASSERT_EQ(want.size(), static_cast<size_t>(state->ring_position)) << kRates[row];
        for (size_t k = 0; k < want.size(); ++k)
            ASSERT_EQ(want[k], state->frame_ring[k]) << kRates[row] << " output " << k;
        // Only rates where M is not a multiple of 441 ever interpolate.
        const bool interpolates = kRates[row] % 11025 != 0;
        EXPECT_EQ(interpolates, direct.interpolated > 0) << kRates[row];
        // The filter alone at every ring index, as the definition names it.
        for (int32_t j = 0; j < 32; ++j) {
            state->input_index = j;
            ASSERT_EQ(DirectResampler::wrap(direct.fir(j)), strm_fir(state)) << j;
        }
    }
}

TEST_F(StreamInput, EveryRateGives441OutputsPerMInputs)
{
    const uint32_t moduli[8] = {640, 882, 1280, 1764, 1920, 2560, 3528, 3840};
    for (int32_t row = 0; row < 8; ++row) {
        make(kRates[row], SAMPLE_PCM_U8, 1);
        std::vector<uint8_t> frames(moduli[row], 0x80);
        add(frames);
        EXPECT_EQ(441, state->ring_position) << kRates[row];
        EXPECT_EQ(0u, state->phase) << kRates[row];
        EXPECT_EQ(static_cast<int32_t>(moduli[row] % 32), state->input_index);
    }
}

TEST_F(StreamInput, At44100HzOneOutputFollowsEveryEightFrames)
{
    make(44100, SAMPLE_PCM_S16, 2);
    const uint32_t expected_phase[8] = {0, 441, 882, 1323, 1764, 2205, 2646, 3087};
    std::vector<uint8_t> frame(4, 0);
    for (int n = 0; n < 80; ++n) {
        EXPECT_EQ(expected_phase[n % 8], state->phase) << n;
        add(frame);
        EXPECT_EQ(n / 8 + 1, state->ring_position) << n;
    }
}

TEST_F(StreamInput, At8000HzOutputsFollowOneOrTwoFrames)
{
    make(8000, SAMPLE_PCM_S16, 1);
    std::vector<uint8_t> frame(2, 0);
    int32_t last = 0;
    int32_t gap = 0;
    for (int n = 0; n < 640; ++n) {
        add(frame);
        ++gap;
        if (state->ring_position != last) {
            EXPECT_LE(gap, 2);
            gap = 0;
            last = state->ring_position;
        }
    }
    EXPECT_EQ(441, state->ring_position);
}

} // namespace
