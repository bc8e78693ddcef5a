// The resampler: factor choice, filter design, stored filters, FileFixed's
// Q31 tables, and the output stream against a direct, slow computation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "algo/spectral/sfp_internal.h"
#include "algo/spectral/sfp_resampler.h"
#include "tests/libvok/algo/spectral/sfp_test_signals.h"
#include "tests/support/alloc_faults.h"

namespace {

class SfpResampler : public vok_test::LeakCheckedTest {};

struct Factors {
    double input;
    uint32_t up, down;
};

TEST_F(SfpResampler, ContinuedFractionFindsTheFactors)
{
    const Factors table[] = {
        {48000, 147, 640}, {44100, 1, 4}, {32000, 441, 1280}, {24000, 147, 320},  {22050, 1, 2},
        {16000, 441, 640}, {11025, 1, 1}, {8000, 441, 320},   {96000, 147, 1280}, {5512.5, 2, 1}};
    for (const Factors &f : table) {
        uint32_t up = 0, down = 0;
        ASSERT_TRUE(sfp_choose_factors(f.input, 11025.0, &up, &down)) << f.input;
        EXPECT_EQ(f.up, up) << f.input;
        EXPECT_EQ(f.down, down) << f.input;
    }
    uint32_t up = 0, down = 0;
    EXPECT_FALSE(sfp_choose_factors(0.0, 11025.0, &up, &down));
    EXPECT_FALSE(sfp_choose_factors(44100.0, 0.0, &up, &down));
    // An awkward rate still finds a fraction within 1e-6.
    ASSERT_TRUE(sfp_choose_factors(44101.0, 11025.0, &up, &down));
    EXPECT_NEAR(11025.0 / 44101.0, static_cast<double>(up) / down, 11025.0 / 44101.0 * 1e-6);
}

TEST_F(SfpResampler, DesignOf48000Hz)
{
    SfpFilterShape shape;
    ASSERT_TRUE(sfp_filter_shape(147, 640, &shape));
    EXPECT_EQ(640u, shape.half_width);
    EXPECT_EQ(12801u, shape.taps);
    EXPECT_EQ(493u, shape.leading);
    EXPECT_EQ(13377u, shape.length);
    EXPECT_EQ(83u, shape.length - shape.leading - shape.taps);
    EXPECT_EQ(91u, shape.per_phase);
    EXPECT_FLOAT_EQ(147.0f / 640.0f, sfp_filter_tap(&shape, 493 + 6400));
    EXPECT_EQ(0.0f, sfp_filter_tap(&shape, 492));
    EXPECT_EQ(0.0f, sfp_filter_tap(&shape, 493 + 12801));
    // The Hamming-windowed sinc in double precision.
    const double pi = 3.14159265358979323846;
    for (uint32_t j : {0u, 1u, 100u, 3000u, 6399u}) {
        const double u = pi / 640 * (static_cast<double>(j) - 6400.0);
        const double tap =
            (0.54 - 0.46 * std::cos(2 * pi * j / 12800.0)) * (147.0 / 640.0) * std::sin(u) / u;
        EXPECT_NEAR(tap, sfp_filter_tap(&shape, 493 + j), 1e-6) << j;
        EXPECT_EQ(sfp_filter_tap(&shape, 493 + j), sfp_filter_tap(&shape, 493 + 12800 - j));
    }
    EXPECT_FALSE(sfp_filter_shape(0, 4, &shape));
    EXPECT_FALSE(sfp_filter_shape(1, 1000000, &shape)) << "a table beyond 2^24 is refused";
}

TEST_F(SfpResampler, StoredFilters)
{
    const float *quarter = sfp_quarter_band_filter();
    const float *half = sfp_half_band_filter();
    EXPECT_EQ(0.0f, quarter[0]);
    EXPECT_EQ(0.0f, quarter[2]);
    EXPECT_EQ(0.25f, quarter[43]);
    EXPECT_EQ(0.224765062f, quarter[44]);
    EXPECT_EQ(-0.000282469584f, quarter[82]);
    EXPECT_EQ(quarter[3], quarter[83]);
    for (int k = 0; k <= 40; ++k)
        EXPECT_EQ(quarter[43 + k], quarter[43 - k]);
    EXPECT_EQ(0.0f, half[0]);
    EXPECT_EQ(0.5f, half[21]);
    for (int k = 0; k <= 20; ++k) {
        EXPECT_EQ(2.0f * quarter[43 + 2 * k], half[21 + k]);
        EXPECT_EQ(half[21 + k], half[21 - k]);
    }
}

TEST_F(SfpResampler, FixedTablesAreTheDesignInQ31)
{
    ASSERT_EQ(8u, sfp_fixed_rate_count());
    const uint32_t rates[] = {1, 48000, 44100, 32000, 24000, 22050, 16000, 8000};
    for (uint32_t i = 0; i < 8; ++i) {
        const RateTableRow *row = sfp_fixed_rate_row(i);
        EXPECT_EQ(rates[i], row->input_rate);
        Resampler *r = sfp_resampler_create_fixed(row->input_rate << 15, 11025u << 15);
        if (i == 0) {
            EXPECT_EQ(nullptr, r) << "1 Hz is not resampled to 11025 Hz";
            continue;
        }
        ASSERT_NE(nullptr, r) << row->input_rate;
        EXPECT_EQ(row->length, r->length);
        EXPECT_EQ(0u, row->length % row->up);
        SfpFilterShape shape;
        const bool designed = row->up > 1;
        if (designed) {
            ASSERT_TRUE(sfp_filter_shape(row->up, row->down, &shape));
            EXPECT_EQ(shape.length, row->length);
        }
        const float *stored = row->down == 4 ? sfp_quarter_band_filter() : sfp_half_band_filter();
        const double gain = row->input_rate == 8000 ? 0.5 : 1.0;
        for (uint32_t index = 0; index < row->length; ++index) {
            const double h = gain * (designed ? sfp_filter_tap(&shape, index) : stored[index]);
            const double q31 = h * 2147483648.0;
            ASSERT_NEAR(q31, sfp_resampler_coefficient_fixed(r, index),
                        std::fabs(q31) * 1.2e-7 + 1.0)
                << row->input_rate << " index " << index;
        }
        sfp_resampler_destroy(&r);
    }
    // The 8000 Hz centre tap is 441/640.
    SfpFilterShape shape;
    sfp_filter_shape(441, 320, &shape);
    Resampler *r = sfp_resampler_create_fixed(8000u << 15, 11025u << 15);
    EXPECT_NEAR(441.0 / 640.0 * 2147483648.0,
                sfp_resampler_coefficient_fixed(r, shape.leading + 10 * 441), 256.0);
    sfp_resampler_destroy(&r);
}

TEST_F(SfpResampler, FixedRefusesRatesOutsideItsTable)
{
    EXPECT_EQ(nullptr, sfp_resampler_create_fixed(12000u << 15, 11025u << 15));
    EXPECT_EQ(nullptr, sfp_resampler_create_fixed(96000u << 15, 11025u << 15));
    Resampler *same = sfp_resampler_create_fixed(11025u << 15, 11025u << 15);
    ASSERT_NE(nullptr, same);
    EXPECT_EQ(0u, same->length);
    sfp_resampler_destroy(&same);
}

TEST_F(SfpResampler, HistoryZeros)
{
    struct Case {
        uint32_t rate, zeros;
    } cases[] = {{44100, 40}, {22050, 20}, {48000, 44}, {32000, 30}, {8000, 11}, {11025, 0}};
    for (const Case &c : cases) {
        Resampler *fixed = sfp_resampler_create_fixed(c.rate << 15, 11025u << 15);
        Resampler *floating = sfp_resampler_create_float(static_cast<float>(c.rate), 11025.0f);
        ASSERT_NE(nullptr, fixed);
        ASSERT_NE(nullptr, floating);
        EXPECT_EQ(c.zeros, fixed->history_zeros) << c.rate;
        EXPECT_EQ(c.zeros, floating->history_zeros) << c.rate;
        EXPECT_EQ(c.zeros, fixed->history_count);
        sfp_resampler_destroy(&fixed);
        sfp_resampler_destroy(&floating);
    }
}

// The defined stream: Z zeros, then the input; output n from the K samples
// ending at p_n with the new phase, summed from j = 0 (the newest sample)
// up; p_0 = K - 1.
template <class Real, class Tap>
std::vector<Real> direct_stream(uint32_t up, uint32_t down, uint32_t k, uint32_t zeros,
                                const std::vector<Real> &input, Tap tap)
{
    std::vector<Real> s(zeros, Real(0));
    s.insert(s.end(), input.begin(), input.end());
    std::vector<Real> out;
    uint32_t phase = 0;
    for (size_t p = k - 1; p < s.size();) {
        const uint32_t e = phase + down;
        phase = e % up;
        Real y = Real(0);
        for (uint32_t j = 0; j < k; ++j)
            y += tap(phase + j * up, s[p - j]);
        out.push_back(y);
        p += e / up;
    }
    return out;
}

// FileFloat's stream at a rate from the definition alone, in single
// precision: L/M by the continued fraction, the designed or stored
// coefficients, K = T / L and Z = ceil(v M / L) with v = round((T - 1) / 2) / M.
std::vector<float> defined_float_stream(uint32_t rate, const std::vector<float> &input)
{
    uint32_t up = 0, down = 0;
    EXPECT_TRUE(sfp_choose_factors(rate, 11025.0, &up, &down)) << rate;
    std::vector<float> h;
    SfpFilterShape shape;
    if (up == 1 && (down == 4 || down == 2)) {
        const float *stored = down == 4 ? sfp_quarter_band_filter() : sfp_half_band_filter();
        h.assign(stored, stored + 21 * down); // 84 and 42 coefficients
    } else if ((up != 1 || down != 1) && sfp_filter_shape(up, down, &shape)) {
        for (uint32_t i = 0; i < shape.length; ++i)
            h.push_back(sfp_filter_tap(&shape, i));
    }
    if (h.empty())
        return input;
    const uint32_t zeros = static_cast<uint32_t>((h.size() / 2 / down * down + up - 1) / up);
    return direct_stream<float>(up, down, static_cast<uint32_t>(h.size() / up), zeros, input,
                                [&h](uint32_t index, float x) { return h[index] * x; });
}

std::vector<int32_t> noise(size_t count, uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int32_t> uniform(-30000, 30000);
    std::vector<int32_t> samples(count);
    for (int32_t &x : samples)
        x = uniform(random);
    return samples;
}

// Runs a resampler over the input in pieces of the given sizes (cycled),
// with unlimited room.
template <class Sample, class Process>
std::vector<Sample> run(Resampler *r, const std::vector<Sample> &input,
                        const std::vector<uint32_t> &pieces, uint32_t room_per_call,
                        Process process)
{
    std::vector<Sample> out;
    std::vector<Sample> buffer(room_per_call);
    size_t at = 0;
    size_t piece = 0;
    while (at < input.size()) {
        uint32_t count = pieces[piece++ % pieces.size()];
        if (count > input.size() - at)
            count = static_cast<uint32_t>(input.size() - at);
        uint32_t fed = 0;
        for (;;) {
            uint32_t used = 0, made = 0;
            process(r, input.data() + at + fed, count - fed, buffer.data(), room_per_call, &used,
                    &made);
            out.insert(out.end(), buffer.begin(), buffer.begin() + made);
            fed += used;
            if (used == 0 && made == 0)
                break;
        }
        EXPECT_EQ(count, fed) << "all input is taken when room allows";
        at += count;
    }
    return out;
}

const uint32_t kRates[] = {48000, 44100, 32000, 24000, 22050, 16000, 8000, 11025};

TEST_F(SfpResampler, FloatStreamIsTheDefinedFilterBitForBit)
{
    for (uint32_t rate : {48000u, 44100u, 32000u, 22050u, 8000u, 11025u, 5000u, 1u, 192000u}) {
        uint32_t up = 0, down = 0;
        sfp_choose_factors(rate, 11025.0, &up, &down);
        // At most about 100000 outputs (1 Hz makes 11025 per sample).
        const std::vector<int32_t> samples = noise(std::min(6000u, 20 + 100000u / up * down), rate);
        const std::vector<float> input(samples.begin(), samples.end());
        Resampler *r = sfp_resampler_create_float(static_cast<float>(rate), 11025.0f);
        ASSERT_NE(nullptr, r) << rate;
        EXPECT_TRUE(defined_float_stream(rate, input) ==
                    run(r, input, {4096}, 1u << 17, sfp_resampler_process_float))
            << rate;
        sfp_resampler_destroy(&r);
    }
}

// Below about 5500 Hz one input sample makes several outputs, and a call
// with little room could make outputs without using input, which the
// framing took for the end of the input. Through the state (leading silence
// kept, so that the ring holds every output) in whole-frame pieces of the
// given sizes (cycled, each making fewer outputs than the ring holds), the
// stream is the defined one.
TEST_F(SfpResampler, FloatStreamThroughTheFramingAtLowRates)
{
    for (uint32_t rate : {2000u, 3000u, 4000u, 5000u}) {
        const std::vector<int32_t> samples = noise(8 * rate, rate);
        const std::vector<float> expected =
            defined_float_stream(rate, std::vector<float>(samples.begin(), samples.end()));
        for (const std::vector<uint32_t> &split :
             {std::vector<uint32_t>{1}, {7, 93, 1000}, {4096, 3}, {2500}}) {
            void *handle = nullptr;
            ASSERT_EQ(0u, sfp_create(2, rate, SAMPLE_PCM_S16, 1, &handle));
            auto *state = static_cast<SpectralState *>(handle);
            state->trim_enabled = 0;
            sfp_reset(state);
            std::vector<float> out;
            uint8_t done = 0;
            for (size_t at = 0, piece = 0; at < samples.size(); ++piece) {
                const size_t count =
                    std::min<size_t>(split[piece % split.size()], samples.size() - at);
                const uint32_t before = state->write_pos;
                const std::vector<uint8_t> bytes = sfp_test::pcm16(
                    std::vector<int32_t>(samples.begin() + at, samples.begin() + at + count));
                EXPECT_EQ(0u, sfp_add_audio(handle, bytes.data(),
                                            static_cast<uint32_t>(bytes.size()), &done));
                for (uint32_t i = before; i != state->write_pos; i = (i + 1) % state->ring_size)
                    out.push_back(static_cast<const float *>(state->ring)[i]);
                at += count;
            }
            EXPECT_EQ(expected.size(), out.size()) << rate << " Hz, pieces of " << split[0];
            EXPECT_TRUE(expected == out) << rate << " Hz, pieces of " << split[0];
            sfp_destroy(handle);
        }
    }
}

TEST_F(SfpResampler, FixedStreamMatchesTheDirectComputation)
{
    std::mt19937 random(22);
    std::uniform_int_distribution<int32_t> uniform(-(1 << 30), 1 << 30);
    for (uint32_t rate : kRates) {
        std::vector<int32_t> input(6000);
        for (int32_t &x : input)
            x = uniform(random);
        Resampler *r = sfp_resampler_create_fixed(rate << 15, 11025u << 15);
        ASSERT_NE(nullptr, r);
        const std::vector<int32_t> out =
            run(r, input, {4096}, 1u << 14, sfp_resampler_process_fixed);
        std::vector<double> expected;
        if (r->length == 0) {
            expected.assign(input.begin(), input.end());
        } else {
            // x h / 2^31 with designed tables, x h / 2^32 with stored ones;
            // the halves-based products are within 2 of it per tap.
            const double scale = r->up > 1 ? 2147483648.0 : 4294967296.0;
            expected =
                direct_stream(r->up, r->down, r->taps, r->history_zeros,
                              std::vector<double>(input.begin(), input.end()),
                              [r, scale](uint32_t index, double x) {
                                  return sfp_resampler_coefficient_fixed(r, index) * x / scale;
                              });
        }
        ASSERT_EQ(expected.size(), out.size()) << rate;
        for (size_t n = 0; n < out.size(); ++n)
            ASSERT_NEAR(expected[n], out[n], 2.0 * r->taps + 1) << rate << " output " << n;
        sfp_resampler_destroy(&r);
    }
}

TEST_F(SfpResampler, AnySplitGivesTheSameStream)
{
    std::mt19937 random(23);
    std::uniform_int_distribution<int32_t> uniform(-(1 << 29), 1 << 29);
    std::vector<int32_t> fixed_input(9000);
    for (int32_t &x : fixed_input)
        x = uniform(random);
    std::vector<float> float_input(fixed_input.begin(), fixed_input.end());
    const std::vector<std::vector<uint32_t>> splits = {{9000}, {1}, {7, 93, 1000}, {4096, 3}};
    const uint32_t rooms[] = {1u << 14, 1, 5, 300};
    for (uint32_t rate : kRates) {
        std::vector<int32_t> fixed_reference;
        std::vector<float> float_reference;
        for (size_t s = 0; s < splits.size(); ++s) {
            for (uint32_t room : rooms) {
                Resampler *fixed = sfp_resampler_create_fixed(rate << 15, 11025u << 15);
                Resampler *floating =
                    sfp_resampler_create_float(static_cast<float>(rate), 11025.0f);
                const std::vector<int32_t> a =
                    run(fixed, fixed_input, splits[s], room, sfp_resampler_process_fixed);
                const std::vector<float> b =
                    run(floating, float_input, splits[s], room, sfp_resampler_process_float);
                if (fixed_reference.empty()) {
                    fixed_reference = a;
                    float_reference = b;
                }
                ASSERT_EQ(fixed_reference, a) << rate << " split " << s << " room " << room;
                ASSERT_EQ(float_reference, b) << rate << " split " << s << " room " << room;
                sfp_resampler_destroy(&fixed);
                sfp_resampler_destroy(&floating);
            }
        }
    }
}

TEST_F(SfpResampler, ResetStartsTheStreamAgain)
{
    std::vector<int32_t> input(3000);
    for (size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<int32_t>((i * 7919) % 20000) << 14;
    Resampler *r = sfp_resampler_create_fixed(44100u << 15, 11025u << 15);
    const std::vector<int32_t> first = run(r, input, {1000}, 4096, sfp_resampler_process_fixed);
    sfp_resampler_reset(r);
    EXPECT_EQ(first, run(r, input, {1000}, 4096, sfp_resampler_process_fixed));
    EXPECT_EQ(12u, sfp_resampler_input_for(r, 3));
    sfp_resampler_destroy(&r);
}

TEST_F(SfpResampler, CreationFailsCleanlyWhenMemoryFails)
{
    for (float rate : {48000.0f, 44100.0f, 11025.0f}) {
        vok_test::for_each_allocation_failure([rate] {
            Resampler *r = sfp_resampler_create_float(rate, 11025.0f);
            EXPECT_EQ(vok_test::allocation_failed(), r == nullptr);
            sfp_resampler_destroy(&r);
        });
    }
    vok_test::for_each_allocation_failure([] {
        Resampler *r = sfp_resampler_create_fixed(48000u << 15, 11025u << 15);
        EXPECT_EQ(vok_test::allocation_failed(), r == nullptr);
        sfp_resampler_destroy(&r);
    });
}

} // namespace
