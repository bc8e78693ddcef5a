// Fuzzes the query document and its XML writer: builds a tree from the input
// with every mutating operation, writes it with the input's layout flags,
// parses the text back with an independent reader and requires the same
// names, attributes and values in the same order. One allocation chosen by
// the input may fail; the operations must then report it and leak nothing.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/eng_memory.h"
#include "query/qe_xml_writer.h"
#include "query/query_element.h"

namespace {

struct Node {
    std::string name;
    bool has_value = false;
    std::string value;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<Node> children;
};

[[noreturn]] void fail(const char *what)
{
    fprintf(stderr, "XML check failed: %s\n", what);
    abort();
}

// Reads the writer's output back. Knows the layout flags, so that the
// indentation and line ends around mixed content can be told from a value.
class Reader {
public:
    Reader(const std::string &text, bool indent, bool newline)
        : text_(text), indent_(indent), newline_(newline)
    {
    }

    Node document(bool declaration)
    {
        if (declaration) {
            expect(QE_XML_DECLARATION);
            if (newline_)
                expect("\n");
        }
        Node root = element(0);
        if (pos_ != text_.size())
            fail("text after the root element");
        return root;
    }

private:
    std::string indentation(int level) const
    {
        return indent_ ? std::string(2 * static_cast<size_t>(level), ' ') : std::string();
    }

    bool at(const std::string &token) const
    {
        return text_.compare(pos_, token.size(), token) == 0;
    }

    void expect(const std::string &token)
    {
        if (!at(token))
            fail("unexpected markup");
        pos_ += token.size();
    }

