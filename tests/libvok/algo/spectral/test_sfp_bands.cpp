// Band table, band measurement and the final statistics of both variants.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "algo/spectral/sfp_variant.h"
#include "tests/support/alloc_faults.h"

namespace {

class SfpBands : public vok_test::LeakCheckedTest {
protected:
    BandStatistics *create(uint32_t variant, uint32_t skip = 0)
    {
        const BandConfig config = {variant,
                                   15,
                                   256,
                                   12,
                                   skip,
                                   32768,
                                   SFP_BAND_EDGES,
                                   variant == SFP_VARIANT_FIXED
                                       ? static_cast<const void *>(sfp_band_edges_index())
                                       : static_cast<const void *>(sfp_band_edges_hz()),
                                   8192};
        return sfp_bands_create(&config);
    }

    // Appends a measured frame made from per-band values and a mean-square
    // frequency (by default one that changes from frame to frame), as the
    // measurement would leave it.
    static void append(BandStatistics *s, const std::vector<double> &energy,
                       const std::vector<double> &rms, double frequency = -1.0)
    {
        auto *frame = static_cast<BandFrame *>(eng_malloc(sizeof(BandFrame)));
        ASSERT_NE(nullptr, frame);
        if (frequency < 0.0)
            frequency = 0.25 + 0.05 * (s->frames % 3);
        if (s->variant->id == SFP_VARIANT_FIXED)
            frame->frequency.q = static_cast<uint32_t>(std::ldexp(frequency, 28));
        else
            frame->frequency.f = static_cast<float>(frequency);
        for (uint32_t b = 0; b < 15; ++b) {
            if (s->variant->id == SFP_VARIANT_FIXED) {
                frame->energy.q[b] = static_cast<int32_t>(energy[b]);
                frame->rms.q[b] = static_cast<int32_t>(rms[b]);
            } else {
                frame->energy.f[b] = static_cast<float>(energy[b]);
                frame->rms.f[b] = static_cast<float>(rms[b]);
            }
        }
        frame->next = nullptr;
        *s->last_link = frame;
        s->last_link = &frame->next;
        ++s->frames;
    }
};

TEST_F(SfpBands, HzEdgesGiveTheIndexTable)
{
    BandStatistics *floating = create(SFP_VARIANT_FLOAT);
    BandStatistics *fixed = create(SFP_VARIANT_FIXED);
    ASSERT_NE(nullptr, floating);
    ASSERT_NE(nullptr, fixed);
    const uint32_t *index = sfp_band_edges_index();
    for (uint32_t b = 0; b < 15; ++b) {
        EXPECT_EQ(index[2 * b], floating->low[b]) << b;
        EXPECT_EQ(index[2 * b + 1], floating->high[b]) << b;
        EXPECT_EQ(index[2 * b], fixed->low[b]);
        EXPECT_EQ(index[2 * b + 1], fixed->high[b]);
        if (b > 0) {
            EXPECT_EQ(index[2 * b - 1], index[2 * b]) << "neighbours share an edge";
        }
        // The weight turns an energy into a mean square: about 2^40 / width.
        const double width = index[2 * b + 1] - index[2 * b] + 1.0;
        EXPECT_NEAR(std::ldexp(1.0, 40) / width, sfp_band_weights()[b],
                    1e-4 * sfp_band_weights()[b]);
    }
    EXPECT_EQ(16049u, index[29]);
    EXPECT_EQ(60u, sfp_result_size(fixed));
    sfp_bands_destroy(&floating);
    sfp_bands_destroy(&fixed);
    EXPECT_EQ(nullptr, fixed);
}

TEST_F(SfpBands, SharedEdgeCoefficientCountsInBothBands)
{
    BandStatistics *floating = create(SFP_VARIANT_FLOAT);
    BandStatistics *fixed = create(SFP_VARIANT_FIXED);
    std::vector<float> x(32768, 0.0f);
    std::vector<int32_t> q(32768, 0);
    x[593] = 100.0f;
    q[593] = 100 << 15;
    BandFrame a = {}, b = {};
    sfp_bands_measure_float(floating, x.data(), &a);
    sfp_bands_measure_fixed(fixed, q.data(), &b);
    for (uint32_t band = 0; band < 15; ++band) {
        const bool holds = band <= 1;
        EXPECT_EQ(holds ? 10000.0f : 0.0f, a.energy.f[band]) << band;
        const double width = band == 0 ? 594.0 : 596.0;
        EXPECT_NEAR(holds ? std::sqrt(10000.0 / width) : 0.0, a.rms.f[band], 1e-4);
        // Fixed: (X^2 >> 32) with X at 2^15, rms in Q15 of 2^4 x that root.
        EXPECT_EQ(holds ? 2500 : 0, b.energy.q[band]) << band;
        const double rms = std::sqrt(2500.0 * 256 / width) * 32768;
        EXPECT_NEAR(holds ? rms : 0.0, b.rms.q[band], holds ? rms * 1e-3 : 0.0);
    }
    sfp_bands_destroy(&floating);
    sfp_bands_destroy(&fixed);
}

// Also for levels so small that FileFixed's sums / 2^16 fall below 128 (it
// then divides with more bits).
TEST_F(SfpBands, OneBandWithTheWholeShareGives32768)
{
    const std::pair<uint32_t, double> runs[] = {{SFP_VARIANT_FIXED, 1.0},
                                                {SFP_VARIANT_FIXED, 1e-4},
                                                {SFP_VARIANT_FLOAT, 1.0},
                                                {SFP_VARIANT_FLOAT, 1e-4}};
    for (const auto &[variant, scale] : runs) {
        BandStatistics *s = create(variant);
        for (int f = 0; f < 12; ++f) {
            std::vector<double> energy(15, 0.0), rms(15, 0.0);
            energy[3] = scale * (1e6 + 1e5 * (f % 3));
            rms[3] = scale * (4e6 + 5e5 * (f % 4));
            append(s, energy, rms);
        }
        ASSERT_TRUE(sfp_bands_is_complete(s));
        int16_t values[30];
        ASSERT_EQ(60u, sfp_get_result(s, values, 60)) << variant << " " << scale;
        for (int i = 0; i < 30; ++i) {
            const bool whole = i == 3 || i == 18;
            const uint16_t value = static_cast<uint16_t>(values[i]);
            if (!whole) {
                EXPECT_EQ(0, value) << variant << " " << i;
            } else if (variant == SFP_VARIANT_FLOAT) {
                EXPECT_EQ(0x8000, value) << i;
            } else {
                // The integer division by the truncated sum / 2^16 can only
                // overshoot, by less than 1/128 of the share.
                EXPECT_GE(value, 0x8000) << i;
                EXPECT_LE(value, 0x8000 + 256) << i;
            }
        }
        EXPECT_EQ(0u, sfp_get_result(s, values, 59)) << "too little room";
        sfp_bands_destroy(&s);
    }
}

// The shares against a direct computation in double: level = root of the
// mean energy, spread = standard deviation of the rms over the frames.
TEST_F(SfpBands, SharesFollowTheDirectComputation)
{
    std::mt19937 random(4);
    std::uniform_real_distribution<double> uniform(0.5, 1.5);
    std::vector<std::vector<double>> energy(12, std::vector<double>(15));
    std::vector<std::vector<double>> rms(12, std::vector<double>(15));
    for (int f = 0; f < 12; ++f) {
        for (int b = 0; b < 15; ++b) {
            energy[f][b] = 2e5 * (b + 1) * uniform(random);
            rms[f][b] = 3e6 * (16 - b) * uniform(random);
        }
    }
    double level[15], spread[15], level_sum = 0, spread_sum = 0;
    for (int b = 0; b < 15; ++b) {
        double e = 0, m = 0, v = 0;
        for (int f = 0; f < 12; ++f) {
            e += energy[f][b];
            m += rms[f][b];
        }
        m /= 12;
        for (int f = 0; f < 12; ++f)
            v += (rms[f][b] - m) * (rms[f][b] - m);
        level[b] = std::sqrt(e / 12);
        spread[b] = std::sqrt(v / 11);
        level_sum += level[b];
        spread_sum += spread[b];
    }
    for (uint32_t variant : {SFP_VARIANT_FIXED, SFP_VARIANT_FLOAT}) {
        BandStatistics *s = create(variant);
        for (int f = 0; f < 12; ++f)
            append(s, energy[f], rms[f]);
        int16_t values[30];
        ASSERT_EQ(60u, sfp_get_result(s, values, 60));
        int sum_levels = 0;
        for (int b = 0; b < 15; ++b) {
            EXPECT_NEAR(32768 * level[b] / level_sum, values[b], 12.0) << variant << " " << b;
            EXPECT_NEAR(32768 * spread[b] / spread_sum, values[15 + b], 12.0)
                << variant << " " << b;
            sum_levels += values[b];
        }
        EXPECT_LE(sum_levels, 32768 + 15);
        sfp_bands_destroy(&s);
    }
}

// Nothing to share out, or frames of a steady sound: frequencies that vary
// by at most 2^-11 of their mean (alternating by +-a gives a standard
// deviation of a x sqrt(12 / 11)).
TEST_F(SfpBands, NothingToShareOrASteadySoundGiveNoResult)
{
    struct Case {
        const char *what;
        double energy, rms, rms_step, frequency_step;
        bool result;
    } cases[] = {
        {"no energy at all", 0, 0, 0, 0.1, false},
        {"levels that never change", 1e6, 4e6, 0, 0.1, false},
        {"frequencies within 2^-12 of their mean", 1e6, 4e6, 5e5, 0.25 / 4096, false},
        {"frequencies within 2^-11.5 of their mean", 1e6, 4e6, 5e5, 0.25 / 2896, false},
        {"frequencies 2^-11 from their mean", 1e6, 4e6, 5e5, 0.25 / 2048, true},
    };
    for (const Case &c : cases) {
        for (uint32_t variant : {SFP_VARIANT_FIXED, SFP_VARIANT_FLOAT}) {
            BandStatistics *s = create(variant);
            for (int f = 0; f < 12; ++f)
                append(s, std::vector<double>(15, c.energy),
                       std::vector<double>(15, c.rms + c.rms_step * (f % 2)),
                       0.25 + c.frequency_step * (f % 2 ? 1 : -1));
            int16_t values[30] = {};
            EXPECT_EQ(c.result ? 60u : 0u, sfp_get_result(s, values, 60))
                << c.what << " " << variant;
            EXPECT_EQ(c.result, s->result_ready != 0);
            sfp_bands_destroy(&s);
        }
    }
}

// The frequency of a frame (given in two pieces) against the mean-square
// frequency of a sine, 4 sin^2(w / 2): 4 for alternating signs, 0 for
// silence (the weights cost about (w N)^-2).
TEST_F(SfpBands, FrameFrequencyOfSinesAndSilence)
{
    for (double w : {0.0, 0.01, 0.3, 1.7, 3.1, 3.14159265358979}) {
        std::vector<float> x(32768);
        std::vector<int32_t> q(32768);
        for (uint32_t n = 0; n < x.size(); ++n) {
            x[n] = static_cast<float>(w == 0.0 ? 0.0 : 20000.0 * std::sin(w * n + 0.4));
            q[n] = static_cast<int32_t>(std::lround(x[n] * 16384.0));
        }
        const double m = 4.0 * std::sin(w / 2) * std::sin(w / 2);
        EXPECT_NEAR(m, sfp_frame_frequency_float(x.data(), 9000, x.data() + 9000, 23768, 32768),
                    2e-5 * m)
            << w;
        EXPECT_NEAR(
            m,
            std::ldexp(sfp_frame_frequency_fixed(q.data(), 30000, q.data() + 30000, 2768, 32768),
                       -28),
            2e-5 * m)
            << w;
    }
}

// Quiet frames, a few 16-bit steps or less (FileFixed's samples are 2^14
// times FileFloat's): FileFixed sums its weighted squares exactly, so they
// measure like loud ones. Taking each square >> 16 lost most of them (the
// alternation at 1/8 step came out clamped at 16, the slow sine at 4 steps
// at half its value).
TEST_F(SfpBands, FrameFrequencyOfQuietFrames)
{
    struct Case {
        double amplitude; // FileFixed units
        double w;
        double phase;
        double tolerance; // relative
    };
    const double pi = 3.14159265358979;
    for (const Case &c : {Case{2048, pi, pi / 2, 1e-5}, Case{8192, pi, pi / 2, 1e-5},
                          Case{65536, 0.05, 0.4, 0.05}, Case{1 << 20, 0.05, 0.4, 0.005}}) {
        std::vector<int32_t> q(32768);
        for (uint32_t n = 0; n < q.size(); ++n)
            q[n] = static_cast<int32_t>(std::lround(c.amplitude * std::sin(c.w * n + c.phase)));
        const double m = 4.0 * std::sin(c.w / 2) * std::sin(c.w / 2);
        const uint32_t fixed = sfp_frame_frequency_fixed(q.data(), 32768, nullptr, 0, 32768);
        EXPECT_NEAR(m, std::ldexp(fixed, -28), c.tolerance * m) << c.amplitude << " " << c.w;
    }
}

TEST_F(SfpBands, SkippedFramesAreNotMeasured)
{
    BandStatistics *s = create(SFP_VARIANT_FLOAT, 2);
    std::vector<float> frame(32768);
    for (uint32_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<float>((i * 7919) % 1000);
    sfp_bands_add_frame(s, frame.data(), 32768, nullptr, 0);
    sfp_bands_add_frame(s, frame.data(), 32768, nullptr, 0);
    EXPECT_EQ(0u, s->frames);
    for (int f = 0; f < 12; ++f)
        sfp_bands_add_frame(s, frame.data(), 20000, frame.data() + 20000, 12768);
    EXPECT_EQ(12u, s->frames);
    EXPECT_TRUE(sfp_bands_is_complete(s));
    sfp_bands_add_frame(s, frame.data(), 32768, nullptr, 0);
    EXPECT_EQ(12u, s->frames) << "a complete fingerprint takes no more frames";
    sfp_bands_reset(s);
    EXPECT_EQ(0u, s->frames);
    EXPECT_EQ(2u, s->skip_left);
    sfp_bands_destroy(&s);
}

TEST_F(SfpBands, CreationFailsCleanly)
{
    for (uint32_t variant : {SFP_VARIANT_FIXED, SFP_VARIANT_FLOAT}) {
        const uint32_t failures = vok_test::for_each_allocation_failure([&] {
            BandStatistics *s = create(variant);
            EXPECT_EQ(vok_test::allocation_failed(), s == nullptr);
            sfp_bands_destroy(&s);
        });
        EXPECT_GE(failures, 5u);
    }
    const BandConfig wrong_size = {SFP_VARIANT_FIXED,      14,  256, 12, 0, 32768, 30,
                                   sfp_band_edges_index(), 8192};
    EXPECT_EQ(nullptr, sfp_bands_create(&wrong_size)) << "the integer transform has one size";
}

} // namespace
