// The text the piecewise decoder holds: a buffer that drops what has been
// read before it grows, the line and column of the next unread byte, and
// the pieces of XML read from it once whole.
#include "engine/eng_decoder_text.h"

#include "engine/eng_memory.h"
#include "engine/eng_support.h"

namespace {

const size_t kNone = ~static_cast<size_t>(0);
const size_t kLongestReference = ENG_LONGEST_REFERENCE;
// The buffer grows by at least this much.
const size_t kLeastGrowth = 4096;

bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool begins(const char *text, size_t length, const char *prefix)
{
    for (size_t i = 0; prefix[i] != '\0'; ++i) {
        if (i >= length || text[i] != prefix[i])
            return false;
    }
    return true;
}

// Where `closing` begins in text[from, length), or kNone.
size_t find(const char *text, size_t length, size_t from, const char *closing)
{
    for (size_t at = from; at < length; ++at) {
        if (begins(text + at, length - at, closing))
            return at;
    }
    return kNone;
}

void record(DecoderFault *fault, size_t offset, size_t line, size_t column, const char *problem,
            uint8_t inner)
{
    eng_snprintf(fault->problem, sizeof fault->problem, "line %zu, column %zu%s: %s", line, column,
                 inner ? " of the document in FPDATA" : "", problem);
    fault->offset = offset;
    fault->result = ENG_E_BAD_DOCUMENT;
}

// Line and column of unread byte `ahead`.
void position(const DecoderText *text, size_t ahead, size_t *line, size_t *column)
{
    size_t line_start = text->line_start;
    *line = text->line;
    for (size_t i = text->at; i < text->at + ahead; ++i) {
        if (text->data[i] == '\n') {
            *line += 1;
            line_start = text->base + i + 1;
        }
    }
    *column = text->base + text->at + ahead - line_start + 1;
}

// A piece the text does not hold whole: more may come, unless it is
// already longer than the decoder holds.
uint32_t not_whole(DecoderText *text, size_t count, DecoderFault *fault)
{
    if (count <= ENG_LONGEST_PIECE)
        return ENG_TEXT_MORE;
    char problem[96];
    eng_snprintf(problem, sizeof problem, "a tag or element longer than %u bytes",
                 static_cast<unsigned>(ENG_LONGEST_PIECE));
    eng_text_fault(text, 0, problem, fault);
    return ENG_TEXT_FAULT;
}

// The length of the markup at the next byte if the text holds it whole, or
// of all the text once it has ended (the reader then finds the fault); 0
// when more must come first (*step says why).
size_t whole_piece(DecoderText *text, uint8_t element, uint32_t *step, DecoderFault *fault)
{
    size_t count = 0;
    const char *rest = eng_text_rest(text, &count);
    const size_t end = qe_xml_markup_end(rest, count, element);
    *step = ENG_TEXT_READ;
    // One held whole is refused alike beyond the bound, whatever the chunks.
    if (end > ENG_LONGEST_PIECE || (end == 0 && !text->ended)) {
        *step = not_whole(text, end > 0 ? end : count, fault);
        return 0;
    }
    return end > 0 ? end : count;
}

// Where character data held from the next byte stops: before '<', at the
// limit, or before a reference that the limit or the bytes held so far may
// cut; 0 with `whole` until the text holds the limit, a '<' or its end.
size_t characters_end(const DecoderText *text, size_t limit, uint8_t whole)
{
    size_t count = 0;
    const char *rest = eng_text_rest(text, &count);
    size_t end = 0;
    while (end < count && end < limit && rest[end] != '<')
        ++end;
    if ((end < count && rest[end] == '<') || (end == count && text->ended))
        return end;
    if (whole && end < limit)
        return 0;
    // The earliest '&' that no ';' follows yet: the next bytes may be the
    // end of its reference (and of any '&' after it).
    size_t cut = end;
    for (size_t back = 1; back <= kLongestReference && back <= end; ++back) {
        if (rest[end - back] == ';')
            break;
        if (rest[end - back] == '&')
            cut = end - back;
    }
    return cut;
}

} // namespace

void eng_text_start(DecoderText *text, uint8_t inner)
{
    eng_memset(text, 0, sizeof *text);
    text->line = 1;
    text->inner = inner;
}

