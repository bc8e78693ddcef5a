// The cosine transform against a direct O(N^2) DCT-II in double precision,
// and the integer transform against the float one.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "algo/spectral/sfp_dct.h"
#include "tests/support/alloc_faults.h"

namespace {

const double kPi = 3.14159265358979323846;

// X[k] = sum x[m] cos(pi (2m + 1) k / 2N), X[0] / sqrt(2).
std::vector<double> direct_dct(const std::vector<double> &x)
{
    const size_t n = x.size();
    std::vector<double> out(n);
    for (size_t k = 0; k < n; ++k) {
        double sum = 0.0;
        for (size_t m = 0; m < n; ++m)
            sum += x[m] * std::cos(kPi * (2.0 * m + 1.0) * k / (2.0 * n));
        out[k] = k == 0 ? sum / std::sqrt(2.0) : sum;
    }
    return out;
}

class SfpDct : public ::testing::Test {
protected:
    void SetUp() override { vok_test::start_memory_layer(); }
};

TEST_F(SfpDct, SizeEightImpulse)
{
    CosineTransform *plan = sfp_dct_create_float(3);
    ASSERT_NE(nullptr, plan);
    float v[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    sfp_dct_float(plan, v);
    EXPECT_NEAR(1.0 / std::sqrt(2.0), v[0], 1e-6);
    for (int k = 1; k < 8; ++k)
        EXPECT_NEAR(std::cos(kPi * k / 16.0), v[k], 1e-6) << k;
    sfp_dct_destroy(&plan);
    EXPECT_EQ(nullptr, plan);
}

TEST_F(SfpDct, FloatMatchesTheDirectTransformFromEightTo1024)
{
    std::mt19937 random(1);
    std::uniform_real_distribution<double> uniform(-0.5, 0.5);
    for (uint32_t log2 = 3; log2 <= 10; ++log2) {
        const uint32_t n = 1u << log2;
        std::vector<double> x(n);
        for (double &value : x)
            value = uniform(random);
        std::vector<float> v(x.begin(), x.end());
        const std::vector<double> expected = direct_dct(std::vector<double>(v.begin(), v.end()));
        CosineTransform *plan = sfp_dct_create_float(log2);
        ASSERT_NE(nullptr, plan);
        sfp_dct_float(plan, v.data());
        for (uint32_t k = 0; k < n; ++k)
            ASSERT_NEAR(expected[k], v[k], 2e-5 * n) << "n " << n << " k " << k;
        sfp_dct_destroy(&plan);
    }
}

TEST_F(SfpDct, FloatPlanCreationFailsCleanly)
{
    EXPECT_EQ(nullptr, sfp_dct_create_float(0));
    EXPECT_EQ(nullptr, sfp_dct_create_float(25));
    const uint32_t failures = vok_test::for_each_allocation_failure([] {
        CosineTransform *plan = sfp_dct_create_float(4);
        EXPECT_EQ(vok_test::allocation_failed(), plan == nullptr);
        sfp_dct_destroy(&plan);
    });
    EXPECT_EQ(2u, failures);
}

TEST_F(SfpDct, FixedTableHasItsPinnedValues)
{
    EXPECT_EQ(nullptr, sfp_dct_fixed_plan(14));
    EXPECT_EQ(nullptr, sfp_dct_fixed_plan(16));
    const CosineTransform *plan = sfp_dct_fixed_plan(15);
    ASSERT_NE(nullptr, plan);
    EXPECT_EQ(plan, sfp_dct_fixed_plan(15)) << "one constant plan";
    EXPECT_EQ(32768u, plan->size);
    const int32_t *t = plan->table_fixed;
    EXPECT_EQ(0, t[0]);
    EXPECT_EQ(1518500224, t[1]);
    EXPECT_EQ(581104896, t[2]);
    EXPECT_EQ(65536, t[16384]);
    // Every level e in Q(31 - log2 e), within single-precision rounding.
    for (uint32_t e = 1, level = 0; e < 32768; e *= 2, ++level) {
        for (uint32_t i = 0; i < e; i += (e > 64 ? 37 : 1)) {
            const double exact = std::ldexp(1.0 / (2.0 * std::cos(kPi * (4.0 * i + 1) / (4.0 * e))),
                                            31 - static_cast<int>(level));
            ASSERT_NEAR(exact, t[e + i], std::fabs(exact) * 1.2e-7 + 1.0) << e << " " << i;
        }
    }
}

TEST_F(SfpDct, FixedStageShiftsDivideByTwoToTheFifteen)
{
    uint32_t total = 0;
    for (uint32_t s = 0; s < 16; ++s)
        total += sfp_dct_fixed_stage_shift(s);
    EXPECT_EQ(15u, total);
}

// An equalised frame in Q30 through both transforms: the integer output is
// the float output times 2^15 on every coefficient, DC included.
TEST_F(SfpDct, FixedFollowsTheFloatTransformOnOneScale)
{
    const uint32_t n = 32768;
    std::mt19937 random(9);
    std::uniform_real_distribution<double> uniform(-0.5, 0.5);
    std::vector<int32_t> fixed(n);
    std::vector<float> floating(n);
    for (uint32_t i = 0; i < n; ++i) {
        // Tones and noise, ranks between -0.5 and 0.5.
        const double value =
            0.25 * std::sin(0.01 * i) + 0.1 * std::sin(1.3 * i) + 0.1 * uniform(random) + 0.02;
        fixed[i] = static_cast<int32_t>(std::lround(value * 1073741824.0));
        floating[i] = static_cast<float>(fixed[i] / 1073741824.0);
    }
    CosineTransform *plan = sfp_dct_create_float(15);
    ASSERT_NE(nullptr, plan);
    sfp_dct_float(plan, floating.data());
    sfp_dct_fixed(sfp_dct_fixed_plan(15), fixed.data());
    double worst = 0.0;
    double largest = 0.0;
    for (uint32_t k = 0; k < n; ++k) {
        worst = std::max(worst, std::fabs(fixed[k] / 32768.0 - floating[k]));
        largest = std::max(largest, std::fabs(static_cast<double>(floating[k])));
    }
    // The first stage's rounding (2^-18 of full scale) is amplified by the
    // larger factors of the next stages; against coefficients of hundreds
    // to thousands that is a few parts in a hundred thousand.
    EXPECT_GT(largest, 1000.0);
    EXPECT_LT(worst, 0.2) << "largest coefficient " << largest;
    sfp_dct_destroy(&plan);
}

TEST_F(SfpDct, FixedConstantFrameGivesOnlyItsDc)
{
    std::vector<int32_t> v(32768, 1 << 30);
    sfp_dct_fixed(sfp_dct_fixed_plan(15), v.data());
    EXPECT_NEAR((1 << 30) / std::sqrt(2.0), v[0], 2.0);
    for (uint32_t k = 1; k < 32768; ++k)
        ASSERT_EQ(0, v[k]) << k;
}

} // namespace
