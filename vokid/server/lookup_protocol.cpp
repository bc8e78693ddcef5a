#include "vokid/server/lookup_protocol.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>

namespace vokid {

namespace {

// --- The body's XML ---------------------------------------------------------
//
// The body is read as XML only down to FPDATA: its elements, attributes,
// character data, references, comments and CDATA sections. FPDATA's text
// is the fingerprint document, which the engine reads. Every scan moves
// forward, so the reading is linear in the body's length.

// Deeper than list, query, FPDATA and an element someone put inside it:
// enough for any body worth answering, and a bound on the recursion.
constexpr int kMaxDepth = 16;
// More than any query element needs (ID, OUT, TYPE), and a bound on the
// check for an attribute given twice.
constexpr size_t kMaxAttributes = 32;

constexpr size_t kNowhere = std::string_view::npos;

struct Element {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string text; // character data, references resolved
    // Kept only as far as the queries need them: all of a list's, the
    // first two of a query's (enough to tell one FPDATA from more), none
    // deeper; the others are read for their form and dropped, so that the
    // memory stays a small multiple of the body's length.
    std::vector<Element> children;
    std::string firstChild;      // the name of its first child element, kept or not
    size_t offset = 0;           // of its '<' in the body
    size_t strayText = kNowhere; // of its first character data other than white space
};

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool onlySpace(std::string_view text)
{
    for (char c : text)
        if (!isSpace(c))
            return false;
    return true;
}

bool isNameStart(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}

bool isNameChar(unsigned char c)
{
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '.' || c == '-';
}

// Whether XML 1.0 allows the character at all.
bool xmlAllows(uint32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

void appendUtf8(std::string &out, uint32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// "line L, column C" of an offset, both from 1 (columns in bytes).
std::string position(std::string_view body, size_t offset)
{
    size_t line = 1, lineStart = 0;
    for (size_t at = 0; at < offset && at < body.size(); ++at)
        if (body[at] == '\n') {
            ++line;
            lineStart = at + 1;
        }
    return "line " + std::to_string(line) + ", column " + std::to_string(offset - lineStart + 1);
}

// A message on one line whatever the text it quotes holds.
std::string oneLine(std::string text)
{
    for (char &c : text)
        if (static_cast<unsigned char>(c) < 0x20)
            c = ' ';
    return text;
}

[[noreturn]] void failAt(std::string_view body, size_t offset, const std::string &what)
{
    throw LookupBodyError(oneLine(position(body, offset) + ": " + what));
}

// A name as it may be quoted in a message: at most 40 bytes.
std::string quoted(std::string_view name)
{
    return "<" + std::string(name.substr(0, 40)) + ">";
}

class BodyReader {
public:
    explicit BodyReader(std::string_view text) : body(text) {}

    // The next ZUSERVER_QUERY_LIST, after white space and an optional
    // declaration; false at the end of the body.
    bool nextList(Element &list)
    {
        skipSpace();
        if (at < body.size() && starts("<?xml") && at + 5 < body.size() &&
            (isSpace(body[at + 5]) || body[at + 5] == '?')) {
            skipPast("?>", "an XML declaration");
            skipSpace();
        }
        if (at == body.size())
            return false;
        const size_t start = at;
        if (!starts("<") || !isNameStart(static_cast<unsigned char>(peek(1))))
            fail("something other than a ZUSERVER_QUERY_LIST element");
        ++at;
        const std::string name = readName();
        if (name != "ZUSERVER_QUERY_LIST")
            failAt(body, start, quoted(name) + " where a ZUSERVER_QUERY_LIST belongs");
        at = start;
        list = readElement(1);
        return true;
    }

private:
    char peek(size_t ahead) const { return at + ahead < body.size() ? body[at + ahead] : '\0'; }
    bool starts(std::string_view text) const { return body.substr(at, text.size()) == text; }
    [[noreturn]] void fail(const std::string &what) const { failAt(body, at, what); }

    void skipSpace()
    {
        while (at < body.size() && isSpace(body[at]))
            ++at;
    }

    void skipPast(std::string_view end, const char *what)
    {
        const size_t found = body.find(end, at);
        if (found == kNowhere)
            fail(std::string(what) + " that does not end");
        at = found + end.size();
    }

    void expect(char c, const char *what)
    {
        if (at >= body.size() || body[at] != c)
            fail(at >= body.size() ? std::string("the body ends where ") + what + " belongs"
                                   : std::string(what) + " expected");
        ++at;
    }

    std::string readName()
    {
        if (at >= body.size() || !isNameStart(static_cast<unsigned char>(body[at])))
            fail("a name expected");
        const size_t start = at;
        while (at < body.size() && isNameChar(static_cast<unsigned char>(body[at])))
            ++at;
        return std::string(body.substr(start, at - start));
    }

    Element readElement(int depth)
    {
        if (depth > kMaxDepth)
            fail("elements nested deeper than " + std::to_string(kMaxDepth));
        Element element;
        element.offset = at;
        expect('<', "'<'");
        element.name = readName();
        if (readAttributes(element))
            return element;
        readContent(element, depth);
        return element;
    }

    // The start tag's attributes and its end: true for an empty element.
    bool readAttributes(Element &element)
    {
        for (;;) {
            const size_t before = at;
            skipSpace();
            if (starts("/>")) {
                at += 2;
                return true;
            }
            if (starts(">")) {
                ++at;
                return false;
            }
            if (at == before)
                fail("white space, '>' or '/>' expected in the tag of " + quoted(element.name));
            readAttribute(element);
        }
    }

    void readAttribute(Element &element)
    {
        const size_t start = at;
        std::string name = readName();
        if (element.attributes.size() == kMaxAttributes)
            failAt(body, start, "more than " + std::to_string(kMaxAttributes) + " attributes");
        for (const auto &attribute : element.attributes)
            if (attribute.first == name)
                failAt(body, start, "attribute " + name.substr(0, 40) + " twice");
        skipSpace();
        expect('=', "'=' after an attribute's name");
        skipSpace();
        const char quote = peek(0);
        if (quote != '"' && quote != '\'')
            fail("an attribute's value must be quoted");
        ++at;
        element.attributes.emplace_back(std::move(name), readValue(quote));
    }

    std::string readValue(char quote)
    {
        std::string value;
        for (;;) {
            if (at >= body.size())
                fail("the body ends inside an attribute's value");
            const char c = body[at];
            if (c == quote) {
                ++at;
                return value;
            }
            if (c == '<')
                fail("'<' inside an attribute's value");
            if (c == '&') {
                appendReference(value);
                continue;
            }
            // Line breaks and tabs written as they are read as spaces.
            value += isSpace(c) ? ' ' : c;
            ++at;
        }
    }

    // &lt; &gt; &amp; &quot; &apos; &#N; &#xN;, resolved.
    void appendReference(std::string &out)
    {
        // The longest reference, &#x10FFFF; or &#1114111;, has 10 bytes.
        const size_t length = body.substr(at, 12).find(';');
        if (length == kNowhere)
            fail("'&' that does not begin a reference");
        const std::string_view name = body.substr(at + 1, length - 1);
        const size_t end = at + length;
        for (char c : name)
            if (c != '#' && (!isNameChar(static_cast<unsigned char>(c)) || c == ':'))
                fail("'&' that does not begin a reference");
        static const std::pair<std::string_view, char> named[] = {
            {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
        for (const auto &entity : named)
            if (name == entity.first) {
                out += entity.second;
                at = end + 1;
                return;
            }
        appendUtf8(out, characterReference(name));
        at = end + 1;
    }

    uint32_t characterReference(std::string_view name) const
    {
        const bool hex = name.substr(0, 2) == "#x";
        const std::string_view digits = name.substr(std::min<size_t>(name.size(), hex ? 2 : 1));
        uint32_t value = 0;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), value, hex ? 16 : 10);
        if (name.substr(0, 1) != "#" || digits.empty() || error != std::errc() ||
            end != digits.data() + digits.size())
            fail("unknown reference &" + std::string(name) + ";");
        if (!xmlAllows(value))
            fail("a reference to a character XML does not allow");
        return value;
    }

    void readContent(Element &element, int depth)
    {
        for (;;) {
            const size_t next = body.find_first_of("<&", at);
            appendText(element, body.substr(at, (next == kNowhere ? body.size() : next) - at));
            at = next == kNowhere ? body.size() : next;
            if (at == body.size())
                fail("the body ends inside " + quoted(element.name));
            if (body[at] == '&') {
                noteText(element, at);
                appendReference(element.text);
            } else if (readMarkup(element, depth)) {
                return;
            }
        }
    }

    void appendText(Element &element, std::string_view text)
    {
        if (text.find("]]>") != kNowhere)
            failAt(body, at + text.find("]]>"), "']]>' in character data");
        for (size_t i = 0; i < text.size(); ++i)
            if (!isSpace(text[i])) {
                noteText(element, at + i);
                break;
            }
        element.text.append(text);
    }

    static void noteText(Element &element, size_t offset)
    {
        if (element.strayText == kNowhere)
            element.strayText = offset;
    }

    // Markup inside an element: true at its end tag.
    bool readMarkup(Element &element, int depth)
    {
        if (starts("</")) {
            const size_t start = at;
            at += 2;
            if (readName() != element.name)
                failAt(body, start, "this end tag does not close " + quoted(element.name));
            skipSpace();
            expect('>', "'>' closing an end tag");
            return true;
        }
        if (starts("<!--")) {
            skipPast("-->", "a comment");
        } else if (starts("<![CDATA[")) {
            const size_t start = at + 9;
            skipPast("]]>", "a CDATA section");
            const std::string_view text = body.substr(start, at - 3 - start);
            if (!onlySpace(text))
                noteText(element, start);
            element.text.append(text);
        } else if (starts("<?") || starts("<!")) {
            fail("a processing instruction or declaration inside " + quoted(element.name));
        } else {
            readChild(element, depth);
        }
        return false;
    }

    void readChild(Element &element, int depth)
    {
        const size_t start = at;
        Element child = readElement(depth + 1);
        if (element.firstChild.empty())
            element.firstChild = child.name;
        if (depth == 1 && ++queries > kMaxLookupQueries)
            failAt(body, start,
                   "more than " + std::to_string(kMaxLookupQueries) + " queries in one body");
        const size_t kept = depth == 1 ? kMaxLookupQueries : depth == 2 ? 2 : 0;
        if (element.children.size() < kept)
            element.children.push_back(std::move(child));
    }

    std::string_view body;
    size_t at = 0;
    size_t queries = 0; // children of the lists so far
};

// --- The queries -------------------------------------------------------------

const std::string *attribute(const Element &element, std::string_view name)
{
    for (const auto &entry : element.attributes)
        if (entry.first == name)
            return &entry.second;
    return nullptr;
}

// Characters of UTF-8 text: the bytes that do not continue one.
size_t characters(std::string_view text)
{
    size_t count = 0;
    for (char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++count;
    return count;
}

// The first `count` characters of UTF-8 text.
std::string firstCharacters(std::string_view text, size_t count)
{
    size_t at = 0;
    for (size_t seen = 0; at < text.size(); ++at)
        if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80 && seen++ == count)
            break;
    return std::string(text.substr(0, at));
}

// The query's ID into `query`, or why it cannot be used.
std::string readId(const Element &element, LookupQuery &query)
{
    const std::string *id = attribute(element, "ID");
    if (!id)
        return "ZUSERVER_QUERY without ID";
    if (characters(*id) <= kMaxLookupIdLength) {
        query.id = *id;
        return "";
    }
    query.id = firstCharacters(*id, kMaxLookupIdLength);
    return "ID longer than " + std::to_string(kMaxLookupIdLength) + " characters";
}

// The query's one FPDATA, or why there is none to read.
std::string findData(const Element &element, const Element *&data)
{
    if (element.strayText != kNowhere)
        return "text inside ZUSERVER_QUERY";
    for (const Element &child : element.children) {
        if (child.name != "FPDATA")
            return quoted(child.name) + " inside ZUSERVER_QUERY";
        if (data)
            return "ZUSERVER_QUERY holds more than one FPDATA";
        data = &child;
    }
    return data ? "" : "ZUSERVER_QUERY without FPDATA";
}

std::string algorithmName(const Document &document)
{
    if (document.family == Family::Spectral)
        return "FileFixed or FileFloat";
    switch (document.algorithm) {
    case ENG_ALG_STREAM1:
        return "Stream1";
    case ENG_ALG_STREAM4:
        return "Stream4";
    default:
        return "Stream6";
    }
}

// Whether the document can be looked up under the type: ZUVOK carries
// Stream1 alone, QDV Stream4 and the spectral documents; Stream6 neither.
std::string fitProblem(const Document &document, const std::string &type)
{
    const bool streaming = document.family == Family::Streaming;
    if (streaming && document.algorithm == 0)
        return "FPDATA's document has no blocks";
    if (streaming && document.algorithm == ENG_ALG_STREAM6)
        return "FPDATA holds a Stream6 document, which no TYPE carries";
    const bool stream1 = streaming && document.algorithm == ENG_ALG_STREAM1;
    if (type == "ZUVOK" && !stream1)
        return "TYPE ZUVOK carries Stream1 documents, not " + algorithmName(document);
    if (type == "QDV" && stream1)
        return "TYPE QDV carries Stream4, FileFixed or FileFloat documents, not Stream1";
    return "";
}

// FPDATA's document into `query`, or why it cannot be used.
std::string readData(const Element &data, LookupQuery &query)
{
    const std::string *type = attribute(data, "TYPE");
    if (!type)
        return "FPDATA without TYPE";
    query.type = *type;
    if (query.type != "ZUVOK" && query.type != "QDV")
        return "FPDATA TYPE \"" + query.type.substr(0, 40) + "\" is neither ZUVOK nor QDV";
    if (!data.firstChild.empty())
        return "FPDATA holds " + quoted(data.firstChild) + ": its document must be escaped text";
    if (onlySpace(data.text))
        return "empty FPDATA";
    std::vector<Document> documents;
    try {
        documents = readDocuments(data.text);
    } catch (const DecodeError &error) {
        return std::string("FPDATA's ") + error.what();
    }
    if (documents.size() > 1)
        return "FPDATA holds more than one document";
    Document &document = documents.front();
    if (!document.wrapping.empty())
        return "FPDATA holds a server query, not a fingerprint document";
    std::string problem = fitProblem(document, query.type);
    if (problem.empty()) {
        document.wrapping = query.type;
        query.document = std::move(document);
    }
    return problem;
}

LookupQuery readQuery(const Element &element)
{
    LookupQuery query;
    const Element *data = nullptr;
    query.error = readId(element, query);
    if (query.error.empty())
        query.error = findData(element, data);
    if (query.error.empty())
        query.error = readData(*data, query);
    query.error = oneLine(std::move(query.error));
    return query;
}

// The lists of the body, their queries counted: everything but the
// documents is checked before any document is read.
std::vector<Element> readLists(std::string_view body)
{
    BodyReader reader(body);
    std::vector<Element> lists;
    for (Element list; reader.nextList(list);) {
        if (list.strayText != kNowhere)
            failAt(body, list.strayText, "text inside ZUSERVER_QUERY_LIST");
        for (const Element &child : list.children)
            if (child.name != "ZUSERVER_QUERY")
                failAt(body, child.offset, quoted(child.name) + " inside ZUSERVER_QUERY_LIST");
        if (list.children.empty())
            failAt(body, list.offset, "ZUSERVER_QUERY_LIST without ZUSERVER_QUERY");
        lists.push_back(std::move(list));
    }
    if (lists.empty())
        throw LookupBodyError("the body holds no ZUSERVER_QUERY_LIST");
    return lists;
}

// --- The response ------------------------------------------------------------

constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD

// The length of the well-formed UTF-8 sequence at the start of the text
// (its character in `c`), or 0 when it is not one.
size_t utf8Sequence(std::string_view text, uint32_t &c)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || text.size() < length)
        return 0;
    c = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (byte(i) & 0x3F);
    }
    static const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < smallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    return length;
}

void appendEscapedAscii(std::string &out, char c)
{
    switch (c) {
    case '&':
        out += "&amp;";
        break;
    case '<':
        out += "&lt;";
        break;
    case '>':
        out += "&gt;";
        break;
    case '"':
        out += "&quot;";
        break;
    case '\'':
        out += "&apos;";
        break;
    // As references, so that each line of the response is one line and
    // an attribute keeps them (a parser reads them there as spaces).
    case '\n':
        out += "&#10;";
        break;
    case '\r':
        out += "&#13;";
        break;
    case '\t':
        out += "&#9;";
        break;
    default:
        if (static_cast<unsigned char>(c) < 0x20)
            out += kReplacement;
        else
            out += c;
    }
}

// Exactly three decimals, and never "-0.000".
std::string threeDecimals(double value)
{
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 3);
    std::string written(text, result.ptr);
    if (written == "-0.000")
        written = "0.000";
    return written;
}

