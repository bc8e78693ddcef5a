// The streaming fingerprint's constant tables: the Hann half-windows,
// generated at first use, and the two band-edge lists, which are data.
#include <array>

#include "algo/stream/strm_internal.h"
#include "engine/eng_support.h"

namespace {

// The rising half of a Hann window of N + 1 intervals in Q15:
// w[k] = round(32768 sin^2(pi (k + 1) / (N + 1))), k = 0 ... N/2 - 1. This
// is the form whose values match the stored window exactly (w[N/2 - 1] is
// 32768, which still fits the unsigned 16-bit entry).
template <int32_t N>
struct HalfWindow {
    std::array<uint16_t, N / 2> w;
    HalfWindow() : w{}
    {
        for (int32_t k = 0; k < N / 2; ++k) {
            const double s = eng_sin(ENG_PI * (k + 1) / (N + 1));
            w[k] = static_cast<uint16_t>(eng_floor(32768.0 * s * s + 0.5));
        }
    }
};

// Band edges in quarter-bin units, about 200.5 Hz to 2100.2 Hz.
const int16_t kEdges3[STRM_BAND_COUNT + 1] = {
    298,  308,  318,  329,  340,  352,  364,  377,  389,  403,  416,  431,  445,  460,  476,
    492,  509,  527,  545,  563,  582,  602,  623,  644,  666,  689,  712,  737,  762,  788,
    815,  843,  871,  901,  932,  964,  996,  1031, 1066, 1102, 1140, 1179, 1219, 1261, 1304,
    1348, 1394, 1442, 1491, 1542, 1595, 1649, 1705, 1764, 1824, 1886, 1950, 2017, 2086, 2157,
    2231, 2307, 2386, 2467, 2552, 2639, 2729, 2822, 2918, 3018, 3121};

const int16_t kEdges6[STRM_BAND_COUNT + 1] = {
    595,  615,  636,  658,  680,  704,  728,  753,  778,  805,  832,  861,  890,  920,  952,
    984,  1018, 1053, 1089, 1126, 1164, 1204, 1245, 1288, 1332, 1377, 1424, 1473, 1523, 1575,
    1629, 1685, 1742, 1802, 1863, 1927, 1992, 2061, 2131, 2204, 2279, 2357, 2437, 2521, 2607,
    2696, 2788, 2883, 2981, 3083, 3189, 3297, 3410, 3527, 3647, 3772, 3900, 4034, 4171, 4314,
    4461, 4614, 4771, 4934, 5103, 5277, 5457, 5644, 5836, 6036, 6242};

} // namespace

const uint16_t *strm_window_table(int32_t frame_length)
{
    if (frame_length == 2048) {
        static const HalfWindow<2048> table;
        return table.w.data();
    }
    if (frame_length == 4096) {
        static const HalfWindow<4096> table;
        return table.w.data();
    }
    return nullptr;
}

const int16_t *strm_band_edges(int32_t block_length)
{
    if (block_length == 3)
        return kEdges3;
    if (block_length == 6)
        return kEdges6;
    return nullptr;
}
