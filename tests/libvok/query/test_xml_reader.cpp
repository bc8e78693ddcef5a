// The XML reader: trees the writer wrote read back the same in every
// layout, the forms documents may take beyond the writer's, every refusal
// with its offset, the depth bound, allocation failure, and where a value's
// bytes lie in the text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "query/qe_xml_reader.h"
#include "query/qe_xml_writer.h"
#include "tests/support/alloc_faults.h"

namespace {

// name[attribute=value ...](value){children}: a tree in one line.
std::string shape(const QueryElement *element)
{
    std::string out = element->name;
    for (const QueryAttribute *a = element->attributes; a; a = a->next)
        out += std::string("[") + a->name + "=" + a->value + "]";
    if (element->value)
        out += std::string("(") + element->value + ")";
    if (element->first_child) {
        out += "{";
        for (const QueryElement *c = element->first_child; c; c = c->next_sibling)
            out += shape(c) + (c->next_sibling ? " " : "");
        out += "}";
    }
    return out;
}

struct Read {
    ResultCode result;
    std::string shape;
    size_t used;
    QeXmlFault fault;
};

Read read(const std::string &text)
{
    Read out{ENG_OK, "", 0, {}};
    QueryElement *root = nullptr;
    out.result = qe_read_xml(text.data(), text.size(), &root, &out.used, &out.fault);
    if (root)
        out.shape = shape(root);
    qe_destroy(&root);
    return out;
}

class XmlReader : public vok_test::LeakCheckedTest {};

TEST_F(XmlReader, ReadsBackWhatTheWriterWroteInEveryLayout)
{
    QueryElement *root = qe_create("R", nullptr);
    qe_set_attribute(root, "id", "a<b>&\"c' d");
    qe_set_attribute(root, "SEPARATOR", " ");
    qe_set_path(root, "X/Y", "1 < 2 & \"3\" > 'x'", 1);
    qe_set_path(root, "X/Empty", nullptr, 1);
    qe_set_path(root, "Z", "  padded\n", 1);
    const std::string expected = shape(root);
    for (int layout = 0; layout < 8; ++layout) {
        char *text = qe_write_xml(root, layout & 1, layout & 2, layout & 4);
        ASSERT_NE(nullptr, text);
        const std::string written = text;
        eng_free(text);
        const Read back = read(written + "trailing");
        ASSERT_EQ(ENG_OK, back.result) << written;
        EXPECT_EQ(expected, back.shape) << written;
        EXPECT_EQ(written.size() - (layout & 4 ? 1 : 0), back.used) << written;
    }
    qe_destroy(&root);
}

TEST_F(XmlReader, TakesWhatDocumentsMayHoldBeyondTheWritersForms)
{
    const struct {
        const char *text, *shape;
    } cases[] = {
        {"<!-- c --><?xml version='1.0'?>\n <A b='x\"y' c = \"1\"/>", "A[b=x\"y][c=1]"},
        {"<A>&#65;&#x42;&#x20AC;&#9;&amp;</A >", "A(AB\xE2\x82\xAC\t&)"},
        {"<A> <!-- between --> <B>v<!-- inside -->w</B>\n</A>", "A{B(vw)}"},
        {"<A>\n</A>", "A(\n)"},
        {"<a:b-c.d_e/>", "a:b-c.d_e"},
    };
    for (const auto &c : cases) {
        const Read back = read(c.text);
        EXPECT_EQ(ENG_OK, back.result) << c.text << ": " << back.fault.problem;
        EXPECT_EQ(c.shape, back.shape) << c.text;
    }
}

TEST_F(XmlReader, RefusesWhatDocumentsDoNotHoldSayingWhere)
{
    const struct {
        const char *text;
        size_t offset;
        const char *problem;
    } cases[] = {
        {"", 0, "no element in the text"},
        {" \n<!-- c -->", 12, "no element in the text"},
        {"hello", 0, "text outside any element"},
        {"<!-- open", 0, "unterminated comment"},
        {"<?xml ", 0, "unterminated declaration"},
        {"<!DOCTYPE A><A/>", 0, "markup of a kind"},
        {"<A><![CDATA[x]]></A>", 3, "markup of a kind"},
        {"<A><?pi x?></A>", 3, "markup of a kind"},
        {"<A><B></A>", 8, "end tag A where B should end"},
        {"<A>text", 7, "element A is not closed"},
        {"<A b='1' b='2'/>", 9, "attribute b given twice"},
        {"<A b='1'c='2'/>", 8, "expected white space before an attribute"},
        {"<A b=1/>", 5, "expected a quoted attribute value"},
        {"<A b='<'/>", 6, "'<' inside an attribute value"},
        {"<A>&quote;</A>", 3, "unknown entity &quote;"},
        {"<A>&#0;</A>", 3, "unknown entity &#0;"},
        {"<A>&#xD800;</A>", 3, "unknown entity &#xD800;"},
        {"<A>&#x110000;</A>", 3, "unknown entity"},
        {"<A>& b</A>", 3, "'&' that starts no entity"},
        {"<A>a\x01</A>", 4, "control character (byte 1)"},
        {"<A>x<B/></A>", 3, "text beside the elements inside A"},
        {"<A><B/>x</A>", 7, "text beside the elements inside A"},
        {"<1/>", 1, "expected a name"},
        {"<A b='1'", 8, "expected '>'"},
    };
    for (const auto &c : cases) {
        const Read back = read(c.text);
        EXPECT_EQ(QE_E_BAD_DOCUMENT, back.result) << c.text;
        EXPECT_EQ(c.offset, back.fault.offset) << c.text;
        EXPECT_NE(nullptr, std::strstr(back.fault.problem, c.problem))
            << c.text << ": " << back.fault.problem;
    }
    QueryElement *root = nullptr;
    size_t used = 0;
    QeXmlFault fault;
    EXPECT_EQ(QE_E_INVALID_ARG, qe_read_xml(nullptr, 0, &root, &used, &fault));
    EXPECT_EQ(QE_E_INVALID_ARG, qe_read_xml("<A/>", 4, &root, &used, nullptr));
}

TEST_F(XmlReader, BoundsTheDepthTheNameAndTheAttributes)
{
    std::string deep;
    for (int i = 0; i < QE_XML_MAX_DEPTH; ++i)
        deep = "<A>" + deep + "</A>";
    EXPECT_EQ(ENG_OK, read(deep).result);
    const Read deeper = read("<A>" + deep + "</A>");
    EXPECT_EQ(QE_E_BAD_DOCUMENT, deeper.result);
    EXPECT_EQ(3u * QE_XML_MAX_DEPTH, deeper.fault.offset);
    EXPECT_EQ(QE_E_BAD_DOCUMENT, read("<" + std::string(257, 'n') + "/>").result);
    std::string many = "<A";
    for (int i = 0; i <= QE_XML_MAX_ATTRIBUTES; ++i)
        many += " a" + std::to_string(i) + "=''";
    EXPECT_STREQ("more than 32 attributes on one element", read(many + "/>").fault.problem);
}

TEST_F(XmlReader, LeavesNothingWhenAnAllocationFails)
{
    const std::string text = "<R a='1' b='&lt;'><X><Y>1 &amp; 2</Y></X><Z/></R>";
    const uint32_t failures = vok_test::for_each_allocation_failure([&] {
        const Read back = read(text);
        if (vok_test::allocation_failed())
            EXPECT_EQ(QE_E_NO_MEMORY, back.result);
        else
            EXPECT_EQ("R[a=1][b=<]{X{Y(1 & 2)} Z}", back.shape);
    });
    EXPECT_GT(failures, 10u);
}

TEST_F(XmlReader, FindsElementsAndTheBytesOfAValueInTheText)
{
    // Value "a<b€c" of B, whose start tag is at 4.
    const std::string text = " <A><B q='>'>a&lt;b<!-- - -->&#x20AC;c</B></A>";
    QueryElement *root = nullptr;
    size_t used = 0;
    QeXmlFault fault;
    ASSERT_EQ(ENG_OK, qe_read_xml(text.data(), text.size(), &root, &used, &fault));
    EXPECT_EQ(1u, root->offset);
    ASSERT_EQ(4u, root->first_child->offset);
    qe_destroy(&root);
    const struct {
        size_t index, offset;
    } cases[] = {{0, 13}, {1, 14}, {2, 18}, {3, 29}, {5, 29}, {6, 37}, {7, 38}, {99, 38}};
    for (const auto &c : cases)
        EXPECT_EQ(c.offset, qe_xml_text_offset(text.data(), text.size(), 4, c.index)) << c.index;
}

} // namespace
