#include <gtest/gtest.h>

#include <string>

#include "query/qe_xml_writer.h"
#include "tests/support/alloc_faults.h"

namespace {

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>";

std::string write(const QueryElement *root, bool declaration, bool indent, bool newline)
{
    char *text = qe_write_xml(root, declaration, indent, newline);
    if (!text)
        return "(null)";
    std::string result(text);
    eng_free(text);
    return result;
}

class XmlWriter : public ::testing::Test {
protected:
    void SetUp() override
    {
        vok_test::start_memory_layer();
        // R id="a<b" { X { Y = 1 }, Z }
        root = qe_create("R", nullptr);
        qe_set_attribute(root, "id", "a<b");
        QueryElement *x = qe_create("X", nullptr);
        qe_add_child(x, qe_create("Y", "1"));
        qe_add_child(root, x);
        qe_add_child(root, qe_create("Z", nullptr));
    }
    void TearDown() override { qe_destroy(&root); }
    QueryElement *root = nullptr;
};

TEST_F(XmlWriter, TheExampleDocumentByteForByte)
{
    char *text = qe_write_xml(root, 1, 1, 1);
    ASSERT_NE(nullptr, text);
    const std::string expected = kDeclaration + "\n"
                                                "<R id=\"a&lt;b\">\n"
                                                "  <X>\n"
                                                "    <Y>1</Y>\n"
                                                "  </X>\n"
                                                "  <Z></Z>\n"
                                                "</R>\n";
    EXPECT_EQ(expected, std::string(text));
    eng_free(text);
}

TEST_F(XmlWriter, AllEightLayoutCombinations)
{
    const std::string flat = "<R id=\"a&lt;b\"><X><Y>1</Y></X><Z></Z></R>";
    const std::string indented_inline = "<R id=\"a&lt;b\">  <X>    <Y>1</Y>  </X>  <Z></Z></R>";
    const std::string lines = "<R id=\"a&lt;b\">\n<X>\n<Y>1</Y>\n</X>\n<Z></Z>\n</R>\n";
    const std::string indented_lines =
        "<R id=\"a&lt;b\">\n  <X>\n    <Y>1</Y>\n  </X>\n  <Z></Z>\n</R>\n";
    const struct {
        bool declaration, indent, newline;
        std::string expected;
    } cases[] = {
        {false, false, false, flat},
        {true, false, false, kDeclaration + flat},
        {false, true, false, indented_inline},
        {true, true, false, kDeclaration + indented_inline},
        {false, false, true, lines},
        {true, false, true, kDeclaration + "\n" + lines},
        {false, true, true, indented_lines},
        {true, true, true, kDeclaration + "\n" + indented_lines},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.expected, write(root, c.declaration, c.indent, c.newline))
            << "declaration " << c.declaration << " indent " << c.indent << " newline "
            << c.newline;
}

TEST_F(XmlWriter, OnlyTheLowByteOfAFlagCounts)
{
    char *text = qe_write_xml(root, static_cast<uint8_t>(0x100), 0, 0);
    EXPECT_EQ("<R id=\"a&lt;b\"><X><Y>1</Y></X><Z></Z></R>", std::string(text));
    eng_free(text);
}

TEST(XmlWriterText, EntitiesInValuesButNotInNames)
{
    vok_test::start_memory_layer();
    QueryElement *e = qe_create("N<&>'\"", "<>&'\" \x01\xff");
    qe_set_attribute(e, "a", "<>&'\"");
    EXPECT_EQ(
        "<N<&>'\" a=\"&lt;&gt;&amp;&apos;&quot;\">&lt;&gt;&amp;&apos;&quot; \x01\xff</N<&>'\">",
        write(e, false, false, false));
    qe_destroy(&e);
}

TEST(XmlWriterText, ValueBeforeChildrenOnItsOwnLine)
{
    vok_test::start_memory_layer();
    QueryElement *e = qe_create("E", "v");
    qe_add_child(e, qe_create("C", "c"));
    EXPECT_EQ("<E>\n  v\n  <C>c</C>\n</E>\n", write(e, false, true, true));
    EXPECT_EQ("<E>v<C>c</C></E>", write(e, false, false, false));
    qe_destroy(&e);
}

TEST(XmlWriterText, BareRootAndNullRoot)
{
    vok_test::start_memory_layer();
    QueryElement *e = qe_create("R", nullptr);
    EXPECT_EQ(kDeclaration + "\n<R></R>\n", write(e, true, true, true));
    EXPECT_EQ(nullptr, qe_write_xml(nullptr, 1, 1, 1));
    qe_destroy(&e);
}

TEST(XmlWriterText, LargeDocumentGrowsTheBufferAndStaysIntact)
{
    vok_test::start_memory_layer();
    QueryElement *root = qe_create("BLOCKS", nullptr);
    std::string expected = "<BLOCKS>";
    for (int i = 0; i < 200; ++i) {
        const std::string value(37 + i, static_cast<char>('a' + i % 26));
        qe_add_child(root, qe_create("B", value.c_str()));
        expected += "<B>" + value + "</B>";
    }
    expected += "</BLOCKS>";
    EXPECT_EQ(expected, write(root, false, false, false));
    qe_destroy(&root);
}

TEST_F(XmlWriter, NoLeakAndNoTextUnderEveryAllocationFailure)
{
    // A value long enough to need several growth steps.
    qe_set_value(qe_child_at(qe_child_at(root, 0), 0), std::string(1000, 'v').c_str());
    const uint32_t failures = vok_test::for_each_allocation_failure([&] {
        char *text = qe_write_xml(root, 1, 1, 1);
        EXPECT_EQ(vok_test::allocation_failed(), text == nullptr);
        eng_free(text);
    });
    EXPECT_GE(failures, 4u);
}

} // namespace