const char *statusName(LookupStatus status)
{
    switch (status) {
    case LookupStatus::Ok:
        return "OK";
    case LookupStatus::NoMatch:
        return "NO_MATCH";
    default:
        return "ERROR";
    }
}

void checkAnswer(const LookupAnswer &answer)
{
    const bool ok = answer.status == LookupStatus::Ok;
    if (ok == answer.matches.empty())
        throw std::invalid_argument(ok ? "an OK answer without matches"
                                       : "matches in an answer that is not OK");
    for (const LookupMatch &match : answer.matches) {
        if (match.rank == 0)
            throw std::invalid_argument("a match of rank 0 (ranks count from 1)");
        if (!std::isfinite(match.offsetSeconds) || !std::isfinite(match.ber) ||
            !std::isfinite(match.confidence) ||
            (match.clipStart &&
             (!std::isfinite(*match.clipStart) || !std::isfinite(match.clipEnd) ||
              !std::isfinite(match.speed) || !std::isfinite(match.tempo))))
            throw std::invalid_argument("a match with a number that is not finite");
    }
}

void appendElement(std::string &out, const char *name, const std::string &text)
{
    if (text.empty())
        return;
    out += std::string("<") + name + ">" + escapeXml(text) + "</" + name + ">";
}

void appendMatch(std::string &out, const LookupMatch &match)
{
    out += "<MATCH RANK=\"" + std::to_string(match.rank) + "\" TRACK_ID=\"" +
           std::to_string(match.trackId) + "\" OFFSET=\"" + threeDecimals(match.offsetSeconds) +
           (match.distance ? "\" DISTANCE=\"" + std::to_string(*match.distance)
                           : "\" BER=\"" + threeDecimals(match.ber)) +
           "\" CONFIDENCE=\"" + threeDecimals(match.confidence) + "\"";
    if (match.clipStart)
        out += " CLIP_START=\"" + threeDecimals(*match.clipStart) + "\" CLIP_END=\"" +
               threeDecimals(match.clipEnd) + "\" SPEED=\"" + threeDecimals(match.speed) +
               "\" TEMPO=\"" + threeDecimals(match.tempo) + "\"";
    out += ">";
    appendElement(out, "TITLE", match.title);
    appendElement(out, "ARTIST", match.artist);
    appendElement(out, "ALBUM", match.album);
    appendElement(out, "PATH", match.path);
    out += "</MATCH>\n";
}

