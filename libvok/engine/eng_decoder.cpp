// The piecewise decoder: documents read as their text comes. The caller's
// text, and the document a server query's FPDATA holds once unescaped, are
// each read by one reader that stands at a place of the document's outline
// (before the root, inside ZUVOK_FP_QUERY, inside FP_BLOCKS, ...). At
// each place it reads the next piece when it holds it whole: the ALGORITHM
// element, a start or end tag of the outline, one FP_BLOCK element. The
// pieces are checked by the whole-text decoder's own code (the document
// head, a block with its masks, the wrapping, the spectral values), so
// that both accept the same documents and give the same frames.
#include "algo/spectral/sfp_family.h"
#include "algo/stream/stream.h"
#include "engine/eng_decoder_text.h"
#include "engine/eng_document.h"
#include "engine/eng_memory.h"
#include "engine/eng_support.h"
#include <vok/vok_engine.h>

namespace {

// Where a reader stands in the document's outline.
enum Place : uint8_t {
    kProlog,   // before a root: white space, declarations, comments
    kDocument, // inside ZUVOK_FP_QUERY
    kBlocks,   // inside FP_BLOCKS
    kAfter,    // after the root of FPDATA's document: white space only
    kList,     // inside ZUSERVER_QUERY_LIST (the caller's text only)
    kQuery,    // inside ZUSERVER_QUERY
    kData,     // inside FPDATA, whose text holds a document of its own
};

// How one step of reading went.
enum Step { kProgress, kMore, kPiece, kStop };

// At most this much character data is read at a time: white space
// between elements is let go.
const size_t kCharacterStep = 65536;

// FPDATA's text is handed to its document's reader in steps that end at
// multiples of this many bytes of the caller's text, each read whole (or to
// FPDATA's end), so that whichever fault comes first, in the text around the
// document or in the document, does not depend on the chunks it came in.
const size_t kDataStep = 4096;

struct Reader {
    DecoderText text;
    Place place;
    uint8_t markup; // before a root: a declaration or comment since the last document
};

} // namespace

struct EngineDecoder {
    Reader outer; // the caller's text
    Reader inner; // the document FPDATA holds
    DecoderFault fault;
    TextBuffer *scratch; // character data read
    uint32_t documents;  // begun
    // The document being read.
    QueryElement *root;            // ZUVOK_FP_QUERY, owning ALGORITHM and FP_BLOCKS once read
    QueryElement *algorithm;       // the root's, once read
    QueryElement *blocks;          // the root's, once open
    QueryElement *data;            // FPDATA of a wrapped document
    DocumentRead read;             // what the whole-text decoder's checks take
    StreamBlockReader *stream;     // a streaming document's, once its blocks open
    EngineFrames grid;             // a streaming document's, once its blocks end
    int16_t values[30];            // a spectral document's, once its blocks end
    uint8_t spectral;
    uint8_t blocks_done;
    uint8_t queries;   // ZUSERVER_QUERY elements met
    uint8_t datas;     // FPDATA elements met
    uint8_t data_text; // FPDATA held text
    uint32_t block_count;
    size_t data_offset; // of FPDATA's start tag in the caller's text
    EnginePiece piece;  // made ready
};

