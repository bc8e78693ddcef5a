#include <gtest/gtest.h>

#include <cstring>

#include "engine/eng_memory.h"
#include "tests/support/alloc_faults.h"

namespace {

class MemoryLayer : public ::testing::Test {
protected:
    void SetUp() override { vok_test::start_memory_layer(); }
};

TEST_F(MemoryLayer, SecondStartIsRefusedAndLayerStaysStarted)
{
    EXPECT_EQ(MEM_E_ALREADY_STARTED, eng_mem_initialize(1, 2));
    void *block = eng_malloc(8);
    EXPECT_NE(nullptr, block);
    EXPECT_EQ(ENG_OK, eng_free(block));
}

TEST_F(MemoryLayer, ZeroSizeAllocationIsADistinctBlock)
{
    void *a = eng_malloc(0);
    void *b = eng_malloc(0);
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    EXPECT_NE(a, b);
    eng_free(a);
    eng_free(b);
}

TEST_F(MemoryLayer, ReallocKeepsContentsAndCountsBlocks)
{
    const int64_t before = eng_mem_live_blocks();
    char *text = static_cast<char *>(eng_realloc(nullptr, 4));
    ASSERT_NE(nullptr, text);
    EXPECT_EQ(before + 1, eng_mem_live_blocks());
    std::memcpy(text, "abc", 4);
    text = static_cast<char *>(eng_realloc(text, 4096));
    ASSERT_NE(nullptr, text);
    EXPECT_STREQ("abc", text);
    EXPECT_EQ(before + 1, eng_mem_live_blocks());
    EXPECT_EQ(ENG_OK, eng_free(text));
    EXPECT_EQ(before, eng_mem_live_blocks());
}

TEST_F(MemoryLayer, ArmedFailureHitsExactlyTheNthAllocation)
{
    eng_mem_fail_allocation(3);
    void *first = eng_malloc(1);
    void *second = eng_realloc(nullptr, 1);
    EXPECT_TRUE(eng_mem_failure_pending());
    void *third = eng_malloc(1);
    EXPECT_FALSE(eng_mem_failure_pending());
    void *fourth = eng_malloc(1);
    EXPECT_NE(nullptr, first);
    EXPECT_NE(nullptr, second);
    EXPECT_EQ(nullptr, third);
    EXPECT_NE(nullptr, fourth);
    for (void *block : {first, second, fourth})
        eng_free(block);
}

TEST_F(MemoryLayer, FailedReallocLeavesTheOldBlockValid)
{
    char *text = static_cast<char *>(eng_malloc(4));
    ASSERT_NE(nullptr, text);
    std::memcpy(text, "xyz", 4);
    eng_mem_fail_allocation(1);
    EXPECT_EQ(nullptr, eng_realloc(text, 1 << 20));
    EXPECT_STREQ("xyz", text);
    eng_free(text);
}

} // namespace
