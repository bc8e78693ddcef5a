// Choice of the engine algorithm and of the read size.
#include <gtest/gtest.h>

#include <climits>

#include "driver/read_size.h"

namespace {

using namespace Zuvanti;

TEST(AlgorithmIdFor, TheFirstSetBitDecides)
{
    struct Row {
        AlgorithmFlags flags;
        int32_t blocks_in;
        uint32_t id;
        int32_t blocks_out;
    };
    const Row rows[] = {
        {FileFixed, 7, 1, 1},
        {FileFloat, -3, 2, 1},
        {Stream1, 7, 3, 7},
        {Stream4, 0, 4, 0},
        {Stream1 | Continuous, 2, 3, 2},
        {FileFixed | Stream1, 5, 1, 1},
        {FileFloat | Stream4, 5, 2, 1},
        {Stream1 | Stream4, 5, 3, 5},
        {0, -4, 1, -4},
        {Continuous, 9, 1, 9},
    };
    for (const Row &row : rows) {
        int32_t blocks = row.blocks_in;
        EXPECT_EQ(row.id, AlgorithmIdFor(row.flags, &blocks)) << "flags " << row.flags;
        EXPECT_EQ(row.blocks_out, blocks) << "flags " << row.flags;
    }
}

TEST(ReadSizeFor, WholeFramesBoundedAndNeverOutOfRange)
{
    struct Row {
        uint32_t id;
        int32_t blocks;
        SampleType type;
        uint32_t rate, channels;
        uint32_t bytes;
    };
    const Row rows[] = {
        // 44100 x 3.5 x 2 x 2, doubled for 16-bit samples
        {3, 2, SAMPLE_PCM_S16, 44100, 2, 1234800},
        // fifteen seconds
        {1, 1, SAMPLE_PCM_S16, 44100, 2, 2646000},
        {2, 1, SAMPLE_PCM_U8, 8000, 1, 120000},
        // companded 8-bit samples are not doubled
        {4, 1, SAMPLE_ALAW, 8000, 1, 28000},
        {3, 3, SAMPLE_MULAW, 16000, 2, 336000},
        // 11025 x 3.5 x 2 = 77175 is not a whole number of 2-byte frames
        {3, 1, SAMPLE_PCM_U8, 11025, 2, 77174},
        // 11025 x 3.5 = 38587.5 truncates to 38587, doubled 77174
        {4, 1, SAMPLE_PCM_S16, 11025, 1, 77174},
        // 0 or fewer blocks: the whole stretch in one read
        {3, 0, SAMPLE_PCM_S16, 44100, 2, 0},
        {3, -1, SAMPLE_PCM_S16, 44100, 2, 0},
        {4, INT_MIN, SAMPLE_PCM_U8, 8000, 1, 0},
        // no algorithm bit: id 1 keeps the caller's count, no cap below 1
        {1, 0, SAMPLE_PCM_S16, 44100, 2, 2646000},
        {1, -5, SAMPLE_PCM_S16, 0xFFFFFFFFu, 2, 0},
        // capped at 4 MiB of whole frames
        {3, 100, SAMPLE_PCM_S16, 44100, 2, 4194304},
        {3, INT_MAX, SAMPLE_PCM_S16, 48000, 2, 4194304},
        {3, 10, SAMPLE_PCM_S16, 44100, 6, 4194300},
        {1, 1, SAMPLE_PCM_S16, 0xFFFFFFFFu, 2, 4194304},
        // 1 x 3.5 x 2 = 7 bytes hold three whole frames
        {3, 1, SAMPLE_PCM_U8, 1, 2, 6},
    };
    for (const Row &row : rows) {
        AudioFormat format;
        format.sample_type = row.type;
        format.sample_rate = row.rate;
        format.channels = row.channels;
        EXPECT_EQ(row.bytes, ReadSizeFor(row.id, row.blocks, format))
            << "id " << row.id << " blocks " << row.blocks << " rate " << row.rate;
    }
}

} // namespace
