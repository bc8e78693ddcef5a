#include <gtest/gtest.h>

#include <string>

#include "query/query_element.h"
#include "tests/support/alloc_faults.h"

namespace {

class QueryElementTest : public vok_test::LeakCheckedTest {};

std::string attributes_of(const QueryElement *e)
{
    std::string text;
    for (uint32_t i = 0; i < qe_attribute_count(e); ++i)
        text += std::string(qe_attribute_name(e, i)) + "=" + qe_attribute_value(e, i) + ";";
    return text;
}

TEST_F(QueryElementTest, NamesAreRequiredValuesAreOptional)
{
    EXPECT_EQ(nullptr, qe_create(nullptr, "v"));
    EXPECT_EQ(nullptr, qe_create("", "v"));
    EXPECT_EQ(nullptr, qe_create_n("AB", 0, "v", 1));
    EXPECT_EQ(nullptr, qe_create_n("\0B", 2, "v", 1));

    QueryElement *no_value = qe_create("A", nullptr);
    QueryElement *empty_value = qe_create("A", "");
    QueryElement *counted = qe_create_n("ABCD", 2, "xyz", 2);
    ASSERT_NE(nullptr, no_value);
    ASSERT_NE(nullptr, empty_value);
    ASSERT_NE(nullptr, counted);
    EXPECT_EQ(nullptr, qe_value(no_value));
    EXPECT_EQ(nullptr, qe_value(empty_value));
    EXPECT_STREQ("AB", qe_name(counted));
    EXPECT_STREQ("xy", qe_value(counted));
    qe_destroy(&no_value);
    qe_destroy(&empty_value);
    qe_destroy(&counted);
    EXPECT_EQ(nullptr, counted);
}

TEST_F(QueryElementTest, NullElementsReadAsEmpty)
{
    EXPECT_EQ(nullptr, qe_name(nullptr));
    EXPECT_EQ(nullptr, qe_value(nullptr));
    EXPECT_EQ(0u, qe_attribute_count(nullptr));
    EXPECT_EQ(nullptr, qe_attribute_name(nullptr, 0));
    EXPECT_EQ(0u, qe_child_count(nullptr));
    EXPECT_EQ(nullptr, qe_child_at(nullptr, 0));
    EXPECT_EQ(nullptr, qe_find_child_n(nullptr, "A", 1));
    QueryElement *none = nullptr;
    EXPECT_EQ(ENG_OK, qe_destroy(&none));
    EXPECT_EQ(ENG_OK, qe_destroy(nullptr));
    EXPECT_EQ(ENG_OK, qe_free(nullptr));
    EXPECT_EQ(QE_E_INVALID_ARG, qe_set_value(nullptr, "v"));
}

TEST_F(QueryElementTest, SettingValues)
{
    QueryElement *e = qe_create("E", "first");
    EXPECT_EQ(ENG_OK, qe_set_value(e, "second"));
    EXPECT_STREQ("second", qe_value(e));
    EXPECT_EQ(ENG_OK, qe_set_value_n(e, "thirdly", 5));
    EXPECT_STREQ("third", qe_value(e));
    EXPECT_EQ(ENG_OK, qe_set_value(e, qe_value(e) + 1)) << "a value taken from itself";
    EXPECT_STREQ("hird", qe_value(e));
    for (const char *clearing : {static_cast<const char *>(nullptr), ""}) {
        qe_set_value(e, "x");
        EXPECT_EQ(ENG_OK, qe_set_value(e, clearing));
        EXPECT_EQ(nullptr, qe_value(e));
    }
    qe_set_value(e, "x");
    EXPECT_EQ(ENG_OK, qe_set_value_n(e, "abc", 0));
    EXPECT_EQ(nullptr, qe_value(e));
    qe_destroy(&e);
}

TEST_F(QueryElementTest, ReplacingAnAttributeMovesItLastRemovingTakesTheFirst)
{
    QueryElement *e = qe_create("E", nullptr);
    EXPECT_EQ(ENG_OK, qe_set_attribute(e, "A", "1"));
    EXPECT_EQ(ENG_OK, qe_set_attribute(e, "B", "2"));
    EXPECT_EQ(ENG_OK, qe_set_attribute(e, "A", "3"));
    EXPECT_EQ("B=2;A=3;", attributes_of(e));
    EXPECT_EQ(ENG_OK, qe_set_attribute(e, "A", ""));
    EXPECT_EQ("B=2;", attributes_of(e));
    EXPECT_EQ(ENG_OK, qe_set_attribute(e, "B", nullptr));
    EXPECT_EQ("", attributes_of(e));
    EXPECT_EQ(ENG_OK, qe_set_attribute(e, "gone", nullptr)) << "removing an absent one is fine";

    EXPECT_EQ(QE_E_INVALID_ARG, qe_set_attribute(nullptr, "A", "1"));
    EXPECT_EQ(QE_E_INVALID_ARG, qe_set_attribute(e, nullptr, "1"));
    EXPECT_EQ(QE_E_INVALID_ARG, qe_set_attribute(e, "", "1"));
    EXPECT_EQ(QE_E_INVALID_ARG, qe_set_attribute_n(e, "AB", 0, "1", 1));

    EXPECT_EQ(ENG_OK, qe_set_attribute_n(e, "ABC", 2, "xyz", 1));
    EXPECT_EQ("AB=x;", attributes_of(e));
    EXPECT_EQ(nullptr, qe_attribute_name(e, 1));
    EXPECT_EQ(nullptr, qe_attribute_value(e, 1));
    qe_destroy(&e);
}

TEST_F(QueryElementTest, AttributeNumbersAreSignedDecimal)
{
    QueryElement *e = qe_create("E", nullptr);
    qe_set_attribute_long(e, "N", -5);
    qe_set_attribute_long(e, "MIN", INT32_MIN);
    qe_set_attribute_long(e, "Z", 0);
    EXPECT_EQ("N=-5;MIN=-2147483648;Z=0;", attributes_of(e));
    qe_destroy(&e);
}

TEST_F(QueryElementTest, AttributeListOperations)
{
    QueryElement *e = qe_create("E", nullptr);
    EXPECT_EQ(QE_E_INVALID_ARG, qe_append_attribute(e, nullptr));
    qe_append_attribute(e, qa_create_n("K", 1, "1", 1));
    qe_append_attribute(e, qa_create_n("K2", 2, "2", 1));
    qe_append_attribute(e, qa_create_n("K", 1, "3", 1));
    EXPECT_EQ("K2=2;K=3;", attributes_of(e));
    EXPECT_EQ(ENG_OK, qe_remove_attribute_n(e, "K3", 1)) << "counted: the name is K";
    EXPECT_EQ("K2=2;", attributes_of(e)) << "and K2 is not K";
    EXPECT_EQ(ENG_OK, qe_remove_attribute_n(nullptr, "K2", 2));
    EXPECT_EQ(ENG_OK, qe_remove_attribute_n(e, "K2", 0));
    EXPECT_EQ(ENG_OK, qe_remove_attribute_n(e, nullptr, 2));
    EXPECT_EQ("K2=2;", attributes_of(e));
    EXPECT_EQ(ENG_OK, qe_remove_attribute_n(e, "K2", 2));
    EXPECT_EQ("", attributes_of(e));
    qe_destroy(&e);
}

TEST_F(QueryElementTest, ChildrenKeepInsertionOrderAndMatchExactly)
{
    QueryElement *root = qe_create("R", nullptr);
    QueryElement *abc = qe_create("ABC", nullptr);
    QueryElement *ab = qe_create("AB", nullptr);
    QueryElement *abc2 = qe_create("ABC", "second");
    EXPECT_EQ(ENG_OK, qe_add_child(root, abc));
    EXPECT_EQ(ENG_OK, qe_add_child(root, ab));
    EXPECT_EQ(ENG_OK, qe_add_child(root, abc2));
    EXPECT_EQ(ENG_OK, qe_add_child(root, nullptr));
    EXPECT_EQ(ENG_OK, qe_add_child(nullptr, nullptr));
    EXPECT_EQ(3u, qe_child_count(root));
    EXPECT_EQ(abc, qe_child_at(root, 0));
    EXPECT_EQ(ab, qe_child_at(root, 1));
    EXPECT_EQ(abc2, qe_child_at(root, 2));
    EXPECT_EQ(nullptr, qe_child_at(root, 3));

    EXPECT_EQ(abc, qe_find_child_n(root, "ABC", 3)) << "the first of a name wins";
    EXPECT_EQ(ab, qe_find_child_n(root, "ABC", 2));
    EXPECT_EQ(nullptr, qe_find_child_n(root, "A", 1));
    EXPECT_EQ(nullptr, qe_find_child_n(root, "ABCD", 4));
    EXPECT_EQ(nullptr, qe_find_child_n(root, "", 0));
    EXPECT_EQ(nullptr, qe_find_child_n(root, "\0BC", 3));
    qe_destroy(&root);
}

TEST(QueryCompare, UnsignedBytesThenLength)
{
    const struct {
        const char *a;
        uint32_t a_len;
        const char *b;
        uint32_t b_len;
        int32_t expected;
    } cases[] = {
        {"abc", 3, "abc", 3, 0}, {"abc", 3, "abd", 3, -1}, {"abd", 3, "abc", 3, 1},
        {"ab", 2, "abc", 3, -1}, {"abc", 3, "ab", 2, 1},   {"\x80", 1, "\x7f", 1, 1},
        {"", 0, "", 0, 0},       {"abc", 2, "abd", 2, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.expected, qe_compare_n(c.a, c.a_len, c.b, c.b_len)) << c.a << " vs " << c.b;
}

TEST(QueryStrndup, CopiesExactlyNBytes)
{
    vok_test::start_memory_layer();
    EXPECT_EQ(nullptr, qe_strndup(nullptr, 3));
    char *copy = qe_strndup("abcdef", 3);
    EXPECT_STREQ("abc", copy);
    eng_free(copy);
}

} // namespace
