#include "vokid/document/document_reader.h"

#include <initializer_list>
#include <map>
#include <string>

#include "vokid/document/base64.h"
#include "vokid/document/block_decoder.h"
#include "vokid/document/quiet_frames.h"
#include "vokid/document/xml_reader.h"

namespace vokid {

namespace {

const std::string kStreamingName = "Velmora";
const std::string kSpectralName = "Quorindavel";
const std::string kAlgorithmVersion = "1.1";
const std::string kDocumentVersion = "1.0";

unsigned popcount(uint32_t word)
{
    return static_cast<unsigned>(__builtin_popcount(word));
}

class Reader {
public:
    explicit Reader(std::string_view input) : text(input) {}
    std::vector<Document> readAll();

private:
    void readTopLevel(const XmlElement &element);
    void readServerQuery(const XmlElement &query);
    void readDocument(const XmlElement &root, const std::string &wrapping);
    void readAlgorithm(const XmlElement &algorithm, Document &document);
    void readStreamingBlocks(const XmlElement &blocks, Document &document);
    void readStreamingBlock(const XmlElement &block, unsigned ord, Document &document);
    void readSpectralBlock(const XmlElement &blocks, Document &document);
    void tellVariant(Document &document);

    std::map<std::string, const XmlElement *> childrenOf(const XmlElement &parent,
                                                         std::initializer_list<const char *> names);
    const XmlElement &required(const std::map<std::string, const XmlElement *> &children,
                               const XmlElement &parent, const std::string &name);
    void expectAttribute(const XmlElement &element, const char *name, const std::string &value,
                         const std::string &context);
    [[noreturn]] void fail(const std::string &what) const;