void eng_text_release(DecoderText *text)
{
    eng_free(text->data);
    eng_text_start(text, text->inner);
}

ResultCode eng_text_append(DecoderText *text, const char *bytes, size_t count)
{
    if (text->at > 0) {
        eng_memmove(text->data, text->data + text->at, text->length - text->at);
        text->length -= text->at;
        text->base += text->at;
        text->at = 0;
    }
    if (count > text->capacity - text->length) {
        if (count > ~static_cast<size_t>(0) / 2 - text->length)
            return ENG_E_NO_MEMORY;
        size_t capacity = text->length + count;
        capacity = capacity < 2 * text->capacity ? 2 * text->capacity : capacity;
        capacity = capacity < kLeastGrowth ? kLeastGrowth : capacity;
        char *grown = static_cast<char *>(eng_realloc(text->data, capacity));
        if (!grown)
            return ENG_E_NO_MEMORY;
        text->data = grown;
        text->capacity = capacity;
    }
    if (count > 0)
        eng_memcpy(text->data + text->length, bytes, count);
    text->length += count;
    return ENG_OK;
}

const char *eng_text_rest(const DecoderText *text, size_t *count)
{
    *count = text->length - text->at;
    return text->data ? text->data + text->at : "";
}

void eng_text_advance(DecoderText *text, size_t count)
{
    size_t line = 0, column = 0;
    position(text, count, &line, &column);
    text->line = line;
    text->line_start = text->base + text->at + count - (column - 1);
    text->at += count;
}

size_t eng_text_offset(const DecoderText *text, size_t ahead)
{
    return text->base + text->at + ahead;
}

uint32_t eng_text_markup(const DecoderText *text)
{
    size_t count = 0;
    const char *rest = eng_text_rest(text, &count);
    if (count < 2)
        return text->ended ? ENG_MARKUP_START_TAG : ENG_MARKUP_MORE;
    if (rest[1] == '?')
        return ENG_MARKUP_DECLARATION;
    if (rest[1] == '/')
        return ENG_MARKUP_END_TAG;
    if (rest[1] != '!')
        return ENG_MARKUP_START_TAG;
    if (count < 4 && !text->ended)
        return ENG_MARKUP_MORE;
    return begins(rest, count, "<!--") ? ENG_MARKUP_COMMENT : ENG_MARKUP_START_TAG;
}

uint32_t eng_text_tag_named(const DecoderText *text, const char *name)
{
    size_t count = 0;
    const char *rest = eng_text_rest(text, &count);
    const size_t length = eng_strlen(name);
    for (size_t i = 0; i <= length; ++i) {
        if (1 + i >= count)
            return text->ended ? ENG_TAG_OTHER : ENG_TAG_UNTOLD;
        const char c = rest[1 + i];
        if (i == length)
            return c == '>' || c == '/' || is_space(c) ? ENG_TAG_NAMED : ENG_TAG_OTHER;
        if (c != name[i])
            return ENG_TAG_OTHER;
    }
    return ENG_TAG_OTHER;
}

uint8_t eng_text_skip_space(DecoderText *text)
{
    size_t count = 0;
    const char *rest = eng_text_rest(text, &count);
    size_t spaces = 0;
    while (spaces < count && is_space(rest[spaces]))
        ++spaces;
    eng_text_advance(text, spaces);
    return spaces < count;
}

void eng_text_fault(DecoderText *text, size_t ahead, const char *problem, DecoderFault *fault)
{
    size_t line = 0, column = 0;
    position(text, ahead, &line, &column);
    record(fault, eng_text_offset(text, ahead), line, column, problem, text->inner);
}

void eng_text_reader_fault(DecoderText *text, ResultCode result, const QeXmlFault *xml,
                           DecoderFault *fault)
{
    if (result == QE_E_BAD_DOCUMENT) {
        eng_text_fault(text, xml->offset, xml->problem, fault);
        return;
    }
    fault->result = ENG_E_NO_MEMORY;
    fault->offset = eng_text_offset(text, 0);
}

