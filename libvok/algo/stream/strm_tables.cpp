// The streaming fingerprint's band-edge lists, which are data (the tables
// kept per frame size are in rfft_tables.cpp).
#include "algo/stream/strm_internal.h"

namespace {

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

const int16_t *strm_band_edges(int32_t block_length)
{
    if (block_length == 3)
        return kEdges3;
    if (block_length == 6)
        return kEdges6;
    return nullptr;
}
