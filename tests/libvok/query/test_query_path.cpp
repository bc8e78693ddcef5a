#include <gtest/gtest.h>

#include "query/query_element.h"
#include "tests/support/alloc_faults.h"

namespace {

class QueryPath : public ::testing::Test {
protected:
    void SetUp() override
    {
        vok_test::start_memory_layer();
        root = qe_create("ROOT", nullptr);
    }
    void TearDown() override { qe_destroy(&root); }
    QueryElement *root = nullptr;
};

TEST_F(QueryPath, CreatesMissingElementsAndReusesTheFirstOfAName)
{
    ASSERT_EQ(ENG_OK, qe_set_path(root, "ALGORITHM/NAME", "n", 1));
    ASSERT_EQ(ENG_OK, qe_set_path(root, "ALGORITHM/VERSION", "1.1", 1));
    ASSERT_EQ(1u, qe_child_count(root));
    QueryElement *algorithm = qe_child_at(root, 0);
    EXPECT_STREQ("ALGORITHM", qe_name(algorithm));
    EXPECT_EQ(nullptr, qe_value(algorithm));
    ASSERT_EQ(2u, qe_child_count(algorithm));
    EXPECT_STREQ("NAME", qe_name(qe_child_at(algorithm, 0)));
    EXPECT_STREQ("n", qe_value(qe_child_at(algorithm, 0)));
    EXPECT_STREQ("VERSION", qe_name(qe_child_at(algorithm, 1)));

    EXPECT_EQ(ENG_OK, qe_set_path(root, "ALGORITHM/NAME", "m", 0));
    EXPECT_STREQ("m", qe_value(qe_child_at(algorithm, 0)));
    EXPECT_EQ(ENG_OK, qe_set_path(root, "ALGORITHM/NAME", nullptr, 0));
    EXPECT_EQ(nullptr, qe_value(qe_child_at(algorithm, 0)));
}

TEST_F(QueryPath, WithoutCreationAMissingElementIsNotFound)
{
    EXPECT_EQ(QE_E_NOT_FOUND, qe_set_path(root, "A/B", "v", 0));
    EXPECT_EQ(0u, qe_child_count(root));
}

TEST_F(QueryPath, MalformedPaths)
{
    EXPECT_EQ(QE_E_INVALID_ARG, qe_set_path(nullptr, "A", "v", 1));
    EXPECT_EQ(QE_E_INVALID_ARG, qe_set_path(root, nullptr, "v", 1));
    EXPECT_EQ(QE_E_INVALID_ARG, qe_set_path(root, "", "v", 1));
    EXPECT_EQ(QE_E_INVALID_ARG, qe_set_path(root, "/A", "v", 1));
    EXPECT_EQ(0u, qe_child_count(root));

    // The elements before the fault have been created and stay.
    EXPECT_EQ(QE_E_INVALID_ARG, qe_set_path(root, "A//B", "v", 1));
    EXPECT_EQ(QE_E_INVALID_ARG, qe_set_path(root, "C/", "v", 1));
    ASSERT_EQ(2u, qe_child_count(root));
    EXPECT_STREQ("A", qe_name(qe_child_at(root, 0)));
    EXPECT_STREQ("C", qe_name(qe_child_at(root, 1)));
    EXPECT_EQ(0u, qe_child_count(qe_child_at(root, 0)));
}

TEST_F(QueryPath, NumbersAreUnsignedDecimal)
{
    qe_set_path_uint(root, "N", 4294967295u, 1);
    qe_set_path_uint(root, "Z", 0, 1);
    EXPECT_STREQ("4294967295", qe_value(qe_child_at(root, 0)));
    EXPECT_STREQ("0", qe_value(qe_child_at(root, 1)));
}

} // namespace