uint32_t eng_text_skip_markup(DecoderText *text, DecoderFault *fault)
{
    size_t count = 0;
    const char *rest = eng_text_rest(text, &count);
    if (!text->closing) {
        const bool comment = begins(rest, count, "<!--");
        text->closing = comment ? "-->" : "?>";
        text->markup_offset = eng_text_offset(text, 0);
        text->markup_line = text->line;
        text->markup_column = text->markup_offset - text->line_start + 1;
        eng_text_advance(text, comment ? 4 : 2);
        rest = eng_text_rest(text, &count);
    }
    const size_t closing_length = eng_strlen(text->closing);
    const size_t close = find(rest, count, 0, text->closing);
    if (close != kNone) {
        eng_text_advance(text, close + closing_length);
        text->closing = nullptr;
        return ENG_TEXT_READ;
    }
    if (text->ended) {
        record(fault, text->markup_offset, text->markup_line, text->markup_column,
               closing_length == 3 ? "unterminated comment" : "unterminated declaration",
               text->inner);
        return ENG_TEXT_FAULT;
    }
    // Keep what may be the start of the closing.
    if (count >= closing_length)
        eng_text_advance(text, count - (closing_length - 1));
    return ENG_TEXT_MORE;
}

namespace {

// The start tag (with `empty`) or the whole element (without) at the next
// byte, read once the text holds it whole.
uint32_t read_piece(DecoderText *text, uint32_t depth, QueryElement **element, uint8_t *empty,
                    DecoderFault *fault)
{
    uint32_t step = ENG_TEXT_READ;
    const size_t length = whole_piece(text, empty ? 0 : 1, &step, fault);
    if (step != ENG_TEXT_READ)
        return step;
    size_t count = 0, used = 0;
    QeXmlFault xml;
    const char *rest = eng_text_rest(text, &count);
    const ResultCode result =
        empty ? qe_read_start_tag(rest, length, depth, element, empty, &used, &xml)
              : qe_read_xml_at(rest, length, depth, element, &used, &xml);
    if (result != ENG_OK) {
        eng_text_reader_fault(text, result, &xml, fault);
        return ENG_TEXT_FAULT;
    }
    eng_text_advance(text, used);
    return ENG_TEXT_READ;
}

} // namespace

uint32_t eng_text_start_tag(DecoderText *text, uint32_t depth, QueryElement **element,
                            uint8_t *empty, DecoderFault *fault)
{
    return read_piece(text, depth, element, empty, fault);
}

uint32_t eng_text_element(DecoderText *text, uint32_t depth, QueryElement **element,
                          DecoderFault *fault)
{
    return read_piece(text, depth, element, nullptr, fault);
}

uint32_t eng_text_end_tag(DecoderText *text, const char *name, DecoderFault *fault)
{
    uint32_t step = ENG_TEXT_READ;
    const size_t length = whole_piece(text, 0, &step, fault);
    if (step != ENG_TEXT_READ)
        return step;
    size_t count = 0, used = 0;
    QeXmlFault xml;
    const ResultCode result =
        qe_read_end_tag(eng_text_rest(text, &count), length, name, &used, &xml);
    if (result != ENG_OK) {
        eng_text_reader_fault(text, result, &xml, fault);
        return ENG_TEXT_FAULT;
    }
    eng_text_advance(text, used);
    return ENG_TEXT_READ;
}

uint32_t eng_text_characters(DecoderText *text, const char *inside, TextBuffer *out,
                             size_t limit, uint8_t whole, DecoderFault *fault)
{
    const size_t end = characters_end(text, limit, whole);
    if (end == 0)
        return ENG_TEXT_MORE;
    size_t count = 0, used = 0, first_text = kNone;
    QeXmlFault xml;
    const ResultCode result =
        qe_read_text(eng_text_rest(text, &count), end, out, &used, &first_text, &xml);
    if (result != ENG_OK) {
        eng_text_reader_fault(text, result, &xml, fault);
        return ENG_TEXT_FAULT;
    }
    if (inside && first_text != kNone && text->beside.result == ENG_OK) {
        char problem[96];
        eng_snprintf(problem, sizeof problem, "text beside the elements inside %.40s", inside);
        eng_text_fault(text, first_text, problem, &text->beside);
    }
    eng_text_advance(text, used);
    return ENG_TEXT_READ;
}