    static std::string unescape(const std::string &raw, char forbidden_quote)
    {
        static const std::pair<const char *, char> entities[] = {
            {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&apos;", '\''}, {"&quot;", '"'}};
        std::string out;
        for (size_t i = 0; i < raw.size();) {
            const char c = raw[i];
            if (c == '<' || c == '>' || c == forbidden_quote)
                fail("unescaped markup character in a value");
            if (c != '&') {
                out += c;
                ++i;
                continue;
            }
            bool known = false;
            for (const auto &e : entities) {
                const std::string entity = e.first;
                if (raw.compare(i, entity.size(), entity) == 0) {
                    out += e.second;
                    i += entity.size();
                    known = true;
                    break;
                }
            }
            if (!known)
                fail("bare ampersand");
        }
        return out;
    }

    std::string name_until(const char *stops)
    {
        const size_t end = text_.find_first_of(stops, pos_);
        if (end == std::string::npos || end == pos_)
            fail("missing name");
        std::string name = text_.substr(pos_, end - pos_);
        pos_ = end;
        return name;
    }

    Node element(int level)
    {
        Node node;
        expect(indentation(level) + "<");
        node.name = name_until(" >");
        while (at(" ")) {
            ++pos_;
            std::string name = name_until("=");
            expect("=\"");
            const size_t end = text_.find('"', pos_);
            if (end == std::string::npos)
                fail("unterminated attribute");
            node.attributes.emplace_back(name, unescape(text_.substr(pos_, end - pos_), '"'));
            pos_ = end + 1;
        }
        expect(">");

        const size_t next = text_.find('<', pos_);
        if (next == std::string::npos)
            fail("unterminated element");
        const std::string raw = text_.substr(pos_, next - pos_);
        const std::string end_tag = "</" + node.name + ">";
        if (text_.compare(next, end_tag.size(), end_tag) == 0) {
            // A leaf: the text is the value.
            node.has_value = !raw.empty();
            node.value = unescape(raw, 0);
            pos_ = next + end_tag.size();
        } else {
            // Children follow: a value stands on its own line before them.
            std::string inner = raw;
            const std::string child_indent = indentation(level + 1);
            if (newline_) {
                if (inner.compare(0, 1, "\n") != 0)
                    fail("missing line end after a start tag");
                inner.erase(0, 1);
            }
            if (inner.size() < child_indent.size() ||
                inner.compare(inner.size() - child_indent.size(), child_indent.size(),
                              child_indent) != 0)
                fail("missing indentation of the first child");
            inner.erase(inner.size() - child_indent.size());
            pos_ = next - child_indent.size();
            if (!inner.empty()) {
                const std::string line_end = newline_ ? "\n" : "";
                if (inner.compare(0, child_indent.size(), child_indent) != 0 ||
                    inner.size() < child_indent.size() + line_end.size() + 1 ||
                    inner.compare(inner.size() - line_end.size(), line_end.size(), line_end) != 0)
                    fail("malformed value line");
                node.has_value = true;
                node.value =
                    unescape(inner.substr(child_indent.size(),
                                          inner.size() - child_indent.size() - line_end.size()),
                             0);
            }
            const std::string closing = indentation(level) + end_tag;
            while (!at(closing))
                node.children.push_back(element(level + 1));
            pos_ += closing.size();
        }
        if (newline_)
            expect("\n");
        return node;
    }

    const std::string &text_;
    bool indent_, newline_;
    size_t pos_ = 0;
};

void compare(const QueryElement *element, const Node &node)
{
    if (node.name != qe_name(element))
        fail("element name differs");
    const char *value = qe_value(element);
    if (node.has_value != (value != nullptr) || (value && node.value != value))
        fail("element value differs");
    if (node.attributes.size() != qe_attribute_count(element))
        fail("attribute count differs");
    for (uint32_t i = 0; i < node.attributes.size(); ++i) {
        if (node.attributes[i].first != qe_attribute_name(element, i) ||
            node.attributes[i].second != qe_attribute_value(element, i))
            fail("attribute differs");
    }
    if (node.children.size() != qe_child_count(element))
        fail("child count differs");
    uint32_t i = 0;
    for (const QueryElement *child = element->first_child; child; child = child->next_sibling)
        compare(child, node.children[i++]);
}

// Few distinct names, so that lookups and replacements meet existing ones.
std::string pick_name(FuzzedDataProvider &in)
{
    static const char *const names[] = {"A", "B", "AB", "A.B", "FP_BLOCK", "x-1", "_"};
    return names[in.ConsumeIntegralInRange<size_t>(0, sizeof names / sizeof names[0] - 1)];
}

std::string pick_text(FuzzedDataProvider &in)
{
    const size_t length = in.ConsumeIntegralInRange<size_t>(0, 24);
    std::string text;
    for (size_t i = 0; i < length && in.remaining_bytes() > 0; ++i) {
        const char c = static_cast<char>(in.ConsumeIntegralInRange<int>(0x1F, 0x7E));
        text += c == 0x1F ? '\n' : c; // printable ASCII, the five specials and line ends
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    eng_mem_initialize(0, 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const int64_t live_before = eng_mem_live_blocks();
    eng_mem_fail_allocation(in.ConsumeIntegralInRange<uint32_t>(0, 60));
    // The layout comes first, so that it is set whatever the tree uses up.
    const bool declaration = in.ConsumeBool(), indent = in.ConsumeBool(),
               newline = in.ConsumeBool();

    QueryElement *root = qe_create(pick_name(in).c_str(), pick_text(in).c_str());
    std::vector<QueryElement *> path;
    if (root)
        path.push_back(root);
    for (int op = 0; root && op < 200 && in.remaining_bytes() > 0; ++op) {
        QueryElement *current = path.back();
        ResultCode result = ENG_OK;
        switch (in.ConsumeIntegralInRange<int>(0, 6)) {
        case 0: {
            QueryElement *child = qe_create(pick_name(in).c_str(), pick_text(in).c_str());
            qe_add_child(current, child);
            if (child && path.size() < 32 && in.ConsumeBool())
                path.push_back(child);
            break;
        }
        case 1:
            if (path.size() > 1)
                path.pop_back();
            break;
        case 2:
            result = qe_set_value(current, pick_text(in).c_str());
            break;
        case 3: {
            const std::string name = pick_name(in);
            result = qe_set_attribute(current, name.c_str(), pick_text(in).c_str());
            break;
        }
        case 4: {
            const std::string name = pick_name(in);
            result = qe_set_attribute_long(current, name.c_str(), in.ConsumeIntegral<int32_t>());
            break;
        }
        case 5: {
            std::string target = pick_name(in);
            for (int depth = in.ConsumeIntegralInRange<int>(0, 2); depth > 0; --depth)
                target += "/" + pick_name(in);
            result = qe_set_path(current, target.c_str(), pick_text(in).c_str(), in.ConsumeBool());
            break;
        }
        case 6:
            result =
                qe_set_path_uint(current, pick_name(in).c_str(), in.ConsumeIntegral<uint32_t>(), 1);
            break;
        }
        if (result != ENG_OK && result != QE_E_NO_MEMORY && result != QE_E_NOT_FOUND)
            fail("unexpected result code");
        if (result == QE_E_NO_MEMORY && eng_mem_failure_pending())
            fail("out of memory reported without a failed allocation");
    }

    char *text = qe_write_xml(root, declaration, indent, newline);
    if (text) {
        const std::string written(text);
        compare(root, Reader(written, indent, newline).document(declaration));
        eng_free(text);
    } else if (root && eng_mem_failure_pending()) {
        fail("no text although no allocation failed");
    }
    qe_destroy(&root);
    eng_mem_fail_allocation(0);
    if (eng_mem_live_blocks() != live_before)
        fail("engine blocks leaked");
    return 0;
}
