#include "vokid/document/xml_reader.h"

#include <algorithm>

namespace vokid {

namespace {

// Documents nest four levels deep (server query list, query, data;
// document, blocks, block); anything much deeper is not one of them, and
// the limit keeps hostile input from exhausting the stack.
constexpr unsigned kMaxDepth = 16;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isNameStart(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':';
}

bool isNameChar(char c)
{
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

void appendUtf8(std::string &out, uint32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

} // namespace

const std::string *XmlElement::attribute(std::string_view attributeName) const
{
    for (const auto &attribute : attributes)
        if (attribute.first == attributeName)
            return &attribute.second;
    return nullptr;
}

bool XmlReader::next(XmlElement &element)
{
    skipMisc();
    if (at == text.size())
        return false;
    if (text[at] != '<')
        fail("text outside any element");
    element = XmlElement();
    readElement(element, 0);
    return true;
}

// White space, XML declarations and comments between elements.
void XmlReader::skipMisc()
{
    for (;;) {
        while (at < text.size() && isSpace(text[at]))
            ++at;
        const char *end = nullptr;
        if (startsWith("<?"))
            end = "?>";
        else if (startsWith("<!--"))
            end = "-->";
        else
            return;
        const size_t close = text.find(end, at + 2);
        if (close == std::string_view::npos)
            fail(startsWith("<?") ? "unterminated declaration" : "unterminated comment");
        at = close + std::string_view(end).size();
    }
}

void XmlReader::readElement(XmlElement &element, unsigned depth)
{
    if (depth >= kMaxDepth)
        fail("elements nested more than 16 deep");
    element.offset = at;
    expect('<');
    element.name = readName();
    readAttributes(element);
    if (startsWith("/>")) {
        at += 2;
        return;
    }
    expect('>');
    readContent(element, depth);
}

void XmlReader::readAttributes(XmlElement &element)
{
    for (;;) {
        const size_t before = at;
        while (at < text.size() && isSpace(text[at]))
            ++at;
        if (at == text.size() || text[at] == '>' || text[at] == '/')
            return;
        if (at == before)
            fail("expected white space before an attribute");
        std::string name = readName();
        if (element.attribute(name))
            fail("attribute " + name + " given twice");
        while (at < text.size() && isSpace(text[at]))
            ++at;
        expect('=');
        while (at < text.size() && isSpace(text[at]))
            ++at;
        if (at == text.size() || (text[at] != '"' && text[at] != '\''))
            fail("expected a quoted attribute value");
        const char quote = text[at++];
        std::string value = readCharacters(quote);
        expect(quote);
        element.attributes.emplace_back(std::move(name), std::move(value));
    }
}

void XmlReader::readContent(XmlElement &element, unsigned depth)
{
    for (;;) {
        element.text += readCharacters('<');
        if (at == text.size())
            fail("element " + element.name + " is not closed");
        if (startsWith("</")) {
            at += 2;
            const size_t nameAt = at;
            const std::string name = readName();
            if (name != element.name) {
                at = nameAt;
                fail("end tag " + name + " where " + element.name + " should end");
            }
            while (at < text.size() && isSpace(text[at]))
                ++at;
            expect('>');
            return;
        }
        if (startsWith("<!--")) {
            const size_t close = text.find("-->", at + 4);
            if (close == std::string_view::npos)
                fail("unterminated comment");
            at = close + 3;
        } else if (startsWith("<!") || startsWith("<?")) {
            fail("markup of a kind fingerprint documents do not use");
        } else {
            element.children.emplace_back();
            readElement(element.children.back(), depth + 1);
        }
    }
}

std::string XmlReader::readName()
{
    const size_t start = at;
    if (at < text.size() && isNameStart(text[at])) {
        while (at < text.size() && isNameChar(text[at]))
            ++at;
    }
    if (at == start)
        fail("expected a name");
    return std::string(text.substr(start, at - start));
}

// Character data up to (not including) `stop` or the end of the text.
std::string XmlReader::readCharacters(char stop)
{
    std::string out;
    while (at < text.size() && text[at] != stop) {
        if (text[at] == '&') {
            appendReference(out);
        } else if (text[at] == '<') {
            fail("'<' inside an attribute value");
        } else {
            const size_t end =
                std::min(text.find_first_of(std::string{stop, '&', '<'}, at), text.size());
            out.append(text.substr(at, end - at));
            at = end;
        }
    }
    return out;
}

void XmlReader::appendReference(std::string &out)
{
    const size_t semicolon = text.find(';', at);
    if (semicolon == std::string_view::npos || semicolon - at > 10)
        fail("'&' that starts no entity");
    const std::string_view name = text.substr(at + 1, semicolon - at - 1);
    static const std::pair<std::string_view, char> kNamed[] = {
        {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
    for (const auto &entity : kNamed) {
        if (name == entity.first) {
            out += entity.second;
            at = semicolon + 1;
            return;
        }
    }
    if (name.size() >= 2 && name[0] == '#') {
        const bool hex = name[1] == 'x';
        const std::string_view digits = name.substr(hex ? 2 : 1);
        uint32_t code = 0;
        bool valid = !digits.empty();
        for (char c : digits) {
            int digit = c >= '0' && c <= '9' ? c - '0' : -1;
            if (hex && c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            if (hex && c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            if (digit < 0)
                valid = false;
            code = code * (hex ? 16u : 10u) + static_cast<uint32_t>(std::max(digit, 0));
        }
        // At most 8 digits fit the limit of 10 characters, so the value
        // cannot wrap before this test.
        if (valid && code > 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF)) {
            appendUtf8(out, code);
            at = semicolon + 1;
            return;
        }
    }
    fail("unknown entity &" + std::string(name) + ";");
}

void XmlReader::expect(char c)
{
    if (at == text.size() || text[at] != c)
        fail(std::string("expected '") + c + "'");
    ++at;
}

bool XmlReader::startsWith(std::string_view prefix) const
{
    return text.substr(at, prefix.size()) == prefix;
}

void XmlReader::fail(const std::string &what) const
{
    throw XmlError(at, what);
}

std::pair<size_t, size_t> lineAndColumn(std::string_view text, size_t offset)
{
    offset = std::min(offset, text.size());
    const size_t line =
        1 + static_cast<size_t>(std::count(text.begin(), text.begin() + offset, '\n'));
    const size_t lineStart = offset == 0 ? std::string_view::npos : text.rfind('\n', offset - 1);
    const size_t column = lineStart == std::string_view::npos ? offset + 1 : offset - lineStart;
    return {line, column};
}

} // namespace vokid
