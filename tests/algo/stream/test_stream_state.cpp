// Variants, creation refusals in their order, cleanup after every failure,
// reset and destruction.
#include <gtest/gtest.h>

#include "algo/stream/strm_internal.h"
#include "algo/stream/strm_lanes.h"
#include "engine/eng_memory.h"
#include "tests/support/alloc_faults.h"

namespace {

class StreamState_ : public ::testing::Test {
protected:
    void SetUp() override
    {
        vok_test::start_memory_layer();
        live = eng_mem_live_blocks();
    }
    void TearDown() override { EXPECT_EQ(live, eng_mem_live_blocks()); }
    int64_t live = 0;
};

TEST_F(StreamState_, VariantsFollowTheBlockLength)
{
    struct Case {
        uint32_t id;
        int32_t block_length, n, log2_n, hop, weak_bits;
    };
    for (const Case &c : {Case{3, 3, 2048, 11, 64, 14}, Case{4, 3, 2048, 11, 64, 8},
                          Case{5, 6, 4096, 12, 128, 8}}) {
        StreamVariant *v = nullptr;
        ASSERT_EQ(ENG_OK, strm_variant_params(c.id, &v));
        EXPECT_EQ(c.id, v->id);
        EXPECT_EQ(c.block_length, v->block_length);
        EXPECT_EQ(c.n, v->frame_length);
        EXPECT_EQ(c.log2_n, v->log2_frame);
        EXPECT_EQ(c.hop, v->hop);
        EXPECT_EQ(c.weak_bits, v->weak_bits);
        eng_free(v);

        void *made = nullptr;
        ASSERT_EQ(ENG_OK, strm_create(c.id, 8000, SAMPLE_MULAW, 1, &made));
        auto *s = static_cast<StreamState *>(made);
        EXPECT_EQ(c.n, s->frame_length);
        EXPECT_EQ(c.log2_n, s->log2_frame);
        EXPECT_EQ(c.hop, s->hop);
        EXPECT_EQ(c.weak_bits, s->weak_bits);
        EXPECT_EQ(c.block_length, s->block_length);
        EXPECT_EQ(rfft_size_tables(c.n)->window, s->window);
        EXPECT_EQ(strm_band_edges(c.block_length), s->band_edges);
        EXPECT_EQ(c.n, s->fft->size);
        EXPECT_EQ(0, s->ready);
        EXPECT_EQ(nullptr, s->blocks);
        EXPECT_EQ(ENG_OK, strm_destroy(made));
    }
    StreamVariant *v = nullptr;
    EXPECT_EQ(STRM_E_INVALID_ARG, strm_variant_params(3, nullptr));
    for (uint32_t id : {0u, 1u, 2u, 6u})
        EXPECT_EQ(STRM_E_INVALID_ARG, strm_variant_params(id, &v)) << id;
    EXPECT_EQ(nullptr, v);
}

TEST_F(StreamState_, RefusalsComeInOrderAndAllocateNothing)
{
    void *sentinel = &live;
    void *out = sentinel;
    struct Case {
        uint32_t id, rate;
        SampleType type;
        uint32_t channels;
        void **out;
    };
    const Case refused[] = {
        {3, 0, SAMPLE_PCM_S16, 2, &out},      {3, 44099, SAMPLE_PCM_S16, 2, &out},
        {3, 96000, SAMPLE_PCM_S16, 2, &out},  {3, 12000, SAMPLE_PCM_S16, 2, &out},
        {3, 44100, 0, 2, &out},               {3, 44100, 5, 2, &out},
        {3, 44100, SAMPLE_PCM_S16, 0, &out},  {3, 44100, SAMPLE_PCM_S16, 3, &out},
        {3, 44100, SAMPLE_PCM_S16, 2, nullptr}, {6, 44100, SAMPLE_PCM_S16, 2, &out},
        {1, 44100, SAMPLE_PCM_S16, 2, &out},  {0, 8000, SAMPLE_PCM_U8, 1, &out},
        // The rate is checked first: even an unknown id gives way to it.
        {9, 44101, 7, 9, nullptr},
    };
    for (const Case &c : refused) {
        EXPECT_EQ(STRM_E_INVALID_ARG, strm_create(c.id, c.rate, c.type, c.channels, c.out))
            << c.id << " " << c.rate << " " << c.type << " " << c.channels;
    }
    EXPECT_EQ(sentinel, out);

    // Refusals before any allocation: an armed failure is never reached.
    eng_mem_fail_allocation(1);
    EXPECT_EQ(STRM_E_INVALID_ARG, strm_create(3, 44100, 5, 2, &out));
    EXPECT_TRUE(eng_mem_failure_pending());
    eng_mem_fail_allocation(0);
}

TEST_F(StreamState_, EveryAllocationFailureIsReportedAndCleanedUp)
{
    for (StreamPath path : {STRM_PATH_SCALAR, STRM_PATH_BEST}) {
        ASSERT_EQ(ENG_OK, strm_use_path(path));
        const bool lanes = strm_path_lanes(strm_creation_path()) != 0;
        for (uint32_t id : {3u, 5u}) {
            std::vector<ResultCode> seen;
            const uint32_t failures = vok_test::for_each_allocation_failure([&] {
                void *made = &seen;
                const ResultCode result = strm_create(id, 22050, SAMPLE_PCM_U8, 2, &made);
                if (vok_test::allocation_failed()) {
                    seen.push_back(result);
                    EXPECT_EQ(&seen, made);
                } else {
                    ASSERT_EQ(ENG_OK, result);
                    strm_destroy(made);
                }
            });
            // Variant, state, frame ring, frame buffer, transform plan,
            // scratch, and on a lane path the lane ring and buffers.
            std::vector<ResultCode> expected = {STRM_E_NO_MEMORY, STRM_E_NO_MEMORY,
                                                STRM_E_NO_MEMORY, STRM_E_NO_MEMORY,
                                                RFFT_E_NO_MEMORY, STRM_E_NO_MEMORY};
            if (lanes)
                expected.push_back(STRM_E_NO_MEMORY);
            EXPECT_EQ(expected.size(), failures);
            EXPECT_EQ(expected, seen);
        }
    }
    strm_use_path(STRM_PATH_BEST);
}

TEST_F(StreamState_, ResetClearsTheSignalHistoryButNotTheGenerator)
{
    void *made = nullptr;
    ASSERT_EQ(ENG_OK, strm_create(3, 44100, SAMPLE_PCM_S16, 1, &made));
    auto *s = static_cast<StreamState *>(made);
    s->input_index = 5;
    s->phase = 882;
    s->ring_position = 100;
    s->ring_filled = 1;
    s->have_previous_frame = 1;
    s->count = 17;
    s->previous_exponent = 99;
    s->frame_ring[2047] = 3;
    s->previous_filter[31] = 4;
    s->input_ring[31] = 5;
    const uint32_t r = strm_next_random(s);
    EXPECT_EQ(ENG_OK, strm_reset(s));
    EXPECT_EQ(0, s->input_index);
    EXPECT_EQ(0u, s->phase);
    EXPECT_EQ(0, s->ring_position);
    EXPECT_EQ(0, s->ring_filled);
    EXPECT_EQ(0, s->have_previous_frame);
    EXPECT_EQ(0, s->count);
    EXPECT_EQ(0, s->previous_exponent);
    EXPECT_EQ(0, s->frame_ring[2047]);
    EXPECT_EQ(0, s->previous_filter[31]);
    EXPECT_EQ(0, s->input_ring[31]);
    EXPECT_EQ(31, s->random_index);
    EXPECT_EQ(r, s->random_words[31]);
    EXPECT_EQ(ENG_OK, strm_destroy(made));

    EXPECT_EQ(STRM_E_INVALID_ARG, strm_reset(nullptr));
    EXPECT_EQ(STRM_E_INVALID_ARG, strm_destroy(nullptr));
}

} // namespace