    std::string_view text;
    std::vector<Document> documents;
};

std::vector<Document> Reader::readAll()
{
    XmlReader xml(text);
    XmlElement element;
    for (;;) {
        try {
            if (!xml.next(element))
                break;
        } catch (const XmlError &error) {
            const auto position = lineAndColumn(text, error.byteOffset());
            fail("line " + std::to_string(position.first) + ", column " +
                 std::to_string(position.second) + ": " + error.what());
        }
        readTopLevel(element);
    }
    if (documents.empty())
        throw DecodeError("no fingerprint document in it");
    return std::move(documents);
}

void Reader::readTopLevel(const XmlElement &element)
{
    if (element.name == "ZUVOK_FP_QUERY") {
        readDocument(element, "");
    } else if (element.name == "ZUSERVER_QUERY_LIST") {
        if (element.children.empty())
            fail("a server query list without queries");
        for (const XmlElement &query : element.children) {
            if (query.name != "ZUSERVER_QUERY")
                fail("<" + query.name + "> inside ZUSERVER_QUERY_LIST");
            readServerQuery(query);
        }
    } else {
        fail("<" + element.name + "> is neither a fingerprint document nor a server query");
    }
}

void Reader::readServerQuery(const XmlElement &query)
{
    if (query.children.empty())
        fail("a server query without FPDATA");
    for (const XmlElement &data : query.children) {
        if (data.name != "FPDATA")
            fail("<" + data.name + "> inside ZUSERVER_QUERY");
        const std::string *type = data.attribute("TYPE");
        if (!type || (*type != "ZUVOK" && *type != "QDV"))
            fail("FPDATA TYPE is " + (type ? "\"" + *type + "\"" : std::string("missing")) +
                 ", not ZUVOK or QDV");
        // The document inside is escaped text; once unescaped it is read
        // like a raw one.
        XmlReader inner(data.text);
        XmlElement root;
        try {
            if (!inner.next(root))
                fail("empty FPDATA");
            XmlElement extra;
            if (inner.next(extra))
                fail("FPDATA holds more than one document");
        } catch (const XmlError &error) {
            const auto position = lineAndColumn(data.text, error.byteOffset());
            fail("line " + std::to_string(position.first) + ", column " +
                 std::to_string(position.second) + " of the wrapped text: " + error.what());
        }
        if (root.name != "ZUVOK_FP_QUERY")
            fail("FPDATA holds <" + root.name + ">, not a fingerprint document");
        readDocument(root, *type);
    }
}

void Reader::readDocument(const XmlElement &root, const std::string &wrapping)
{
    expectAttribute(root, "VERSION", kDocumentVersion, "ZUVOK_FP_QUERY");
    const auto children = childrenOf(root, {"ALGORITHM", "FP_BLOCKS"});
    Document document;
    document.wrapping = wrapping;
    readAlgorithm(required(children, root, "ALGORITHM"), document);
    const XmlElement &blocks = required(children, root, "FP_BLOCKS");
    if (document.family == Family::Streaming)
        readStreamingBlocks(blocks, document);
    else
        readSpectralBlock(blocks, document);
    tellVariant(document);
    documents.push_back(std::move(document));
}

void Reader::readAlgorithm(const XmlElement &algorithm, Document &document)
{
    const auto children =
        childrenOf(algorithm, {"NAME", "VERSION", "QUERY", "BLOCK_LENGTH", "FORMAT"});
    const std::string &name = required(children, algorithm, "NAME").text;
    if (name != kStreamingName && name != kSpectralName)
        fail("unknown algorithm \"" + name + "\"");
    document.family = name == kStreamingName ? Family::Streaming : Family::Spectral;
    const std::string &version = required(children, algorithm, "VERSION").text;
    if (version != kAlgorithmVersion)
        fail(name + " version \"" + version + "\" is unknown (" + kAlgorithmVersion + " is known)");
    const std::string query = name + '"' + version;
    if (required(children, algorithm, "QUERY").text != query)
        fail("ALGORITHM/QUERY is not \"" + query + "\"");

    if (document.family == Family::Spectral) {
        for (const char *streamingOnly : {"BLOCK_LENGTH", "FORMAT"})
            if (children.count(streamingOnly))
                fail(std::string(streamingOnly) + " in a spectral fingerprint");
        return;
    }
    const std::string &length = required(children, algorithm, "BLOCK_LENGTH").text;
    if (length != "3" && length != "6")
        fail("BLOCK_LENGTH \"" + length + "\" is not 3 or 6");
    document.blockLength = length == "3" ? 3 : 6;
    const std::string &format = required(children, algorithm, "FORMAT").text;
    if (format != "COMPRESSED")
        fail("FORMAT \"" + format + "\" is not COMPRESSED");
}

void Reader::readStreamingBlocks(const XmlElement &blocks, Document &document)
{
    unsigned ord = 0;
    for (const XmlElement &block : blocks.children) {
        if (block.name != "FP_BLOCK")
            fail("<" + block.name + "> inside FP_BLOCKS");
        readStreamingBlock(block, ++ord, document);
    }
    document.quiet = markQuietFrames(document.words);
}

void Reader::readStreamingBlock(const XmlElement &element, unsigned ord, Document &document)
{
    const std::string block = "block " + std::to_string(ord);
    expectAttribute(element, "ORD", std::to_string(ord), "FP_BLOCK " + std::to_string(ord));
    expectAttribute(element, "TYPE", "BINARY", block);
    expectAttribute(element, "ENCODING", "BASE64", block);
    std::vector<uint8_t> bytes;
    try {
        bytes = decodeBase64(element.text);
    } catch (const Base64Error &error) {
        fail(block + ": " + error.what());
    }
    if (bytes.empty())
        fail(block + ": empty");
    DecodedBlock decoded;
    try {
        decoded = decodeBlock(bytes.data(), bytes.size());
    } catch (const BlockError &error) {
        fail(block + ", byte offset " + std::to_string(error.byteOffset()) + ": " + error.what());
    }

    // Every mask marks the same number of weak bits: 14 for Stream1, 8 for
    // Stream4 and the six-second variant.
    for (size_t m = 0; m < kKeptMasks; ++m) {
        const unsigned weak = popcount(decoded.masks[m]);
        if (document.weakBits == 0 && (weak == 14 || weak == 8) &&
            (weak == 8 || document.blockLength == 3))
            document.weakBits = weak;
        if (weak != document.weakBits || weak == 0) {
            const std::string expected =
                document.weakBits ? std::to_string(document.weakBits) + " like the masks before it"
                : document.blockLength == 3 ? "14 (Stream1) or 8 (Stream4)"
                                            : "8";
            fail(block + ", byte offset " + std::to_string(decoded.maskOffsets[m]) +
                 ": the kept mask of sub-fingerprint " + std::to_string(m * kMaskStride) +
                 " marks " + std::to_string(weak) + " weak bits, not " + expected);
        }
    }
    document.blockTexts.push_back(element.text);
    document.words.insert(document.words.end(), decoded.words.begin(), decoded.words.end());
    document.masks.insert(document.masks.end(), decoded.masks.begin(), decoded.masks.end());
}

void Reader::readSpectralBlock(const XmlElement &blocks, Document &document)
{
    if (blocks.children.size() != 1 || blocks.children[0].name != "FP_BLOCK")
        fail("FP_BLOCKS of a spectral fingerprint must hold one FP_BLOCK");
    const XmlElement &block = blocks.children[0];
    expectAttribute(block, "TYPE", "SIGNED_INT_16", "block 1");
    expectAttribute(block, "COUNT", std::to_string(kSpectralValues), "block 1");
    expectAttribute(block, "ENCODING", "ASCII", "block 1");
    expectAttribute(block, "SEPARATOR", " ", "block 1");

    // Unsigned decimals without sign or leading zeros, one space apart.
    const std::string &values = block.text;
    size_t at = 0;
    while (at <= values.size()) {
        const size_t end = std::min(values.find(' ', at), values.size());
        const std::string number = values.substr(at, end - at);
        const std::string which = "block 1, value " + std::to_string(document.values.size() + 1);
        bool valid = !number.empty() && number.size() <= 5 && (number == "0" || number[0] != '0');
        uint32_t value = 0;
        for (char c : number) {
            valid = valid && c >= '0' && c <= '9';
            value = value * 10 + static_cast<uint32_t>(c - '0');
        }
        if (!valid || value > 65535)
            fail(which + " \"" + number + "\" is not a number from 0 to 65535");
        document.values.push_back(value);
        if (document.values.size() > kSpectralValues)
            fail("block 1 holds more than " + std::to_string(kSpectralValues) + " values");
        at = end + 1;
    }
    if (document.values.size() != kSpectralValues)
        fail("block 1 holds " + std::to_string(document.values.size()) + " values, not " +
             std::to_string(kSpectralValues));
}

void Reader::tellVariant(Document &document)
{
    if (document.family == Family::Spectral) {
        document.variant = "FileFixed or FileFloat";
        document.variantBasis = "FileFixed and FileFloat documents cannot be told apart";
        return;
    }
    std::string byMasks;
    if (document.blockLength == 6)
        byMasks = "engine algorithm 5";
    else if (document.weakBits)
        byMasks = document.weakBits == 14 ? "Stream1" : "Stream4";
    const std::string masksBasis = std::to_string(document.weakBits) + " weak bits per mask";

    if (document.wrapping.empty()) {
        document.variant = byMasks.empty() ? "Stream1 or Stream4" : byMasks;
        document.variantBasis = document.blockLength == 6 ? "six-second blocks"
                                : byMasks.empty()         ? "no blocks to tell by"
                                                          : masksBasis;
        return;
    }
    // Stream1 is wrapped as ZUVOK, every other algorithm as QDV.
    const bool zuvok = document.wrapping == "ZUVOK";
    const std::string byWrapping = zuvok ? "Stream1" : "Stream4";
    if (!byMasks.empty() && (byMasks == "Stream1") != zuvok)
        fail("wrapped as " + document.wrapping + " (" + (zuvok ? "Stream1" : "not Stream1") +
             ") but its masks mark " + masksBasis.substr(0, masksBasis.find(" per")) + " (" +
             byMasks + ")");
    document.variant = byMasks.empty() ? byWrapping : byMasks;
    document.variantBasis = "wrapped as " + document.wrapping;
    if (!byMasks.empty())
        document.variantBasis += ", " + masksBasis;
}

std::map<std::string, const XmlElement *>
Reader::childrenOf(const XmlElement &parent, std::initializer_list<const char *> names)
{
    std::map<std::string, const XmlElement *> children;
    for (const XmlElement &child : parent.children) {
        bool known = false;
        for (const char *name : names)
            known = known || child.name == name;
        if (!known)
            fail("<" + child.name + "> inside " + parent.name);
        if (!children.emplace(child.name, &child).second)
            fail(child.name + " twice inside " + parent.name);
    }
    return children;
}

const XmlElement &Reader::required(const std::map<std::string, const XmlElement *> &children,
                                   const XmlElement &parent, const std::string &name)
{
    const auto found = children.find(name);
    if (found == children.end())
        fail(parent.name + " without " + name);
    return *found->second;
}

void Reader::expectAttribute(const XmlElement &element, const char *name, const std::string &value,
                             const std::string &context)
{
    const std::string *given = element.attribute(name);
    if (!given)
        fail(context + ": attribute " + name + " is missing");
    if (*given != value)
        fail(context + ": " + name + " is \"" + *given + "\", not \"" + value + "\"");
}

void Reader::fail(const std::string &what) const
{
    throw DecodeError("document " + std::to_string(documents.size() + 1) + ": " + what);
}

} // namespace

std::vector<Document> readDocuments(std::string_view text)
{
    return Reader(text).readAll();
}

bool looksLikeDocuments(std::string_view start)
{
    if (start.substr(0, 3) == "\xEF\xBB\xBF")
        start.remove_prefix(3);
    while (!start.empty() &&
           (start[0] == ' ' || start[0] == '\t' || start[0] == '\n' || start[0] == '\r'))
        start.remove_prefix(1);
    for (std::string_view opening : {"<?xml", "<ZUVOK_FP_QUERY", "<ZUSERVER_QUERY_LIST"})
        if (start.substr(0, opening.size()) == opening)
            return true;
    return false;
}

} // namespace vokid
