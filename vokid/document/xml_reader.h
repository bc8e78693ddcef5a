// A small XML reader for fingerprint documents and the server queries that
// wrap them: elements, attributes, character data with the five named
// entities and numeric references, declarations and comments between
// elements. Nothing else that XML allows (DOCTYPE, CDATA, processing
// instructions inside elements) occurs in these documents, and it is
// refused rather than half understood.
#ifndef VOKID_DOCUMENT_XML_READER_H
#define VOKID_DOCUMENT_XML_READER_H

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vokid {

struct XmlElement {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string text; // the character data directly inside, entities resolved
    std::vector<XmlElement> children;
    size_t offset = 0; // of the start tag's '<' in the text read

    // The attribute's value, or null when the element has none by that name.
    const std::string *attribute(std::string_view attributeName) const;
};

// Malformed XML, at a byte offset of the text read.
class XmlError : public std::runtime_error {
public:
    XmlError(size_t at, const std::string &what) : std::runtime_error(what), offset(at) {}
    size_t byteOffset() const { return offset; }

private:
    size_t offset;
};

// Reads a text that holds a sequence of top-level elements (several
// documents one after the other), one element at a time.
class XmlReader {
public:
    explicit XmlReader(std::string_view input) : text(input) {}

    // The next top-level element; false at the end of the text.
    bool next(XmlElement &element);

private:
    void skipMisc();
    void readElement(XmlElement &element, unsigned depth);
    void readAttributes(XmlElement &element);
    void readContent(XmlElement &element, unsigned depth);
    std::string readName();
    std::string readCharacters(char stop);
    void appendReference(std::string &out);
    void expect(char c);
    bool startsWith(std::string_view prefix) const;
    [[noreturn]] void fail(const std::string &what) const;

    std::string_view text;
    size_t at = 0;
};

// Line and column (both from 1) of a byte offset in a text.
std::pair<size_t, size_t> lineAndColumn(std::string_view text, size_t offset);

} // namespace vokid

#endif
