// Drives an engine operation through every allocation failure it can meet.
#ifndef VOK_TESTS_SUPPORT_ALLOC_FAULTS_H
#define VOK_TESTS_SUPPORT_ALLOC_FAULTS_H

#include <gtest/gtest.h>

#include <cstdint>

#include "engine/eng_memory.h"

namespace vok_test {

// True once the failure armed by for_each_allocation_failure has happened.
inline bool allocation_failed()
{
    return !eng_mem_failure_pending();
}

// Runs attempt() with the 1st, 2nd, 3rd ... allocation failing, until a run
// completes without reaching the armed failure. The attempt must release
// whatever it obtained; every run must leave the memory layer's live block
// count where it was. Answers the number of failing runs.
template <class Attempt>
uint32_t for_each_allocation_failure(Attempt attempt)
{
    for (uint32_t nth = 1;; ++nth) {
        const int64_t before = eng_mem_live_blocks();
        eng_mem_fail_allocation(nth);
        attempt();
        const bool hit = allocation_failed();
        eng_mem_fail_allocation(0);
        EXPECT_EQ(before, eng_mem_live_blocks())
            << "blocks leaked when allocation " << nth << " failed";
        if (!hit)
            return nth - 1;
    }
}

// Starts the engine's memory layer once for a test program.
inline void start_memory_layer()
{
    eng_mem_initialize(0, 0);
}

// A test that starts the memory layer and requires every engine block
// allocated during the test to be freed by its end.
class LeakCheckedTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        start_memory_layer();
        live_before_ = eng_mem_live_blocks();
    }
    void TearDown() override
    {
        EXPECT_EQ(live_before_, eng_mem_live_blocks()) << "the test leaked engine memory";
    }

private:
    int64_t live_before_ = 0;
};

} // namespace vok_test

#endif
