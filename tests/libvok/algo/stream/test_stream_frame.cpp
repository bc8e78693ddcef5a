// Frame analysis: normalisation, window, power spectrum, bands, difference
// filter, weak-bit ranking, quiet-frame test, generator and framing.
#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <climits>
#include <cmath>
#include <random>
#include <vector>

#include "algo/stream/strm_internal.h"
#include "engine/eng_memory.h"
#include "tests/support/alloc_faults.h"

namespace {

class StreamFrame : public ::testing::Test {
protected:
    void SetUp() override { vok_test::start_memory_layer(); }
    void TearDown() override
    {
        if (state)
            strm_destroy(state);
    }
    StreamState *make(uint32_t id = 3)
    {
        void *made = nullptr;
        EXPECT_EQ(ENG_OK, strm_create(id, 44100, SAMPLE_PCM_S16, 2, &made));
        state = static_cast<StreamState *>(made);
        return state;
    }
    int blocks() const
    {
        int n = 0;
        for (const EncodedBlock *b = state->blocks; b; b = b->next)
            ++n;
        return n;
    }
    StreamState *state = nullptr;
};

struct NormalizeCase {
    std::vector<int32_t> in;
    int32_t target;
    int32_t shift;
    std::vector<int32_t> out;
};

TEST(StreamNormalize, ScalesTheLargestMagnitudeToTheTargetBits)
{
    const NormalizeCase cases[] = {
        {{0, 0, 0}, 15, 15, {0, 0, 0}},
        {{1}, 15, 14, {16384}},
        {{-1}, 15, 15, {-32768}},
        {{32767, -5}, 15, 0, {32767, -5}},
        {{-32768}, 15, 0, {-32768}},
        {{32768, 3}, 15, -1, {16384, 1}},
        {{INT32_MIN, -1, 1}, 15, -16, {-32768, -1, 0}},
        {{INT32_MAX}, 21, -10, {2097151}},
        {{5, -7}, 24, 21, {5 << 21, -7 * (1 << 21)}}, // -7 needs 3 bits plus sign
    };
    for (const NormalizeCase &c : cases) {
        std::vector<int32_t> v = c.in;
        EXPECT_EQ(c.shift, strm_normalize(v.data(), static_cast<int32_t>(v.size()), c.target));
        EXPECT_EQ(c.out, v);
    }
}

TEST_F(StreamFrame, GeneratorStartsWithItsKnownOutputs)
{
    make();
    const uint32_t expected[] = {0xff7efd75u, 0xa3b1211eu, 0x692d3c0bu, 0x74661460u};
    for (uint32_t want : expected)
        EXPECT_EQ(want, strm_random_next(&state->random));
    EXPECT_EQ(28, state->random.index);
    // Two dozen more words wrap the index around without trouble.
    for (int i = 0; i < 40; ++i)
        strm_random_next(&state->random);
    EXPECT_EQ(20, state->random.index);
}

TEST(StreamWeakBits, RanksByUnsignedMagnitudeWithTiesToTheLowerBit)
{
    int32_t out[32] = {};
    EXPECT_EQ(0xFFFC0000u, strm_weak_bit_mask(out, 14));
    EXPECT_EQ(0xFF000000u, strm_weak_bit_mask(out, 8));

    // -2^31 has magnitude 2^31: the most reliable, never among the weak.
    for (int k = 0; k < 32; ++k)
        out[k] = 1000 + k;
    out[0] = INT32_MIN;
    out[31] = INT32_MAX;
    EXPECT_EQ(0x7F800000u, strm_weak_bit_mask(out, 8)); // k = 1 ... 8
    out[0] = 1;
    out[20] = -1; // equal magnitudes: k = 0 first, then k = 20
    EXPECT_EQ(0x80000800u | 0x7E000000u, strm_weak_bit_mask(out, 8));

    std::mt19937 gen(3);
    for (int trial = 0; trial < 200; ++trial) {
        for (auto &v : out)
            v = static_cast<int32_t>(gen() % 7) - 3; // many ties
        for (int32_t w : {8, 14}) {
            const uint32_t mask = strm_weak_bit_mask(out, w);
            ASSERT_EQ(static_cast<size_t>(w), std::bitset<32>(mask).count());
            // Every marked bit is at most as reliable as every unmarked one.
            for (int a = 0; a < 32; ++a) {
                for (int b = 0; b < 32; ++b) {
                    if ((mask >> (31 - a) & 1) && !(mask >> (31 - b) & 1)) {
                        ASSERT_TRUE(std::abs(out[a]) < std::abs(out[b]) ||
                                    (std::abs(out[a]) == std::abs(out[b]) && a < b));
                    }
                }
            }
        }
    }
}

TEST_F(StreamFrame, DifferenceFilterShiftsCountModulo32)
{
    make();
    int32_t energies[STRM_BAND_COUNT] = {};
    // Band group k: h = (B[2k] + B[2k+1] + B[2k+2]) - (B[2k+3] + B[2k+4] + B[2k+5]).
    energies[0] = 1 << 20; // group 0 only: h[0] = 2^20
    energies[5] = 3;       // h[0] = 2^20 - 3, h[1] = -3, h[2] = 3
    int32_t out[32];
    state->previous_exponent = 0;
    for (auto &p : state->previous_filter)
        p = 64;
    // d = (E + 2) - 0 = 35: shifts h by 3, not by 35.
    strm_difference_filter(state, energies, 33, out);
    EXPECT_EQ(((1 << 20) - 3) / 8 - 64, out[0]);
    EXPECT_EQ((-3 >> 3) - 64, out[1]); // h[1] = B[2..4] - B[5..7] = -3
    EXPECT_EQ(-64, out[5]);
    EXPECT_EQ(35, state->previous_exponent);
    EXPECT_EQ((1 << 20) - 3, state->previous_filter[0]); // kept unshifted
    EXPECT_EQ(-3, state->previous_filter[1]);

    // d = 0 - 35 = -35: the previous values are shifted by 3.
    strm_difference_filter(state, energies, -2, out);
    EXPECT_EQ((1 << 20) - 3 - (((1 << 20) - 3) >> 3), out[0]);
    EXPECT_EQ(-3 - (-3 >> 3), out[1]);
    EXPECT_EQ(0, state->previous_exponent);

    // Extreme values wrap around in 32 bits instead of overflowing.
    energies[0] = energies[1] = energies[2] = INT32_MAX / 2;
    state->previous_filter[0] = INT32_MIN;
    strm_difference_filter(state, energies, -2, out);
    const uint32_t h = 3u * static_cast<uint32_t>(INT32_MAX / 2) - 3u; // B[5] is still 3
    EXPECT_EQ(static_cast<int32_t>(h - 0x80000000u), out[0]);
}

struct QuietCase {
    int32_t energy;
    int32_t exponent;
    uint8_t quiet;
};

TEST(StreamQuiet, LevelDecidesWhetherTheWordIsKept)
{
    // Energies of 2^23 stay (g = 0) and sum to 70 x 2^23, so S >> L is
    // 70 x 2^(23 - L) with L = 11 + E + 1.
    const QuietCase cases[] = {
        {1 << 23, -13, 0},              // L = -1: kept without shifting
        {1 << 23, -12, 0},              // L = 0
        {1 << 23, 12, 0},               // L = 24: 35
        {1 << 23, 13, 1},               // L = 25: 17
        {1 << 23, 19, 1},               // L = 31: 0
        {1 << 23, 20, 1},               // L = 32
        {1 << 23, 127, 1}, {0, 127, 1}, // silence: g = 24, L = 163
        {0, -40, 0},                    // L = -4 even for zero energy
        {0, -36, 1},                    // L = 0, S = 0
    };
    for (const QuietCase &c : cases) {
        int32_t energies[STRM_BAND_COUNT];
        for (auto &e : energies)
            e = c.energy;
        EXPECT_EQ(c.quiet, strm_is_quiet(energies, 11, c.exponent))
            << c.energy << " " << c.exponent;
    }
}

TEST_F(StreamFrame, PowerSpectrumFollowsTheBins)
{
    make();
    int32_t *f = state->frame;
    for (int k = 0; k < 2048; ++k)
        f[k] = 0;
    f[0] = -3;
    f[1] = 5;
    f[200] = 100; // bin 100
    f[201] = -20;
    f[2046] = -32768; // bin 1023: 2^30 + 2^30 wraps to -2^31
    f[2047] = -32768;
    strm_power_spectrum(state);
    EXPECT_EQ(9, f[0]);
    EXPECT_EQ(25, f[1024]);
    EXPECT_EQ(10400, f[100]);
    EXPECT_EQ(INT32_MIN, f[1023]);
    EXPECT_EQ(0, f[99]);
}

TEST_F(StreamFrame, WindowAndFrameCopy)
{
    make();
    for (int k = 0; k < 2048; ++k)
        state->frame_ring[k] = k;
    state->ring_position = 100;
    strm_copy_frame(state);
    EXPECT_EQ(100, state->frame[0]);
    EXPECT_EQ(2047, state->frame[1947]);
    EXPECT_EQ(0, state->frame[1948]);
    EXPECT_EQ(99, state->frame[2047]);

    for (int k = 0; k < 2048; ++k)
        state->frame[k] = k % 2 ? -32768 : 32767;
    strm_apply_window(state);
    const uint16_t *w = rfft_size_tables(2048)->window;
    for (int k = 0; k < 1024; ++k) {
        ASSERT_EQ((k % 2 ? -32768 : 32767) * static_cast<int32_t>(w[k]), state->frame[k]);
        ASSERT_EQ((k % 2 ? 32767 : -32768) * static_cast<int32_t>(w[k]), state->frame[2047 - k]);
    }
}

TEST_F(StreamFrame, SilenceGivesGeneratorWordsAndTheHighestMaskBits)
{
    for (uint32_t id : {3u, 4u, 5u}) {
        if (state)
            strm_destroy(state);
        make(id);
        const int32_t n = state->frame_length;
        for (int32_t i = 0; i < n; ++i)
            strm_push_sample(state, 0);
        // The first frame is analysed and primes: exponent 127 stored + 2.
        EXPECT_EQ(1, state->have_previous_frame);
        EXPECT_EQ(129, state->previous_exponent);
        EXPECT_EQ(0, state->count);
        EXPECT_EQ(31, state->random.index); // its word was drawn and dropped
        for (int32_t i = 0; i < state->hop; ++i)
            strm_push_sample(state, 0);
        EXPECT_EQ(1, state->count);
        EXPECT_EQ(0xa3b1211eu, state->fingerprints[0]);
        EXPECT_EQ(id == 3 ? 0xFFFC0000u : 0xFF000000u, state->masks[0]);
    }
}

TEST_F(StreamFrame, BlocksFinishAfter18432SamplesThenEvery16384)
{
    struct Case {
        uint32_t id;
        int32_t first, next;
    };
    for (const Case &c : {Case{3, 18432, 16384}, Case{5, 36864, 32768}}) {
        if (state)
            strm_destroy(state);
        make(c.id);
        int32_t pushed = 0;
        auto push_until = [&](int32_t total) {
            for (; pushed < total; ++pushed)
                strm_push_sample(state, (pushed * 7919) % 20001 - 10000);
        };
        push_until(c.first - 1);
        EXPECT_EQ(0, blocks());
        EXPECT_EQ(0, state->ready);
        push_until(c.first);
        EXPECT_EQ(1, blocks());
        EXPECT_EQ(1, state->ready);
        push_until(c.first + c.next - 1);
        EXPECT_EQ(1, blocks());
        push_until(c.first + c.next);
        EXPECT_EQ(2, blocks());
    }
}

TEST_F(StreamFrame, LoudAudioKeepsItsOwnWordsAndLeavesTheGeneratorAlone)
{
    make();
    // A tone sweeping from 300 Hz to 1800 Hz: loud frames everywhere.
    for (int32_t i = 0; i < 2048 + 64 * 40; ++i) {
        const double t = i / 5512.5;
        const double v =
            std::sin(2 * 3.14159265358979 * (300 + 1500 * t / 1.6) * t) * 20000 * 32768;
        strm_push_sample(state, static_cast<int32_t>(v));
    }
    EXPECT_EQ(40, state->count);
    EXPECT_EQ(0, state->random.index);
    // As the tone moves through the bands, the words change.
    std::bitset<32> seen_set, seen_clear;
    for (int i = 0; i < 40; ++i) {
        seen_set |= state->fingerprints[i];
        seen_clear |= ~state->fingerprints[i];
        EXPECT_EQ(14u, std::bitset<32>(state->masks[i]).count());
    }
    EXPECT_GT((seen_set & seen_clear).count(), 4u);
}

} // namespace