void appendAnswer(std::string &out, const LookupAnswer &answer)
{
    out += "<ZUSERVER_RESPONSE ID=\"" + escapeXml(answer.id) + "\" STATUS=\"" +
           statusName(answer.status) + "\"" + (answer.partial ? " PARTIAL=\"1\"" : "");
    if (answer.status == LookupStatus::NoMatch && !answer.message.empty())
        out += " REASON=\"" + escapeXml(answer.message) + "\"";
    out += ">\n";
    if (answer.status == LookupStatus::Error) {
        out += "<MESSAGE>" + escapeXml(answer.message) + "</MESSAGE>\n";
    } else {
        out += "<ALBUM_RESPONSE>\n";
        for (const LookupMatch &match : answer.matches)
            appendMatch(out, match);
        out += "</ALBUM_RESPONSE>\n";
    }
    out += "</ZUSERVER_RESPONSE>\n";
}

} // namespace

std::vector<LookupQuery> parseLookupBody(std::string_view body)
{
    const std::vector<Element> lists = readLists(body);
    std::vector<LookupQuery> queries;
    for (const Element &list : lists)
        for (const Element &query : list.children)
            queries.push_back(readQuery(query));
    return queries;
}

std::string escapeXml(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        if (static_cast<unsigned char>(text[at]) < 0x80) {
            appendEscapedAscii(out, text[at++]);
            continue;
        }
        uint32_t c = 0;
        const size_t length = utf8Sequence(text.substr(at), c);
        if (length == 0 || !xmlAllows(c)) {
            out += kReplacement;
            at += length == 0 ? 1 : length;
        } else {
            out.append(text.substr(at, length));
            at += length;
        }
    }
    return out;
}

std::string writeLookupResponse(const std::vector<LookupAnswer> &answers)
{
    for (const LookupAnswer &answer : answers)
        checkAnswer(answer);
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<ZUSERVER_RESPONSE_LIST>\n";
    for (const LookupAnswer &answer : answers)
        appendAnswer(out, answer);
    out += "</ZUSERVER_RESPONSE_LIST>\n";
    return out;
}

} // namespace vokid
