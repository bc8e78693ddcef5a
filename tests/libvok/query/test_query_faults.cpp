// Every allocation failure while a document is built is reported with its
// code and leaves nothing behind.
#include <gtest/gtest.h>

#include "query/query_element.h"
#include "tests/support/alloc_faults.h"

namespace {

class QueryFaults : public ::testing::Test {
protected:
    void SetUp() override { vok_test::start_memory_layer(); }
};

TEST_F(QueryFaults, CreationReleasesPartialElements)
{
    const uint32_t failures = vok_test::for_each_allocation_failure([] {
        QueryElement *e = qe_create("NAME", "value");
        EXPECT_EQ(vok_test::allocation_failed(), e == nullptr);
        qe_destroy(&e);
    });
    EXPECT_EQ(3u, failures);
}

TEST_F(QueryFaults, AttributeFailureKeepsExistingAttributes)
{
    QueryElement *e = qe_create("E", nullptr);
    qe_set_attribute(e, "A", "old");
    const uint32_t failures = vok_test::for_each_allocation_failure([&] {
        const ResultCode result = qe_set_attribute(e, "A", "new");
        if (vok_test::allocation_failed()) {
            EXPECT_EQ(QE_E_NO_MEMORY, result);
            EXPECT_STREQ("old", qe_attribute_value(e, 0));
        } else {
            EXPECT_EQ(ENG_OK, result);
            EXPECT_STREQ("new", qe_attribute_value(e, 0));
        }
    });
    EXPECT_EQ(3u, failures);
    EXPECT_EQ(1u, qe_attribute_count(e));
    qe_destroy(&e);
}

TEST_F(QueryFaults, ValueFailureLeavesNoValue)
{
    QueryElement *e = qe_create("E", "old");
    eng_mem_fail_allocation(1);
    EXPECT_EQ(QE_E_NO_MEMORY, qe_set_value(e, "new"));
    EXPECT_EQ(nullptr, qe_value(e));
    qe_destroy(&e);
}

TEST_F(QueryFaults, PathCreationKeepsWhatWasBuilt)
{
    vok_test::for_each_allocation_failure([] {
        QueryElement *root = qe_create("R", nullptr);
        if (!root)
            return;
        const ResultCode result = qe_set_path(root, "A/B/C", "v", 1);
        if (vok_test::allocation_failed())
            EXPECT_EQ(QE_E_NO_MEMORY, result);
        else
            EXPECT_EQ(ENG_OK, result);
        qe_destroy(&root);
    });
}

} // namespace