namespace {

// The analysis against a double-precision evaluation of what it defines.
// All its scalings are powers of two that the frame exponent records, so
// that for two consecutive frames out[k] = 2^(E1 - 46) (H2[k] - H1[k]), H
// being the band-group difference of the raw frame's windowed power
// spectrum: bit 31 - k is the sign of H2[k] - H1[k], and the mask marks the
// W smallest |H2[k] - H1[k]|. Only what rounding cannot decide is skipped:
// bits whose difference is within 1e-4 of the energies involved, masks
// whose W-th and (W+1)-th smallest differences are that close.
std::vector<double> band_groups(const std::vector<double> &x, const StreamState *s)
{
    const int32_t n = s->frame_length;
    std::vector<double> windowed(static_cast<size_t>(n));
    for (int32_t k = 0; k < n; ++k)
        windowed[k] = x[k] * s->window[k < n / 2 ? k : n - 1 - k];
    std::vector<double> power(static_cast<size_t>(n / 2 + 1));
    for (int32_t bin = 0; bin <= n / 2; ++bin) {
        double re = 0, im = 0;
        for (int32_t k = 0; k < n; ++k) {
            const double angle = 2 * 3.14159265358979323846 * bin * k / n;
            re += windowed[k] * std::cos(angle);
            im -= windowed[k] * std::sin(angle);
        }
        power[bin] = re * re + im * im;
    }
    std::vector<double> bands(STRM_BAND_COUNT, 0.0);
    for (int b = 0; b < STRM_BAND_COUNT; ++b)
        for (int32_t j = s->band_edges[b]; j < s->band_edges[b + 1]; ++j)
            bands[b] += power[(j + 2) / 4];
    std::vector<double> h(STRM_FILTER_COUNT);
    for (int k = 0; k < STRM_FILTER_COUNT; ++k)
        h[k] = bands[2 * k] + bands[2 * k + 1] + bands[2 * k + 2] -
               (bands[2 * k + 3] + bands[2 * k + 4] + bands[2 * k + 5]);
    h.push_back(bands[0] + bands[STRM_BAND_COUNT / 2] + bands[STRM_BAND_COUNT - 1]);
    return h; // the 32 differences, then a measure of the energy
}

TEST(StreamAnalysis, AgreesWithADoublePrecisionEvaluation)
{
    vok_test::start_memory_layer();
    for (uint32_t id : {3u, 4u, 5u}) {
        void *made = nullptr;
        ASSERT_EQ(ENG_OK, strm_create(id, 44100, SAMPLE_PCM_S16, 2, &made));
        auto *s = static_cast<StreamState *>(made);
        const int32_t n = s->frame_length;
        std::mt19937 gen(id);
        std::vector<double> previous;
        int decided = 0, masks = 0;
        // Chords that change from frame to frame over noise, from full
        // scale down to a level where every step of the scaling matters.
        const double amplitudes[] = {2e9, 2e9, 3e7, 1e7, 4e8, 1e7, 1e9, 2e7};
        for (int frame = 0; frame < 8; ++frame) {
            std::vector<double> x(static_cast<size_t>(n));
            for (int32_t k = 0; k < n; ++k) {
                double v = 0.2 * (static_cast<double>(gen()) / 4294967296.0 - 0.5);
                for (int tone = 0; tone < 4; ++tone)
                    v +=
                        0.2 * std::sin(2 * 3.14159265358979 * (0.04 + 0.07 * tone + 0.011 * frame) *
                                       k * 2048.0 / n * 0.5);
                x[k] = std::floor(amplitudes[frame] * v);
                s->frame[k] = static_cast<int32_t>(x[k]);
            }
            uint32_t mask = 0;
            const uint32_t word = strm_analyze_frame(s, &mask);
            const std::vector<double> h = band_groups(x, s);
            if (!previous.empty()) {
                const double scale = 1e-4 * (h[32] + previous[32]);
                std::vector<std::pair<double, int>> ranked;
                for (int k = 0; k < 32; ++k) {
                    const double out = h[k] - previous[k];
                    ranked.push_back({std::fabs(out), k});
                    if (std::fabs(out) > scale) {
                        EXPECT_EQ(out > 0, ((word >> (31 - k)) & 1u) != 0) << id << " " << frame;
                        ++decided;
                    }
                }
                std::stable_sort(ranked.begin(), ranked.end());
                const size_t w = static_cast<size_t>(s->weak_bits);
                if (ranked[w].first - ranked[w - 1].first > scale) {
                    uint32_t want = 0;
                    for (size_t r = 0; r < w; ++r)
                        want |= 0x80000000u >> ranked[r].second;
                    EXPECT_EQ(want, mask) << id << " " << frame;
                    ++masks;
                }
            }
            previous = h;
        }
        EXPECT_GT(decided, 7 * 32 * 3 / 4) << id;
        EXPECT_GT(masks, 0) << id;
        strm_destroy(made);
    }
}

} // namespace
