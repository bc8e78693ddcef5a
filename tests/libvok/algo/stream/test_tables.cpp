// The window and band-edge tables.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "algo/stream/strm_internal.h"

namespace {

struct WindowCase {
    int32_t n;
    std::vector<std::pair<int32_t, uint16_t>> telling;
};

// The stored window's telling values, every one of them.
const WindowCase kWindows[] = {
    {2048,
     {{0, 0},
      {1, 0},
      {2, 1},
      {4, 2},
      {8, 6},
      {16, 22},
      {64, 324},
      {128, 1265},
      {256, 4830},
      {512, 16422},
      {768, 27991},
      {1023, 32768}}},
    {4096,
     {{0, 0},
      {1, 0},
      {2, 0},
      {3, 0},
      {4, 0},
      {5, 1},
      {8, 2},
      {16, 6},
      {64, 81},
      {128, 320},
      {512, 4814},
      {1024, 16403},
      {1536, 27980},
      {2047, 32768}}},
};

TEST(StreamTables, WindowMatchesEveryTellingValue)
{
    for (const WindowCase &c : kWindows) {
        const uint16_t *w = rfft_size_tables(c.n)->window;
        for (const auto &kv : c.telling)
            EXPECT_EQ(kv.second, w[kv.first]) << "N " << c.n << " k " << kv.first;
    }
}

TEST(StreamTables, WindowRisesAndStaysNearTheHannHalf)
{
    for (int32_t n : {2048, 4096}) {
        const uint16_t *w = rfft_size_tables(n)->window;
        for (int32_t k = 1; k < n / 2; ++k)
            ASSERT_LE(w[k - 1], w[k]) << k;
        // Within about 15 (N = 2048) or 8 (N = 4096) of
        // 32768 sin^2(pi (k + 1/2) / N).
        const double limit = n == 2048 ? 15.5 : 8.5;
        for (int32_t k = 0; k < n / 2; ++k) {
            const double s = std::sin(3.14159265358979323846 * (k + 0.5) / n);
            ASSERT_NEAR(32768 * s * s, w[k], limit) << k;
        }
    }
    EXPECT_EQ(nullptr, rfft_size_tables(1024));
    EXPECT_EQ(nullptr, rfft_size_tables(8192));
}

TEST(StreamTables, BandEdgesSpanTheSameFrequenciesAtBothBlockLengths)
{
    struct Case {
        int32_t block_length, n, first, last, widest;
    };
    for (const Case &c : {Case{3, 2048, 298, 3121, 103}, Case{6, 4096, 595, 6242, 206}}) {
        const int16_t *e = strm_band_edges(c.block_length);
        ASSERT_NE(nullptr, e);
        EXPECT_EQ(c.first, e[0]);
        EXPECT_EQ(c.last, e[STRM_BAND_COUNT]);
        int32_t widest = 0;
        for (int32_t k = 0; k < STRM_BAND_COUNT; ++k) {
            ASSERT_LT(e[k], e[k + 1]) << k;
            widest = std::max(widest, e[k + 1] - e[k]);
        }
        EXPECT_EQ(c.widest, widest);
        // Quarter-bin positions to Hz: about 200.5 Hz to 2100.2 Hz.
        const double quarter = 5512.5 / c.n / 4;
        EXPECT_NEAR(200.5, e[0] * quarter, 0.5);
        EXPECT_NEAR(2100.2, e[STRM_BAND_COUNT] * quarter, 0.5);
    }
    EXPECT_EQ(nullptr, strm_band_edges(4));
}

} // namespace
