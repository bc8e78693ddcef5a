#include <gtest/gtest.h>

#include <string>

#include "query/tb_buffer.h"
#include "tests/support/alloc_faults.h"

namespace {

class TextBufferTest : public ::testing::Test {
protected:
    void SetUp() override { vok_test::start_memory_layer(); }
};

TEST_F(TextBufferTest, GrowsByTheLargerOfShortfallAndStep)
{
    TextBuffer *buffer = tb_create(256, 128);
    ASSERT_NE(nullptr, buffer);
    EXPECT_EQ(0u, buffer->length);
    EXPECT_EQ(256u, buffer->capacity);

    const std::string first(300, 'a');
    ASSERT_EQ(ENG_OK, tb_append(buffer, first.data(), 300));
    EXPECT_EQ(384u, buffer->capacity) << "shortfall 44 is below the step of 128";
    const std::string second(400, 'b');
    ASSERT_EQ(ENG_OK, tb_append(buffer, second.data(), 400));
    EXPECT_EQ(700u, buffer->capacity) << "shortfall 316 exceeds the step";
    EXPECT_EQ(700u, buffer->length);
    EXPECT_EQ(first + second, std::string(buffer->data, buffer->length));

    ASSERT_EQ(ENG_OK, tb_append(buffer, "c", 1));
    EXPECT_EQ(828u, buffer->capacity);
    tb_destroy(buffer);
}

TEST_F(TextBufferTest, ArgumentChecks)
{
    TextBuffer *buffer = tb_create(4, 4);
    EXPECT_EQ(TB_E_INVALID_ARG, tb_append(nullptr, "a", 1));
    EXPECT_EQ(TB_E_INVALID_ARG, tb_append(buffer, nullptr, 1));
    EXPECT_EQ(TB_E_INVALID_ARG, tb_append_string(buffer, nullptr));
    EXPECT_EQ(ENG_OK, tb_append(buffer, "abc", 0));
    EXPECT_EQ(0u, buffer->length);
    EXPECT_EQ(ENG_OK, tb_append_string(buffer, "xyz"));
    EXPECT_EQ(3u, buffer->length);
    EXPECT_EQ(ENG_OK, tb_destroy(nullptr));
    EXPECT_EQ(nullptr, tb_detach(nullptr));
    char *data = tb_detach(buffer);
    EXPECT_EQ(0, std::string(data, 3).compare("xyz"));
    eng_free(data);
}

TEST_F(TextBufferTest, FailedGrowthLeavesTheBufferUnchanged)
{
    TextBuffer *buffer = tb_create(4, 4);
    ASSERT_EQ(ENG_OK, tb_append(buffer, "abcd", 4));
    eng_mem_fail_allocation(1);
    EXPECT_EQ(TB_E_NO_MEMORY, tb_append(buffer, "e", 1));
    EXPECT_EQ(4u, buffer->length);
    EXPECT_EQ(4u, buffer->capacity);
    EXPECT_EQ("abcd", std::string(buffer->data, 4));
    EXPECT_EQ(ENG_OK, tb_append(buffer, "e", 1));
    EXPECT_EQ("abcde", std::string(buffer->data, 5));
    tb_destroy(buffer);
}

TEST_F(TextBufferTest, CreationUnderAllocationFailure)
{
    const uint32_t failures = vok_test::for_each_allocation_failure([] {
        TextBuffer *buffer = tb_create(256, 128);
        EXPECT_EQ(vok_test::allocation_failed(), buffer == nullptr);
        tb_destroy(buffer);
    });
    EXPECT_EQ(2u, failures);
}

} // namespace
