// Variants, creation refusals in their order, cleanup after every failure,
// reset and destruction.
#include <gtest/gtest.h>

#include "algo/stream/strm_internal.h"
#include "algo/stream/strm_lanes.h"
#include "engine/eng_memory.h"
#include "tests/libvok/algo/stream/stream_decoding.h"
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
        // What the state takes from its variant shows in the blocks and
        // masks it makes (test_stream_engine.cpp); a new one has none.
        auto *s = static_cast<StreamState *>(made);
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
        {3, 0, SAMPLE_PCM_S16, 2, &out},
        {3, 44099, SAMPLE_PCM_S16, 2, &out},
        {3, 96000, SAMPLE_PCM_S16, 2, &out},
        {3, 12000, SAMPLE_PCM_S16, 2, &out},
        {3, 44100, 0, 2, &out},
        {3, 44100, 5, 2, &out},
        {3, 44100, SAMPLE_PCM_S16, 0, &out},
        {3, 44100, SAMPLE_PCM_S16, 3, &out},
        {3, 44100, SAMPLE_PCM_S16, 2, nullptr},
        {6, 44100, SAMPLE_PCM_S16, 2, &out},
        {1, 44100, SAMPLE_PCM_S16, 2, &out},
        {0, 8000, SAMPLE_PCM_U8, 1, &out},
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

// After a reset the state fingerprints audio as a new one would; only the
// generator goes on, so silence after silence gives other words than
// silence does at first.
TEST_F(StreamState_, ResetClearsTheSignalHistoryButNotTheGenerator)
{
    const auto audio = [](uint32_t seed, bool silent) {
        std::vector<uint8_t> bytes;
        uint32_t x = seed;
        for (int i = 0; i < 4 * 44100; ++i) {
            x = x * 1664525u + 1013904223u;
            const int32_t v = silent ? 0 : static_cast<int32_t>(x >> 17) - 16384;
            bytes.push_back(static_cast<uint8_t>(v & 0xFF));
            bytes.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
        }
        return bytes;
    };
    const auto last_block = [](void *state) {
        const EncodedBlock *block = static_cast<StreamState *>(state)->blocks;
        while (block->next)
            block = block->next;
        return stream_test::decode_block(stream_test::base64_decode(block->text)).words;
    };
    for (const bool silent : {false, true}) {
        void *fresh = nullptr, *reused = nullptr;
        uint8_t ready = 0;
        ASSERT_EQ(ENG_OK, strm_create(3, 44100, SAMPLE_PCM_S16, 1, &fresh));
        ASSERT_EQ(ENG_OK, strm_create(3, 44100, SAMPLE_PCM_S16, 1, &reused));
        const std::vector<uint8_t> first = audio(7, silent), second = audio(11, silent);
        strm_add_audio(reused, first.data(), static_cast<uint32_t>(first.size()), &ready);
        EXPECT_EQ(ENG_OK, strm_reset(static_cast<StreamState *>(reused)));
        strm_add_audio(reused, second.data(), static_cast<uint32_t>(second.size()), &ready);
        strm_add_audio(fresh, second.data(), static_cast<uint32_t>(second.size()), &ready);
        if (silent)
            EXPECT_NE(last_block(fresh), last_block(reused));
        else
            EXPECT_EQ(last_block(fresh), last_block(reused));
        strm_destroy(fresh);
        strm_destroy(reused);
    }

    EXPECT_EQ(STRM_E_INVALID_ARG, strm_reset(nullptr));
    EXPECT_EQ(STRM_E_INVALID_ARG, strm_destroy(nullptr));
}

} // namespace
