// Rank equalisation of a frame in both arithmetics.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "algo/spectral/sfp_equalise.h"
#include "tests/support/alloc_faults.h"

namespace {

const uint32_t kN = 32768;

class SfpEqualise : public ::testing::Test {
protected:
    void SetUp() override { vok_test::start_memory_layer(); }
    std::vector<uint32_t> histogram = std::vector<uint32_t>(257);
};

std::vector<double> signal(uint32_t n, uint32_t seed)
{
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 3000.0);
    std::vector<double> x(n);
    for (uint32_t i = 0; i < n; ++i)
        x[i] = 12000.0 * std::sin(0.003 * i) + noise(random);
    return x;
}

// Centred rank by bin: the share of samples in the same or a lower bin,
// less the mean of that share over the frame.
std::vector<double> ranks(const std::vector<uint32_t> &bins)
{
    std::vector<double> count(257, 0.0);
    for (uint32_t b : bins)
        count[b] += 1.0;
    std::vector<double> cumulative(257, 0.0);
    double running = 0.0;
    for (size_t b = 0; b < cumulative.size(); ++b)
        cumulative[b] = (running += count[b]) / bins.size();
    double mean = 0.0;
    for (uint32_t b : bins)
        mean += cumulative[b];
    mean /= bins.size();
    std::vector<double> out;
    for (uint32_t b : bins)
        out.push_back(cumulative[b] - mean);
    return out;
}

TEST_F(SfpEqualise, FloatGivesCentredRanks)
{
    const std::vector<double> x = signal(kN, 1);
    std::vector<float> input(x.begin(), x.end());
    const float low = *std::min_element(input.begin(), input.end());
    const float high = *std::max_element(input.begin(), input.end());
    std::vector<uint32_t> bins;
    for (float v : input)
        bins.push_back(static_cast<uint32_t>(255.0f / (high - low) * (v - low)));
    const std::vector<double> expected = ranks(bins);
    std::vector<float> frame(kN);
    // Given as two pieces, the way the framing ring hands a frame over.
    sfp_equalise_float(input.data() + 1000, kN - 1000, input.data(), 1000, frame.data(), kN,
                       histogram.data(), 256);
    for (uint32_t i = 0; i < kN; ++i) {
        const uint32_t source = (i + 1000) % kN;
        ASSERT_NEAR(expected[source], frame[i], 1e-5) << i;
    }
}

TEST_F(SfpEqualise, FixedIsTheFloatRankTimesTwoToTheThirty)
{
    const std::vector<double> x = signal(kN, 2);
    std::vector<float> floating(x.begin(), x.end());
    std::vector<int32_t> fixed;
    for (float v : floating)
        fixed.push_back(static_cast<int32_t>(v) * 16384);
    for (uint32_t i = 0; i < kN; ++i)
        floating[i] = static_cast<float>(fixed[i] / 16384);
    std::vector<float> float_frame(kN);
    std::vector<int32_t> fixed_frame(kN);
    sfp_equalise_float(floating.data(), kN, nullptr, 0, float_frame.data(), kN, histogram.data(),
                       256);
    sfp_equalise_fixed(fixed.data(), kN, nullptr, 0, fixed_frame.data(), kN, histogram.data(), 256,
                       8192);
    int64_t sum = 0;
    uint32_t agreeing = 0;
    for (uint32_t i = 0; i < kN; ++i) {
        sum += fixed_frame[i];
        // The two arithmetics may put a sample at a bin edge in neighbouring
        // bins; elsewhere the values agree.
        if (std::fabs(fixed_frame[i] / 1073741824.0 - float_frame[i]) < 1e-5)
            ++agreeing;
    }
    EXPECT_EQ(0, sum) << "the integer ranks are centred exactly";
    EXPECT_GT(agreeing, kN * 99 / 100);
    EXPECT_EQ(0u, histogram[256]) << "no sample beyond the last bin";
}

TEST_F(SfpEqualise, RanksFollowTheInputOrder)
{
    std::vector<int32_t> input(kN);
    std::mt19937 random(3);
    for (int32_t &v : input)
        v = static_cast<int32_t>(random() % 2000000000u) - 1000000000;
    input[5] = INT32_MIN;
    input[6] = INT32_MAX;
    std::vector<int32_t> frame(kN);
    sfp_equalise_fixed(input.data(), kN, nullptr, 0, frame.data(), kN, histogram.data(), 256, 8192);
    EXPECT_LT(frame[5], 0);
    EXPECT_GT(frame[6], 0);
    for (uint32_t i = 0; i + 1 < kN; ++i) {
        if (input[i] < input[i + 1]) {
            ASSERT_LE(frame[i], frame[i + 1]) << i;
        }
    }
}

TEST_F(SfpEqualise, FlatFramesAreCopied)
{
    std::vector<float> flat(kN, 7.0f);
    flat[10] = 8.0f; // a range of exactly 1
    std::vector<float> frame(kN);
    sfp_equalise_float(flat.data(), kN, nullptr, 0, frame.data(), kN, histogram.data(), 256);
    EXPECT_EQ(flat, frame);
    flat[10] = 8.01f;
    sfp_equalise_float(flat.data(), kN, nullptr, 0, frame.data(), kN, histogram.data(), 256);
    EXPECT_NE(flat, frame);

    std::vector<int32_t> fixed(kN, -5000);
    fixed[3] = -5000 + 2 * 8192 + 1; // half-range 8192
    std::vector<int32_t> out(kN);
    sfp_equalise_fixed(fixed.data(), kN, nullptr, 0, out.data(), kN, histogram.data(), 256, 8192);
    EXPECT_EQ(fixed, out);
    sfp_equalise_fixed(fixed.data(), kN, nullptr, 0, out.data(), kN, histogram.data(), 256, 4096);
    EXPECT_NE(fixed, out) << "on the half scale the same frame is equalised";
}

TEST_F(SfpEqualise, CopyTakesThePiecesInOrder)
{
    const int32_t first[] = {1, 2, 3};
    const int32_t second[] = {4, 5, 6, 7};
    int32_t frame[5] = {};
    sfp_copy_frame(first, 3, second, 4, frame, 5);
    EXPECT_EQ((std::vector<int32_t>{1, 2, 3, 4, 5}), std::vector<int32_t>(frame, frame + 5));
    sfp_copy_frame(first, 3, second, 1, frame, 5);
    EXPECT_EQ((std::vector<int32_t>{1, 2, 3, 4, 0}), std::vector<int32_t>(frame, frame + 5));
}

TEST_F(SfpEqualise, WithoutMemoryTheFrameIsCopied)
{
    const std::vector<double> x = signal(kN, 4);
    std::vector<float> input(x.begin(), x.end());
    std::vector<int32_t> fixed(kN);
    for (uint32_t i = 0; i < kN; ++i)
        fixed[i] = static_cast<int32_t>(x[i]) * 16384;
    std::vector<float> frame(kN);
    std::vector<int32_t> fixed_frame(kN);
    eng_mem_fail_allocation(1);
    sfp_equalise_float(input.data(), kN, nullptr, 0, frame.data(), kN, histogram.data(), 256);
    EXPECT_TRUE(vok_test::allocation_failed());
    EXPECT_EQ(input, frame);
    eng_mem_fail_allocation(1);
    sfp_equalise_fixed(fixed.data(), kN, nullptr, 0, fixed_frame.data(), kN, histogram.data(), 256,
                       8192);
    EXPECT_TRUE(vok_test::allocation_failed());
    EXPECT_EQ(fixed, fixed_frame);
    eng_mem_fail_allocation(0);
}

} // namespace