namespace {

Step step_reader(EngineDecoder *decoder, Reader *reader);

bool is(const char *text, const char *expected)
{
    return qe_compare_n(text, qe_text_length(text), expected, qe_text_length(expected)) == 0;
}

// --- Faults ---------------------------------------------------------------------

// Where the reader stands in the caller's text: for FPDATA's document,
// where FPDATA begins (how far its escaped text has been read depends on
// the chunks it came in).
size_t caller_offset(const EngineDecoder *decoder, const Reader *reader)
{
    return reader == &decoder->outer ? eng_text_offset(&reader->text, 0) : decoder->data_offset;
}

// A fault that eng_text_* recorded: exactly where it lies in the caller's
// text, or for FPDATA's document, where its escaped text has been read to.
Step text_fault(EngineDecoder *decoder, const Reader *reader)
{
    if (reader != &decoder->outer)
        decoder->fault.offset = caller_offset(decoder, reader);
    return kStop;
}

Step outline_fault(EngineDecoder *decoder, const Reader *reader, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// A fault of the document's outline, in the whole-text decoder's words.
Step outline_fault(EngineDecoder *decoder, const Reader *reader, const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    eng_vsnprintf(decoder->fault.problem, sizeof decoder->fault.problem, format, arguments);
    va_end(arguments);
    decoder->fault.result = ENG_E_BAD_DOCUMENT;
    decoder->fault.offset = caller_offset(decoder, reader);
    return kStop;
}

// A fault that the whole-text decoder's checks recorded, or their failure.
Step check_fault(EngineDecoder *decoder, const Reader *reader, ResultCode result, size_t offset)
{
    const bool bad = ENG_CONDITION(result) == ENG_COND_BAD_DOCUMENT;
    decoder->fault.result = bad ? ENG_E_BAD_DOCUMENT : ENG_E_NO_MEMORY;
    eng_snprintf(decoder->fault.problem, sizeof decoder->fault.problem, "%s",
                 bad ? eng_document_problem() : "");
    decoder->fault.offset = reader == &decoder->outer ? offset : caller_offset(decoder, reader);
    return kStop;
}

// The text has ended inside an element.
Step unclosed(EngineDecoder *decoder, Reader *reader, const char *element)
{
    char problem[64];
    eng_snprintf(problem, sizeof problem, "element %s is not closed", element);
    eng_text_fault(&reader->text, 0, problem, &decoder->fault);
    return text_fault(decoder, reader);
}

Step after_text_step(EngineDecoder *decoder, const Reader *reader, uint32_t step)
{
    return step == ENG_TEXT_READ ? kProgress
           : step == ENG_TEXT_MORE ? kMore
                                   : text_fault(decoder, reader);
}

// --- The document ---------------------------------------------------------------

void reset_document(EngineDecoder *decoder)
{
    qe_destroy(&decoder->root);
    qe_destroy(&decoder->data);
    strm_block_reader_destroy(decoder->stream);
    decoder->stream = nullptr;
    decoder->algorithm = nullptr;
    decoder->blocks = nullptr;
    eng_memset(&decoder->read, 0, sizeof decoder->read);
    eng_memset(&decoder->grid, 0, sizeof decoder->grid);
    eng_memset(decoder->values, 0, sizeof decoder->values);
    decoder->spectral = decoder->blocks_done = 0;
    decoder->queries = decoder->datas = decoder->data_text = 0;
    decoder->block_count = 0;
}

Step piece_ready(EngineDecoder *decoder, uint32_t kind, size_t offset)
{
    EnginePiece *piece = &decoder->piece;
    piece->kind = kind;
    piece->document = decoder->documents;
    piece->spectral = decoder->spectral;
    piece->wrapping = decoder->read.wrapping;
    piece->block = decoder->block_count;
    piece->offset = offset;
    return kPiece;
}

// The document has been read whole: its end.
Step document_end(EngineDecoder *decoder)
{
    EnginePiece *piece = &decoder->piece;
    eng_memset(piece, 0, sizeof *piece);
    piece->frames = decoder->grid;
    eng_memcpy(piece->values, decoder->values, sizeof piece->values);
    const Step step = piece_ready(decoder, ENG_PIECE_END, eng_text_offset(&decoder->outer.text, 0));
    reset_document(decoder);
    return step;
}

// The head read (ALGORITHM, and FP_BLOCKS opening), checked as the
// whole-text decoder checks it: the family by the name it carries.
ResultCode check_head(EngineDecoder *decoder)
{
    const QueryElement *name = qe_find_child_n(decoder->algorithm, "NAME", 4);
    decoder->spectral = name && is(eng_document_value(name), SFP_ALGORITHM_NAME) ? 1 : 0;
    decoder->read.root = decoder->root;
    decoder->read.data = decoder->data;
    ResultCode result =
        eng_check_head(&decoder->read, decoder->spectral ? SFP_ALGORITHM_NAME : STRM_ALGORITHM_NAME);
    if (result == ENG_OK && !decoder->spectral)
        result = strm_block_reader_create(&decoder->read, &decoder->stream);
    return result;
}

Step read_algorithm(EngineDecoder *decoder, Reader *reader)
{
    if (decoder->algorithm)
        return outline_fault(decoder, reader, "ALGORITHM twice inside ZUVOK_FP_QUERY");
    QueryElement *element = nullptr;
    const uint32_t step = eng_text_element(&reader->text, 1, &element, &decoder->fault);
    if (step != ENG_TEXT_READ)
        return after_text_step(decoder, reader, step);
    qe_add_child(decoder->root, element);
    decoder->algorithm = element;
    return kProgress;
}

Step close_blocks(EngineDecoder *decoder, Reader *reader, size_t offset)
{
    decoder->blocks_done = 1;
    reader->place = kDocument;
    const ResultCode result = decoder->spectral
                                  ? sfp_decode_document(&decoder->read, decoder->values)
                                  : strm_block_reader_end(decoder->stream, &decoder->grid);
    return result == ENG_OK ? kProgress : check_fault(decoder, reader, result, offset);
}

Step open_blocks(EngineDecoder *decoder, Reader *reader)
{
    if (decoder->blocks)
        return outline_fault(decoder, reader, "FP_BLOCKS twice inside ZUVOK_FP_QUERY");
    if (!decoder->algorithm)
        return outline_fault(decoder, reader,
                             "FP_BLOCKS before ALGORITHM (read a piece at a time, a document "
                             "needs its ALGORITHM first)");
    const size_t offset = caller_offset(decoder, reader);
    QueryElement *element = nullptr;
    uint8_t empty = 0;
    const uint32_t step = eng_text_start_tag(&reader->text, 1, &element, &empty, &decoder->fault);
    if (step != ENG_TEXT_READ)
        return after_text_step(decoder, reader, step);
    qe_add_child(decoder->root, element);
    decoder->blocks = element;
    const ResultCode result = check_head(decoder);
    if (result != ENG_OK)
        return check_fault(decoder, reader, result, offset);
    reader->place = kBlocks;
    return empty ? close_blocks(decoder, reader, offset) : kProgress;
}

// A block: a streaming document's is handed out, a spectral document's
// one block kept for its values.
Step take_block(EngineDecoder *decoder, Reader *reader)
{
    const size_t offset = caller_offset(decoder, reader);
    QueryElement *element = nullptr;
    const uint32_t step = eng_text_element(&reader->text, 2, &element, &decoder->fault);
    if (step != ENG_TEXT_READ)
        return after_text_step(decoder, reader, step);
    if (decoder->spectral) {
        if (decoder->blocks->first_child) {
            qe_destroy(&element);
            return outline_fault(decoder, reader,
                                 "FP_BLOCKS of a spectral fingerprint must hold one FP_BLOCK");
        }
        qe_add_child(decoder->blocks, element);
        return kProgress;
    }
    EnginePiece *piece = &decoder->piece;
    eng_memset(piece, 0, sizeof *piece);
    const ResultCode result = strm_block_reader_next(decoder->stream, element, &piece->frames);
    qe_destroy(&element);
    if (result != ENG_OK)
        return check_fault(decoder, reader, result, offset);
    decoder->block_count += 1;
    return piece_ready(decoder, ENG_PIECE_BLOCK, caller_offset(decoder, reader));
}

Step close_document(EngineDecoder *decoder, Reader *reader)
{
    if (!decoder->algorithm)
        return outline_fault(decoder, reader, "ZUVOK_FP_QUERY without ALGORITHM");
    if (!decoder->blocks_done)
        return outline_fault(decoder, reader, "ZUVOK_FP_QUERY without FP_BLOCKS");
    if (reader == &decoder->inner) {
        reader->place = kAfter;
        return kProgress;
    }
    reader->place = kProlog;
    return document_end(decoder);
}

// --- The server query -----------------------------------------------------------

Step open_query(EngineDecoder *decoder, Reader *reader)
{
    if (decoder->queries)
        return outline_fault(decoder, reader,
                             "ZUSERVER_QUERY_LIST holds more than one ZUSERVER_QUERY");
    QueryElement *element = nullptr;
    uint8_t empty = 0;
    const uint32_t step = eng_text_start_tag(&reader->text, 1, &element, &empty, &decoder->fault);
    if (step != ENG_TEXT_READ)
        return after_text_step(decoder, reader, step);
    qe_destroy(&element);
    decoder->queries = 1;
    if (empty)
        return outline_fault(decoder, reader, "a server query without FPDATA");
    reader->place = kQuery;
    return kProgress;
}

Step open_data(EngineDecoder *decoder, Reader *reader)
{
    if (decoder->datas)
        return outline_fault(decoder, reader, "ZUSERVER_QUERY holds more than one FPDATA");
    const size_t offset = caller_offset(decoder, reader);
    decoder->data_offset = offset;
    uint8_t empty = 0;
    const uint32_t step =
        eng_text_start_tag(&reader->text, 2, &decoder->data, &empty, &decoder->fault);
    if (step != ENG_TEXT_READ)
        return after_text_step(decoder, reader, step);
    decoder->datas = 1;
    const ResultCode result = eng_check_data_type(&decoder->read, decoder->data);
    if (result != ENG_OK)
        return check_fault(decoder, reader, result, offset);
    if (empty)
        return outline_fault(decoder, reader, "empty FPDATA");
    eng_text_release(&decoder->inner.text);
    decoder->inner.place = kProlog;
    decoder->inner.markup = 0;
    reader->place = kData;
    return kProgress;
}

// FPDATA's text, as far as it goes, to its document's reader.
Step feed_inner(EngineDecoder *decoder, Reader *reader)
{
    DecoderText *text = &reader->text;
    TextBuffer *scratch = decoder->scratch;
    size_t limit = kDataStep - eng_text_offset(text, 0) % kDataStep;
    if (limit <= ENG_LONGEST_REFERENCE)
        limit += kDataStep; // a reference just before the step's end is read whole
    const uint32_t step = eng_text_characters(text, nullptr, scratch, limit, 1, &decoder->fault);
    if (step != ENG_TEXT_READ)
        return after_text_step(decoder, reader, step);
    const ResultCode result = eng_text_append(&decoder->inner.text, scratch->data, scratch->length);
    decoder->data_text |= scratch->length > 0 ? 1 : 0;
    scratch->length = 0;
    return result == ENG_OK ? kProgress : check_fault(decoder, reader, result, 0);
}

Step foreign_child(EngineDecoder *decoder, Reader *reader, const char *parent)
{
    QueryElement *element = nullptr;
    uint8_t empty = 0;
    const uint32_t step = eng_text_start_tag(&reader->text, 0, &element, &empty, &decoder->fault);
    if (step != ENG_TEXT_READ)
        return after_text_step(decoder, reader, step);
    outline_fault(decoder, reader, "<%.40s> inside %s", element->name, parent);
    qe_destroy(&element);
    return kStop;
}

// Inside FPDATA: its document read as far as its text goes, then more of
// the text; at FPDATA's end tag, the document must be whole.
Step read_data(EngineDecoder *decoder, Reader *reader)
{
    Reader *inner = &decoder->inner;
    const Step step = step_reader(decoder, inner);
    if (step != kMore)
        return step;
    DecoderText *text = &reader->text;
    if (inner->text.ended) {
        const uint32_t closed = eng_text_end_tag(text, "FPDATA", &decoder->fault);
        reader->place = closed == ENG_TEXT_READ ? kQuery : kData;
        return after_text_step(decoder, reader, closed);
    }
    size_t count = 0;
    const char *rest = eng_text_rest(text, &count);
    if (text->closing || (count > 0 && rest[0] == '<' && eng_text_markup(text) == ENG_MARKUP_COMMENT))
        return after_text_step(decoder, reader, eng_text_skip_markup(text, &decoder->fault));
    if (count == 0)
        return text->ended ? unclosed(decoder, reader, "FPDATA") : kMore;
    if (rest[0] != '<')
        return feed_inner(decoder, reader);
    const uint32_t markup = eng_text_markup(text);
    if (markup == ENG_MARKUP_MORE)
        return kMore;
    if (markup != ENG_MARKUP_END_TAG)
        return foreign_child(decoder, reader, "FPDATA");
    if (!decoder->data_text)
        return outline_fault(decoder, reader, "empty FPDATA");
    inner->text.ended = 1; // its end tag is read once its document is
    return kProgress;
}

// --- The outline ----------------------------------------------------------------

const char *element_at(Place place)
{
    switch (place) {
    case kDocument:
        return "ZUVOK_FP_QUERY";
    case kBlocks:
        return "FP_BLOCKS";
    case kList:
        return "ZUSERVER_QUERY_LIST";
    case kQuery:
        return "ZUSERVER_QUERY";
    default:
        return "FPDATA";
    }
}

Step open_root(EngineDecoder *decoder, Reader *reader)
{
    QueryElement *element = nullptr;
    uint8_t empty = 0;
    const uint32_t step = eng_text_start_tag(&reader->text, 0, &element, &empty, &decoder->fault);
    if (step != ENG_TEXT_READ)
        return after_text_step(decoder, reader, step);
    const bool outer = reader == &decoder->outer;
    const bool document = is(element->name, "ZUVOK_FP_QUERY");
    const bool list = outer && is(element->name, "ZUSERVER_QUERY_LIST");
    if (!document && !list) {
        if (outer)
            outline_fault(decoder, reader,
                          "<%.40s> is neither a fingerprint document nor a server query",
                          element->name);
        else
            outline_fault(decoder, reader, "FPDATA holds <%.40s>, not a fingerprint document",
                          element->name);
        qe_destroy(&element);
        return kStop;
    }
    if (outer) {
        reset_document(decoder);
        decoder->documents += 1;
    }
    reader->markup = 0;
    reader->place = list ? kList : kDocument;
    if (list) {
        qe_destroy(&element);
        return empty ? outline_fault(decoder, reader, "a server query list without queries")
                     : kProgress;
    }
    decoder->root = element;
    return empty ? close_document(decoder, reader) : kProgress;
}

Step read_prolog(EngineDecoder *decoder, Reader *reader)
{
    DecoderText *text = &reader->text;
    if (text->closing)
        return after_text_step(decoder, reader, eng_text_skip_markup(text, &decoder->fault));
    if (!eng_text_skip_space(text)) {
        if (!text->ended)
            return kMore;
        if (reader == &decoder->outer && !reader->markup) {
            eng_memset(&decoder->piece, 0, sizeof decoder->piece);
            return piece_ready(decoder, ENG_PIECE_DONE, eng_text_offset(text, 0));
        }
        eng_text_fault(text, 0, "no element in the text", &decoder->fault);
        return text_fault(decoder, reader);
    }
    size_t count = 0;
    if (eng_text_rest(text, &count)[0] != '<') {
        eng_text_fault(text, 0, "text outside any element", &decoder->fault);
        return text_fault(decoder, reader);
    }
    const uint32_t markup = eng_text_markup(text);
    if (markup == ENG_MARKUP_MORE)
        return kMore;
    if (markup == ENG_MARKUP_COMMENT || markup == ENG_MARKUP_DECLARATION) {
        reader->markup = 1;
        return after_text_step(decoder, reader, eng_text_skip_markup(text, &decoder->fault));
    }
    return open_root(decoder, reader);
}

Step read_after(EngineDecoder *decoder, Reader *reader)
{
    if (eng_text_skip_space(&reader->text))
        return outline_fault(decoder, reader, "FPDATA holds more than one document");
    return kMore; // and once its text has ended, the document is whole
}

Step open_child(EngineDecoder *decoder, Reader *reader)
{
    const Place place = reader->place;
    const char *expected = place == kDocument ? "ALGORITHM"
                           : place == kList   ? "ZUSERVER_QUERY"
                           : place == kQuery  ? "FPDATA"
                                              : nullptr;
    if (place == kBlocks)
        return take_block(decoder, reader);
    const uint32_t blocks =
        place == kDocument ? eng_text_tag_named(&reader->text, "FP_BLOCKS") : ENG_TAG_OTHER;
    if (blocks == ENG_TAG_NAMED)
        return open_blocks(decoder, reader);
    const uint32_t named =
        blocks == ENG_TAG_UNTOLD ? blocks : eng_text_tag_named(&reader->text, expected);
    if (named == ENG_TAG_UNTOLD)
        return kMore;
    if (named == ENG_TAG_OTHER)
        return foreign_child(decoder, reader, element_at(place));
    return place == kDocument ? read_algorithm(decoder, reader)
           : place == kList   ? open_query(decoder, reader)
                              : open_data(decoder, reader);
}

Step close_place(EngineDecoder *decoder, Reader *reader)
{
    const Place place = reader->place;
    const size_t offset = caller_offset(decoder, reader);
    const uint32_t step = eng_text_end_tag(&reader->text, element_at(place), &decoder->fault);
    if (step != ENG_TEXT_READ)
        return after_text_step(decoder, reader, step);
    if (place == kDocument)
        return close_document(decoder, reader);
    if (place == kBlocks)
        return close_blocks(decoder, reader, offset);
    if (place == kQuery) {
        reader->place = kList;
        return decoder->datas ? kProgress
                              : outline_fault(decoder, reader, "a server query without FPDATA");
    }
    if (!decoder->queries)
        return outline_fault(decoder, reader, "a server query list without queries");
    reader->place = kProlog;
    return document_end(decoder);
}

// Inside an element of the outline: white space and comments between its
// children, a child, or its end tag.
Step read_inside(EngineDecoder *decoder, Reader *reader)
{
    DecoderText *text = &reader->text;
    if (text->closing)
        return after_text_step(decoder, reader, eng_text_skip_markup(text, &decoder->fault));
    size_t count = 0;
    const char *rest = eng_text_rest(text, &count);
    if (count == 0 && !text->ended)
        return kMore;
    if (count == 0)
        return unclosed(decoder, reader, element_at(reader->place));
    if (rest[0] == '<' && text->beside.result != ENG_OK) {
        decoder->fault = text->beside;
        return text_fault(decoder, reader);
    }
    if (rest[0] != '<') {
        const uint32_t step = eng_text_characters(text, element_at(reader->place),
                                                  decoder->scratch, kCharacterStep, 0,
                                                  &decoder->fault);
        decoder->scratch->length = 0;
        return after_text_step(decoder, reader, step);
    }
    switch (eng_text_markup(text)) {
    case ENG_MARKUP_MORE:
        return kMore;
    case ENG_MARKUP_COMMENT:
        return after_text_step(decoder, reader, eng_text_skip_markup(text, &decoder->fault));
    case ENG_MARKUP_END_TAG:
        return close_place(decoder, reader);
    default:
        return open_child(decoder, reader);
    }
}

Step step_reader(EngineDecoder *decoder, Reader *reader)
{
    switch (reader->place) {
    case kProlog:
        return read_prolog(decoder, reader);
    case kAfter:
        return read_after(decoder, reader);
    case kData:
        return read_data(decoder, reader);
    default:
        return read_inside(decoder, reader);
    }
}

ResultCode answer_fault(const EngineDecoder *decoder, EnginePiece *piece)
{
    eng_memset(piece, 0, sizeof *piece);
    piece->offset = decoder->fault.offset;
    if (decoder->fault.result == ENG_E_BAD_DOCUMENT)
        eng_set_problem(decoder->fault.problem);
    return decoder->fault.result;
}

} // namespace

ResultCode eng_decoder_create(EngineDecoder **decoder)
{
    if (!decoder)
        return ENG_E_INVALID_ARG;
    auto *made = static_cast<EngineDecoder *>(eng_malloc(sizeof(EngineDecoder)));
    if (!made)
        return ENG_E_NO_MEMORY;
    eng_memset(made, 0, sizeof *made);
    eng_text_start(&made->outer.text, 0);
    eng_text_start(&made->inner.text, 1);
    made->scratch = tb_create(256, 4096);
    if (!made->scratch) {
        eng_free(made);
        return ENG_E_NO_MEMORY;
    }
    *decoder = made;
    return ENG_OK;
}

ResultCode eng_decoder_feed(EngineDecoder *decoder, const char *text, size_t length)
{
    if (!decoder || (!text && length > 0) || decoder->outer.text.ended)
        return ENG_E_INVALID_ARG;
    if (decoder->fault.result != ENG_OK || length == 0)
        return ENG_OK; // nothing more is read after a fault
    return eng_text_append(&decoder->outer.text, text, length);
}

ResultCode eng_decoder_end(EngineDecoder *decoder)
{
    if (!decoder)
        return ENG_E_INVALID_ARG;
    decoder->outer.text.ended = 1;
    return ENG_OK;
}

ResultCode eng_decoder_next(EngineDecoder *decoder, EnginePiece *piece)
{
    if (!decoder || !piece)
        return ENG_E_INVALID_ARG;
    eng_clear_problem();
    while (decoder->fault.result == ENG_OK) {
        const Step step = step_reader(decoder, &decoder->outer);
        if (step == kProgress)
            continue;
        if (step == kMore) {
            eng_memset(piece, 0, sizeof *piece);
            piece->kind = ENG_PIECE_MORE;
            piece->offset = eng_text_offset(&decoder->outer.text, 0);
            return ENG_OK;
        }
        if (step == kPiece) {
            *piece = decoder->piece;
            return ENG_OK;
        }
    }
    return answer_fault(decoder, piece);
}

ResultCode eng_decoder_destroy(EngineDecoder **decoder)
{
    if (!decoder || !*decoder)
        return ENG_OK;
    EngineDecoder *doomed = *decoder;
    reset_document(doomed);
    eng_text_release(&doomed->outer.text);
    eng_text_release(&doomed->inner.text);
    tb_destroy(doomed->scratch);
    eng_free(doomed);
    *decoder = nullptr;
    return ENG_OK;
}
