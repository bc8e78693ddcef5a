// The fixed-point real FFT against a double-precision DFT divided by N.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "algo/stream/rfft.h"
#include "engine/eng_memory.h"
#include "tests/support/alloc_faults.h"

namespace {

const double kPi = 3.14159265358979323846;

// Packed reference: out[0] = X[0], out[1] = X[N/2], then re/im of X[k].
std::vector<double> reference_dft(const std::vector<int32_t> &x)
{
    const size_t n = x.size();
    std::vector<double> c(n), s(n);
    for (size_t i = 0; i < n; ++i) {
        c[i] = std::cos(2 * kPi * static_cast<double>(i) / static_cast<double>(n));
        s[i] = std::sin(2 * kPi * static_cast<double>(i) / static_cast<double>(n));
    }
    std::vector<double> out(n);
    for (size_t k = 0; k <= n / 2; ++k) {
        double re = 0, im = 0;
        for (size_t t = 0; t < n; ++t) {
            const size_t a = (k * t) % n;
            re += x[t] * c[a];
            im -= x[t] * s[a];
        }
        re /= static_cast<double>(n);
        im /= static_cast<double>(n);
        if (k == 0)
            out[0] = re;
        else if (k == n / 2)
            out[1] = re;
        else {
            out[2 * k] = re;
            out[2 * k + 1] = im;
        }
    }
    return out;
}

double worst_error(int32_t n, const std::vector<int32_t> &x)
{
    RealFft *plan = nullptr;
    EXPECT_EQ(ENG_OK, rfft_create(n, &plan));
    std::vector<int32_t> out(static_cast<size_t>(n));
    std::vector<int32_t> work = x;
    EXPECT_EQ(ENG_OK, rfft_forward(plan, work.data(), out.data()));
    rfft_destroy(plan);
    const std::vector<double> want = reference_dft(x);
    double worst = 0;
    for (int32_t i = 0; i < n; ++i)
        worst =
            std::max(worst, std::fabs(out[static_cast<size_t>(i)] - want[static_cast<size_t>(i)]));
    return worst;
}

std::vector<int32_t> random_input(int32_t n, int32_t amplitude, uint32_t seed)
{
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int32_t> dist(-amplitude, amplitude);
    std::vector<int32_t> x(static_cast<size_t>(n));
    for (auto &v : x)
        v = dist(gen);
    return x;
}

std::vector<int32_t> sinusoid_input(int32_t n, double amplitude, double bin, double phase)
{
    std::vector<int32_t> x(static_cast<size_t>(n));
    for (int32_t t = 0; t < n; ++t)
        x[static_cast<size_t>(t)] =
            static_cast<int32_t>(std::lround(amplitude * std::cos(2 * kPi * bin * t / n + phase)));
    return x;
}

class RealFftTest : public ::testing::TestWithParam<int32_t> {
protected:
    void SetUp() override { vok_test::start_memory_layer(); }
};

// Moderate inputs: the transform agrees within a few units of rounding.
TEST_P(RealFftTest, AgreesWithTheDftWithinAFewUnits)
{
    const int32_t n = GetParam();
    EXPECT_LE(worst_error(n, random_input(n, 1 << 20, 7)), 4.0);
    EXPECT_LE(worst_error(n, random_input(n, 1 << 16, 8)), 4.0);
    EXPECT_LE(worst_error(n, sinusoid_input(n, 1 << 16, 37.0, 0.3)), 4.0);
    EXPECT_LE(worst_error(n, sinusoid_input(n, 1 << 16, 100.25, 1.0)), 4.0);
    EXPECT_LE(worst_error(n, sinusoid_input(n, 1 << 16, n / 2 - 1, 0.0)), 4.0);
}

// Larger sinusoids concentrate into one bin; there the Q15 twiddles' own
// precision (a relative 2^-16) adds to the rounding.
TEST_P(RealFftTest, LargeSinusoidsAgreeWithinTwiddlePrecision)
{
    const int32_t n = GetParam();
    const double amplitude = 1 << 22;
    const double bound = 2.0 + amplitude / 65536;
    EXPECT_LE(worst_error(n, sinusoid_input(n, amplitude, 37.0, 0.3)), bound);
    EXPECT_LE(worst_error(n, sinusoid_input(n, amplitude, 100.25, 1.0)), bound);
    EXPECT_LE(worst_error(n, sinusoid_input(n, amplitude, n / 2 - 1, 0.0)), bound);
}

// Full-scale inputs (a windowed 15-bit frame reaches 2^30): no overflow,
// and the error stays within the Q15 twiddles' relative precision.
TEST_P(RealFftTest, FullScaleInputsStayWithinTwiddlePrecision)
{
    const int32_t n = GetParam();
    const double full = 1 << 30;
    EXPECT_LE(worst_error(n, random_input(n, 1 << 30, 11)), full / 65536);
    EXPECT_LE(worst_error(n, sinusoid_input(n, full - 1, 5.0, 0.7)), full / 65536);
    std::vector<int32_t> dc(static_cast<size_t>(n), -(1 << 30));
    EXPECT_LE(worst_error(n, dc), 1.0);
}

TEST_P(RealFftTest, ImpulseGivesAFlatSpectrum)
{
    const int32_t n = GetParam();
    std::vector<int32_t> x(static_cast<size_t>(n), 0);
    x[0] = n * 1000;
    RealFft *plan = nullptr;
    ASSERT_EQ(ENG_OK, rfft_create(n, &plan));
    std::vector<int32_t> out(static_cast<size_t>(n));
    ASSERT_EQ(ENG_OK, rfft_forward(plan, x.data(), out.data()));
    rfft_destroy(plan);
    EXPECT_EQ(1000, out[0]);
    EXPECT_EQ(1000, out[1]);
    for (int32_t k = 1; k < n / 2; ++k) {
        EXPECT_NEAR(1000, out[static_cast<size_t>(2 * k)], 1) << k;
        EXPECT_NEAR(0, out[static_cast<size_t>(2 * k + 1)], 1) << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, RealFftTest, ::testing::Values(2048, 4096));

TEST(RealFftPlan, RefusesSizesWithoutATable)
{
    vok_test::start_memory_layer();
    RealFft *plan = reinterpret_cast<RealFft *>(&plan);
    RealFft *const untouched = plan;
    for (int32_t n : {0, 4, 7, 8, 1024, 2047, 2049, 3072, 8192, 1048576, 2097152, -2048})
        EXPECT_EQ(RFFT_E_INVALID_ARG, rfft_create(n, &plan)) << n;
    EXPECT_EQ(untouched, plan);
    EXPECT_EQ(RFFT_E_INVALID_ARG, rfft_create(2048, nullptr));
}

TEST(RealFftPlan, ReportsAllocationFailureAndNullArguments)
{
    vok_test::start_memory_layer();
    const uint32_t failures = vok_test::for_each_allocation_failure([] {
        RealFft *plan = nullptr;
        const ResultCode result = rfft_create(4096, &plan);
        if (vok_test::allocation_failed()) {
            EXPECT_EQ(RFFT_E_NO_MEMORY, result);
            EXPECT_EQ(nullptr, plan);
        }
        rfft_destroy(plan);
    });
    EXPECT_EQ(1u, failures);

    RealFft *plan = nullptr;
    ASSERT_EQ(ENG_OK, rfft_create(2048, &plan));
    std::vector<int32_t> buffer(2048);
    EXPECT_EQ(RFFT_E_INVALID_ARG, rfft_forward(nullptr, buffer.data(), buffer.data()));
    EXPECT_EQ(RFFT_E_INVALID_ARG, rfft_forward(plan, nullptr, buffer.data()));
    EXPECT_EQ(RFFT_E_INVALID_ARG, rfft_forward(plan, buffer.data(), nullptr));
    EXPECT_EQ(ENG_OK, rfft_destroy(plan));
    EXPECT_EQ(ENG_OK, rfft_destroy(nullptr));
}

// Twiddle words: round(32768 cos) high, round(32768 sin) low, limited to
// 32767, 3N/4 - 2 words.
TEST(RealFftTables, TwiddleWordsFollowTheirFormula)
{
    for (int32_t n : {2048, 4096}) {
        const FrameSizeTables *tables = rfft_size_tables(n);
        ASSERT_NE(nullptr, tables);
        const uint32_t *tw = tables->twiddles;
        const uint32_t count = tables->twiddle_count;
        EXPECT_EQ(static_cast<uint32_t>(3 * n / 4 - 2), count);
        EXPECT_EQ(0x7FFF0000u, tw[0]);
        EXPECT_EQ(0x00007FFFu, tw[n / 4]); // a quarter turn
        EXPECT_EQ(0x5A825A82u, tw[n / 8]); // 23170.5 rounds up
        EXPECT_EQ(0x80000000u, tw[n / 2]); // cos = -1 is not limited
        for (uint32_t k = 0; k < count; ++k) {
            const double angle = 2 * kPi * k / n;
            const long c = std::min(32767L, std::lround(std::floor(32768 * std::cos(angle) + 0.5)));
            const long s = std::min(32767L, std::lround(std::floor(32768 * std::sin(angle) + 0.5)));
            EXPECT_EQ(static_cast<int16_t>(tw[k] >> 16), c) << k;
            EXPECT_EQ(static_cast<int16_t>(tw[k] & 0xFFFF), s) << k;
        }
    }
}

// Decimation in time: position p of the N/2-point transform holds the input
// whose index is p with its base-4 digits reversed (below a final radix-2
// split into even and odd inputs for N = 4096). Each first-stage group of
// four holds inputs N/8 apart.
TEST(RealFftTables, InputOrderIsTheDigitReversal)
{
    for (int32_t n : {2048, 4096}) {
        const uint16_t *order = rfft_size_tables(n)->input_order;
        const int32_t points = n / 2;
        std::vector<int> seen(static_cast<size_t>(points), 0);
        for (int32_t p = 0; p < points; ++p) {
            int32_t q = n == 2048 ? p : p % 1024;
            int32_t reversed = 0;
            for (int d = 0; d < 5; ++d, q /= 4)
                reversed = reversed * 4 + q % 4;
            const int32_t want = n == 2048 ? reversed : 2 * reversed + p / 1024;
            ASSERT_EQ(want, order[p]) << n << " " << p;
            seen[order[p]] += 1;
            ASSERT_EQ(order[p - p % 4] + (p % 4) * points / 4, order[p]);
        }
        for (int count : seen)
            ASSERT_EQ(1, count);
    }
}

} // namespace
