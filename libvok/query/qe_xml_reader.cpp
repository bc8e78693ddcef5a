// The XML reader: recursive descent over the text, one function per
// construct, building the query document as it goes. The character data of
// the open elements collects in one buffer, each element's after its
// parent's, and leaves it when the element ends.
#include "query/qe_xml_reader.h"

#include "engine/eng_support.h"
#include "query/tb_buffer.h"

namespace {

const size_t kNotFound = ~static_cast<size_t>(0);
const size_t kLongestName = 256;
// A reference is at most ten characters, "&#x10FFFF;" or "&#1114111;".
const size_t kLongestReference = 10;

struct Reader {
    const char *text;
    size_t length;
    size_t at;
    TextBuffer *scratch;
    QeXmlFault *fault;
    ResultCode result; // of the first failure
};

bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool is_control(char c)
{
    return static_cast<unsigned char>(c) < 0x20 && !is_space(c);
}

bool is_name_start(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':';
}

bool is_name_char(char c)
{
    return is_name_start(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

bool begins(const char *text, size_t length, size_t at, const char *prefix)
{
    for (size_t i = 0; prefix[i] != '\0'; ++i) {
        if (at + i >= length || text[at + i] != prefix[i])
            return false;
    }
    return true;
}

size_t find(const char *text, size_t length, size_t from, const char *what)
{
    for (size_t at = from; at < length; ++at) {
        if (begins(text, length, at, what))
            return at;
    }
    return kNotFound;
}

// --- References ------------------------------------------------------------------

enum ReferenceKind { kReferenceRead, kNoSemicolon, kUnknownEntity };

struct Reference {
    char bytes[4];
    uint32_t count;
    size_t end; // just after the ';'
};

struct NamedEntity {
    const char *name;
    char character;
};

const NamedEntity kNamedEntities[] = {
    {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};

uint32_t utf8(uint32_t code, char *out)
{
    if (code < 0x80) {
        out[0] = static_cast<char>(code);
        return 1;
    }
    const uint32_t count = code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
    static const uint32_t kLead[] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (uint32_t i = count - 1; i > 0; --i, code >>= 6)
        out[i] = static_cast<char>(0x80 | (code & 0x3F));
    out[0] = static_cast<char>(kLead[count] | code);
    return count;
}

// "#" and decimal digits, or "#x" and hex digits, of a character XML
// allows in a document: no NUL or other control character but tab, line
// feed and carriage return, no surrogate.
bool numeric_reference(const char *name, size_t count, Reference *reference)
{
    if (count < 2 || name[0] != '#')
        return false;
    const bool hex = name[1] == 'x';
    const size_t first = hex ? 2 : 1;
    uint32_t code = 0;
    // At most 8 digits fit the ten characters, so the value cannot wrap.
    for (size_t i = first; i < count; ++i) {
        const char c = name[i];
        uint32_t digit = 16;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint32_t>(c - '0');
        else if (hex && c >= 'a' && c <= 'f')
            digit = static_cast<uint32_t>(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F')
            digit = static_cast<uint32_t>(c - 'A' + 10);
        if (digit >= (hex ? 16u : 10u))
            return false;
        code = code * (hex ? 16u : 10u) + digit;
    }
    const bool allowed = (code >= 0x20 || code == 0x9 || code == 0xA || code == 0xD) &&
                         code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
    if (count == first || !allowed)
        return false;
    reference->count = utf8(code, reference->bytes);
    return true;
}

ReferenceKind decode_reference(const char *text, size_t length, size_t at, Reference *reference)
{
    size_t semicolon = at + 1;
    while (semicolon < length && semicolon - at <= kLongestReference && text[semicolon] != ';')
        ++semicolon;
    if (semicolon >= length || text[semicolon] != ';')
        return kNoSemicolon;
    const char *name = text + at + 1;
    const size_t count = semicolon - at - 1;
    reference->end = semicolon + 1;
    for (const NamedEntity &entity : kNamedEntities) {
        if (eng_strlen(entity.name) == count && begins(name, count, 0, entity.name)) {
            reference->bytes[0] = entity.character;
            reference->count = 1;
            return kReferenceRead;
        }
    }
    return numeric_reference(name, count, reference) ? kReferenceRead : kUnknownEntity;
}

// --- Faults ------------------------------------------------------------------------

bool fail(Reader *reader, size_t offset, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

bool fail(Reader *reader, size_t offset, const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    eng_vsnprintf(reader->fault->problem, sizeof reader->fault->problem, format, arguments);
    va_end(arguments);
    reader->fault->offset = offset;
    reader->result = QE_E_BAD_DOCUMENT;
    return false;
}

bool out_of_memory(Reader *reader)
{
    reader->result = QE_E_NO_MEMORY;
    return false;
}

bool append(Reader *reader, const char *bytes, size_t count)
{
    if (count > 0xFFFFFFFFu || tb_append(reader->scratch, bytes, static_cast<uint32_t>(count)))
        return out_of_memory(reader);
    return true;
}

// --- Lexical pieces -----------------------------------------------------------------

void skip_spaces(Reader *reader)
{
    while (reader->at < reader->length && is_space(reader->text[reader->at]))
        ++reader->at;
}

bool expect(Reader *reader, char c)
{
    if (reader->at == reader->length || reader->text[reader->at] != c)
        return fail(reader, reader->at, "expected '%c'", c);
    ++reader->at;
    return true;
}

bool skip_past(Reader *reader, size_t from, const char *end, const char *unterminated)
{
    const size_t close = find(reader->text, reader->length, from, end);
    if (close == kNotFound)
        return fail(reader, reader->at, "%s", unterminated);
    reader->at = close + eng_strlen(end);
    return true;
}

// White space, XML declarations and comments before the element.
bool skip_misc(Reader *reader)
{
    for (;;) {
        skip_spaces(reader);
        const size_t at = reader->at;
        if (begins(reader->text, reader->length, at, "<?")) {
            if (!skip_past(reader, at + 2, "?>", "unterminated declaration"))
                return false;
        } else if (begins(reader->text, reader->length, at, "<!--")) {
            if (!skip_past(reader, at + 4, "-->", "unterminated comment"))
                return false;
        } else {
            return true;
        }
    }
}

bool read_name(Reader *reader, size_t *start, uint32_t *count)
{
    const char *text = reader->text;
    const size_t begin = reader->at;
    if (reader->at < reader->length && is_name_start(text[reader->at])) {
        while (reader->at < reader->length && is_name_char(text[reader->at]))
            ++reader->at;
    }
    if (reader->at == begin)
        return fail(reader, begin, "expected a name");
    if (reader->at - begin > kLongestName)
        return fail(reader, begin, "a name longer than %u characters",
                    static_cast<unsigned>(kLongestName));
    *start = begin;
    *count = static_cast<uint32_t>(reader->at - begin);
    return true;
}

// Appends the reference's bytes; first_text, when given, takes its offset
// if it is the first character that is not white space.
bool read_reference(Reader *reader, size_t *first_text)
{
    const size_t at = reader->at;
    Reference reference = {};
    const ReferenceKind kind = decode_reference(reader->text, reader->length, at, &reference);
    if (kind == kNoSemicolon)
        return fail(reader, at, "'&' that starts no entity");
    if (kind == kUnknownEntity)
        return fail(reader, at, "unknown entity &%.*s;", static_cast<int>(reference.end - at - 2),
                    reader->text + at + 1);
    if (first_text && *first_text == kNotFound &&
        !(reference.count == 1 && is_space(reference.bytes[0])))
        *first_text = at;
    reader->at = reference.end;
    return append(reader, reference.bytes, reference.count);
}

// Character data up to (not including) stop, '<' or the end of the text,
// entities resolved, appended to the scratch buffer.
bool read_characters(Reader *reader, char stop, size_t *first_text)
{
    const char *text = reader->text;
    while (reader->at < reader->length && text[reader->at] != stop) {
        if (text[reader->at] == '&') {
            if (!read_reference(reader, first_text))
                return false;
            continue;
        }
        if (text[reader->at] == '<')
            return fail(reader, reader->at, "'<' inside an attribute value");
        size_t end = reader->at;
        for (; end < reader->length && text[end] != stop && text[end] != '&' && text[end] != '<';
             ++end) {
            if (is_control(text[end]))
                return fail(reader, end, "control character (byte %u) in the text",
                            static_cast<unsigned>(static_cast<unsigned char>(text[end])));
            if (first_text && *first_text == kNotFound && !is_space(text[end]))
                *first_text = end;
        }
        if (!append(reader, text + reader->at, end - reader->at))
            return false;
        reader->at = end;
    }
    return true;
}

// --- Elements ----------------------------------------------------------------------

bool read_attribute(Reader *reader, QueryElement *element)
{
    size_t name = 0;
    uint32_t count = 0;
    if (!read_name(reader, &name, &count))
        return false;
    for (const QueryAttribute *a = element->attributes; a; a = a->next) {
        if (qe_compare_n(a->name, qe_text_length(a->name), reader->text + name, count) == 0)
            return fail(reader, name, "attribute %.*s given twice", static_cast<int>(count),
                        reader->text + name);
    }
    skip_spaces(reader);
    if (!expect(reader, '='))
        return false;
    skip_spaces(reader);
    const char quote = reader->at < reader->length ? reader->text[reader->at] : '\0';
    if (quote != '"' && quote != '\'')
        return fail(reader, reader->at, "expected a quoted attribute value");
    ++reader->at;
    const uint32_t mark = reader->scratch->length;
    if (!read_characters(reader, quote, nullptr) || !expect(reader, quote))
        return false;
    QueryAttribute *attribute = qa_create_n(
        reader->text + name, count, reader->scratch->data + mark, reader->scratch->length - mark);
    reader->scratch->length = mark;
    if (!attribute)
        return out_of_memory(reader);
    return qe_append_attribute(element, attribute) == ENG_OK || out_of_memory(reader);
}

bool read_attributes(Reader *reader, QueryElement *element)
{
    for (uint32_t count = 0;; ++count) {
        const size_t before = reader->at;
        skip_spaces(reader);
        const char next = reader->at < reader->length ? reader->text[reader->at] : '>';
        if (next == '>' || next == '/')
            return true;
        if (reader->at == before)
            return fail(reader, reader->at, "expected white space before an attribute");
        if (count == QE_XML_MAX_ATTRIBUTES)
            return fail(reader, reader->at, "more than %u attributes on one element",
                        static_cast<unsigned>(QE_XML_MAX_ATTRIBUTES));
        if (!read_attribute(reader, element))
            return false;
    }
}

bool read_end_tag(Reader *reader, const char *element)
{
    reader->at += 2;
    size_t name = 0;
    uint32_t count = 0;
    if (!read_name(reader, &name, &count))
        return false;
    if (qe_compare_n(element, qe_text_length(element), reader->text + name, count))
        return fail(reader, name, "end tag %.*s where %s should end", static_cast<int>(count),
                    reader->text + name, element);
    skip_spaces(reader);
    return expect(reader, '>');
}

// The element's character data becomes its value when it has no children.
bool keep_value(Reader *reader, QueryElement *element, uint32_t mark)
{
    const uint32_t count = reader->scratch->length - mark;
    const ResultCode kept = element->first_child || count == 0
                                ? ENG_OK
                                : qe_set_value_n(element, reader->scratch->data + mark, count);
    reader->scratch->length = mark;
    return kept == ENG_OK || out_of_memory(reader);
}

bool read_element(Reader *reader, uint32_t depth, QueryElement **out);

bool text_beside_elements(Reader *reader, const QueryElement *element, size_t offset)
{
    return fail(reader, offset, "text beside the elements inside %s", element->name);
}

bool read_content(Reader *reader, QueryElement *element, uint32_t depth)
{
    const uint32_t mark = reader->scratch->length;
    size_t first_text = kNotFound;
    QueryElement *last = nullptr;
    for (;;) {
        if (!read_characters(reader, '<', &first_text))
            return false;
        if (last && first_text != kNotFound)
            return text_beside_elements(reader, element, first_text);
        const size_t at = reader->at;
        if (at == reader->length)
            return fail(reader, at, "element %s is not closed", element->name);
        if (begins(reader->text, reader->length, at, "</"))
            return read_end_tag(reader, element->name) && keep_value(reader, element, mark);
        if (begins(reader->text, reader->length, at, "<!--")) {
            if (!skip_past(reader, at + 4, "-->", "unterminated comment"))
                return false;
            continue;
        }
        if (first_text != kNotFound)
            return text_beside_elements(reader, element, first_text);
        QueryElement *child = nullptr;
        if (!read_element(reader, depth + 1, &child))
            return false;
        *(last ? &last->next_sibling : &element->first_child) = child;
        last = child;
    }
}

// The start tag at reader->at: a new element with its attributes; *empty
// for one that ends with "/>".
bool read_start_tag(Reader *reader, uint32_t depth, QueryElement **out, bool *empty)
{
    const size_t start = reader->at;
    if (depth >= QE_XML_MAX_DEPTH)
        return fail(reader, start, "elements nested more than %u deep",
                    static_cast<unsigned>(QE_XML_MAX_DEPTH));
    if (begins(reader->text, reader->length, start, "<!") ||
        begins(reader->text, reader->length, start, "<?"))
        return fail(reader, start, "markup of a kind fingerprint documents do not use");
    ++reader->at;
    size_t name = 0;
    uint32_t count = 0;
    if (!read_name(reader, &name, &count))
        return false;
    QueryElement *element = qe_create_n(reader->text + name, count, nullptr, 0);
    if (!element)
        return out_of_memory(reader);
    element->offset = start;
    bool read = read_attributes(reader, element);
    *empty = read && begins(reader->text, reader->length, reader->at, "/>");
    if (*empty)
        reader->at += 2;
    else if (read)
        read = expect(reader, '>');
    if (!read) {
        qe_destroy(&element);
        return false;
    }
    *out = element;
    return true;
}

bool read_element(Reader *reader, uint32_t depth, QueryElement **out)
{
    QueryElement *element = nullptr;
    bool empty = false;
    if (!read_start_tag(reader, depth, &element, &empty))
        return false;
    if (!empty && !read_content(reader, element, depth)) {
        qe_destroy(&element);
        return false;
    }
    *out = element;
    return true;
}

bool read_root(Reader *reader, uint32_t depth, QueryElement **root)
{
    if (!skip_misc(reader))
        return false;
    if (reader->at == reader->length)
        return fail(reader, reader->at, "no element in the text");
    if (reader->text[reader->at] != '<')
        return fail(reader, reader->at, "text outside any element");
    // The collected character data never exceeds the text: a few steps of
    // an eighth of it at most.
    const size_t step = reader->length / 8;
    reader->scratch = tb_create(256, step < 256          ? 256
                                     : step > (1u << 30) ? 1u << 30
                                                         : static_cast<uint32_t>(step));
    if (!reader->scratch)
        return out_of_memory(reader);
    return read_element(reader, depth, root);
}

// Just after the '>' of the start tag at offset (quoted values may hold '>').
size_t after_start_tag(const char *text, size_t length, size_t offset)
{
    char quote = '\0';
    for (size_t at = offset; at < length; ++at) {
        const char c = text[at];
        if (quote)
            quote = c == quote ? '\0' : quote;
        else if (c == '"' || c == '\'')
            quote = c;
        else if (c == '>')
            return at + 1;
    }
    return length;
}

// Just past the '>' that ends the tag at `at` (quoted values may hold
// '>'); kNotFound when the text does not hold it.
size_t tag_end(const char *text, size_t length, size_t at)
{
    char quote = '\0';
    for (size_t i = at + 1; i < length; ++i) {
        const char c = text[i];
        if (quote)
            quote = c == quote ? '\0' : quote;
        else if (c == '"' || c == '\'')
            quote = c;
        else if (c == '>')
            return i + 1;
    }
    return kNotFound;
}

// Just past the markup at `at` ('<'): a comment, a declaration, or a tag;
// kNotFound when the text does not hold its end. Other markup
// ("<!DOCTYPE") counts as a tag: the reader refuses it.
size_t markup_end(const char *text, size_t length, size_t at)
{
    if (begins(text, length, at, "<!--")) {
        const size_t close = find(text, length, at + 4, "-->");
        return close == kNotFound ? kNotFound : close + 3;
    }
    if (begins(text, length, at, "<?")) {
        const size_t close = find(text, length, at + 2, "?>");
        return close == kNotFound ? kNotFound : close + 2;
    }
    return tag_end(text, length, at);
}

bool is_start_tag(const char *text, size_t length, size_t at)
{
    return at + 1 < length && text[at + 1] != '/' && text[at + 1] != '!' && text[at + 1] != '?';
}

} // namespace

ResultCode qe_read_xml(const char *text, size_t length, QueryElement **root, size_t *used,
                       QeXmlFault *fault)
{
    return qe_read_xml_at(text, length, 0, root, used, fault);
}

ResultCode qe_read_xml_at(const char *text, size_t length, uint32_t depth, QueryElement **root,
                          size_t *used, QeXmlFault *fault)
{
    if (!text || !root || !used || !fault)
        return QE_E_INVALID_ARG;
    fault->offset = 0;
    fault->problem[0] = '\0';
    Reader reader = {text, length, 0, nullptr, fault, ENG_OK};
    QueryElement *element = nullptr;
    const bool read = read_root(&reader, depth, &element);
    tb_destroy(reader.scratch);
    if (!read)
        return reader.result;
    *root = element;
    *used = reader.at;
    return ENG_OK;
}

size_t qe_xml_markup_end(const char *text, size_t length, uint8_t whole_element)
{
    if (!text || length == 0 || text[0] != '<')
        return 0;
    size_t depth = 0;
    size_t at = 0;
    for (;;) {
        while (at < length && text[at] != '<')
            ++at;
        const size_t end = at < length ? markup_end(text, length, at) : kNotFound;
        if (end == kNotFound)
            return 0;
        if (begins(text, length, at, "</"))
            depth -= depth > 0 ? 1 : 0;
        else if (is_start_tag(text, length, at) && text[end - 2] != '/')
            ++depth;
        at = end;
        if (!whole_element || depth == 0)
            return at;
    }
}

ResultCode qe_read_start_tag(const char *text, size_t length, uint32_t depth,
                             QueryElement **element, uint8_t *empty, size_t *used,
                             QeXmlFault *fault)
{
    if (!text || length == 0 || text[0] != '<' || !element || !empty || !used || !fault)
        return QE_E_INVALID_ARG;
    fault->offset = 0;
    fault->problem[0] = '\0';
    Reader reader = {text, length, 0, tb_create(256, 256), fault, ENG_OK};
    if (!reader.scratch)
        return QE_E_NO_MEMORY;
    QueryElement *read = nullptr;
    bool closed = false;
    const bool ok = read_start_tag(&reader, depth, &read, &closed);
    tb_destroy(reader.scratch);
    if (!ok)
        return reader.result;
    *element = read;
    *empty = closed ? 1 : 0;
    *used = reader.at;
    return ENG_OK;
}

ResultCode qe_read_end_tag(const char *text, size_t length, const char *name, size_t *used,
                           QeXmlFault *fault)
{
    if (!text || !begins(text, length, 0, "</") || !name || !used || !fault)
        return QE_E_INVALID_ARG;
    fault->offset = 0;
    fault->problem[0] = '\0';
    Reader reader = {text, length, 0, nullptr, fault, ENG_OK};
    if (!read_end_tag(&reader, name))
        return reader.result;
    *used = reader.at;
    return ENG_OK;
}

ResultCode qe_read_text(const char *text, size_t length, TextBuffer *out, size_t *used,
                        size_t *first_text, QeXmlFault *fault)
{
    if (!text || !out || !used || !first_text || !fault)
        return QE_E_INVALID_ARG;
    fault->offset = 0;
    fault->problem[0] = '\0';
    Reader reader = {text, length, 0, out, fault, ENG_OK};
    size_t first = kNotFound;
    if (!read_characters(&reader, '<', &first))
        return reader.result;
    *used = reader.at;
    *first_text = first;
    return ENG_OK;
}

size_t qe_xml_text_offset(const char *text, size_t length, size_t element_offset, size_t index)
{
    if (!text)
        return 0;
    size_t at = after_start_tag(text, length, element_offset);
    size_t counted = 0;
    while (at < length) {
        if (text[at] == '<') {
            if (!begins(text, length, at, "<!--"))
                break;
            const size_t close = find(text, length, at + 4, "-->");
            at = close == kNotFound ? length : close + 3;
            continue;
        }
        Reference reference = {};
        const bool entity =
            text[at] == '&' && decode_reference(text, length, at, &reference) == kReferenceRead;
        const size_t bytes = entity ? reference.count : 1;
        if (index < counted + bytes)
            return at;
        counted += bytes;
        at = entity ? reference.end : at + 1;
    }
    return at;
}
