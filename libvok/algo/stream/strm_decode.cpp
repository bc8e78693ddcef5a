// Reading a streaming document back into frames: the parameters, every
// block through BASE64 and the block reader, masks that all mark the weak
// bits of one variant, the wrapping that agrees with them, and the quiet
// frames found by walking the generator alongside.
#include "algo/stream/b64.h"
#include "algo/stream/strm_internal.h"
#include "engine/eng_memory.h"
#include "engine/eng_support.h"

namespace {

const uint32_t kStream1WeakBits = 14;
const uint32_t kOtherWeakBits = 8;

struct StreamDocument {
    DocumentRead *read;
    int32_t block_length; /* 3 or 6 */
    uint32_t weak_bits;   /* of the masks so far; 0 before the first */
    size_t blocks;
    uint32_t *words; /* blocks x 256 each, in one allocation */
    uint32_t *masks;
    uint8_t *quiet;
};

bool is(const char *text, const char *expected)
{
    return qe_compare_n(text, qe_text_length(text), expected, qe_text_length(expected)) == 0;
}

ResultCode read_parameters(StreamDocument *document)
{
    DocumentRead *read = document->read;
    const QueryElement *algorithm = read->algorithm;
    const QueryElement *length = qe_find_child_n(algorithm, "BLOCK_LENGTH", 12);
    const QueryElement *format = qe_find_child_n(algorithm, "FORMAT", 6);
    if (!length)
        return eng_document_fault(read, algorithm, ENG_AT_START, "ALGORITHM without BLOCK_LENGTH");
    const char *seconds = eng_document_value(length);
    if (!is(seconds, "3") && !is(seconds, "6"))
        return eng_document_fault(read, length, 0, "BLOCK_LENGTH \"%.40s\" is not 3 or 6", seconds);
    document->block_length = is(seconds, "3") ? 3 : 6;
    if (!format)
        return eng_document_fault(read, algorithm, ENG_AT_START, "ALGORITHM without FORMAT");
    if (!is(eng_document_value(format), "COMPRESSED"))
        return eng_document_fault(read, format, 0, "FORMAT \"%.40s\" is not COMPRESSED",
                                  eng_document_value(format));
    return ENG_OK;
}

// Counts the blocks and takes room for their frames: words, masks, quiet.
ResultCode allocate_frames(StreamDocument *document)
{
    const QueryElement *blocks = document->read->blocks;
    for (const QueryElement *block = blocks->first_child; block; block = block->next_sibling) {
        if (!is(block->name, "FP_BLOCK"))
            return eng_document_fault(document->read, block, ENG_AT_START, "<%s> inside FP_BLOCKS",
                                      block->name);
        document->blocks += 1;
    }
    if (document->blocks == 0)
        return ENG_OK;
    const size_t per_frame = 2 * sizeof(uint32_t) + 1;
    if (document->blocks > ~static_cast<size_t>(0) / per_frame / ENG_BLOCK_FRAMES)
        return ENG_E_NO_MEMORY;
    const size_t count = document->blocks * ENG_BLOCK_FRAMES;
    document->words = static_cast<uint32_t *>(eng_malloc(count * per_frame));
    if (!document->words)
        return ENG_E_NO_MEMORY;
    document->masks = document->words + count;
    document->quiet = reinterpret_cast<uint8_t *>(document->masks + count);
    return ENG_OK;
}

// Where a byte of a block lies in its BASE64 text.
size_t character_of(uint32_t byte)
{
    return static_cast<size_t>(byte / 3) * 4;
}

ResultCode base64_fault(DocumentRead *read, const QueryElement *element, uint32_t ordinal,
                        const B64Fault *fault, uint32_t length)
{
    if (fault->kind == B64_FAULT_LENGTH)
        return eng_document_fault(read, element, length,
                                  "block %u: BASE64 text of %u characters, not a multiple of 4",
                                  ordinal, length);
    const unsigned char c = static_cast<unsigned char>(eng_document_value(element)[fault->offset]);
    char shown[16];
    if (c >= 0x21 && c < 0x7F)
        eng_snprintf(shown, sizeof shown, "'%c'", c);
    else
        eng_snprintf(shown, sizeof shown, "byte %u", static_cast<unsigned>(c));
    return eng_document_fault(read, element, fault->offset, "block %u: BASE64 character %u (%s) %s",
                              ordinal, fault->offset + 1, shown,
                              fault->kind == B64_FAULT_CHARACTER
                                  ? "is not in the alphabet"
                                  : "has bits set that no byte uses");
}

ResultCode block_fault(DocumentRead *read, const QueryElement *element, uint32_t ordinal,
                       const BlockRead *block)
{
    const size_t at = character_of(block->fault_offset);
    char what[80];
    if (block->fault == BW_FAULT_ENDS_IN_WORD)
        eng_snprintf(what, sizeof what, "the block ends inside sub-fingerprint %u",
                     block->fault_index);
    else if (block->fault == BW_FAULT_ENDS_IN_MASK)
        eng_snprintf(what, sizeof what, "the block ends inside the kept mask of sub-fingerprint %u",
                     block->fault_index * ENG_MASK_STRIDE);
    else if (block->fault == BW_FAULT_TRAILING)
        eng_snprintf(what, sizeof what, "%u %s the block's last code", block->fault_index,
                     block->fault_index == 1 ? "byte follows" : "bytes follow");
    else
        eng_snprintf(what, sizeof what, "the padding after the block's last code is not zero");
    return eng_document_fault(read, element, at, "block %u, byte offset %u: %s", ordinal,
                              block->fault_offset, what);
}

// The block's text into its words and kept masks.
ResultCode read_block_bytes(DocumentRead *read, const QueryElement *element, uint32_t ordinal,
                            BlockRead *block)
{
    const char *text = eng_document_value(element);
    const size_t length = eng_strlen(text);
    if (length == 0)
        return eng_document_fault(read, element, 0, "block %u: empty", ordinal);
    if (length > 0xFFFFFFFFu)
        return ENG_E_NO_MEMORY;
    uint8_t *bytes = nullptr;
    uint32_t size = 0;
    B64Fault fault = {0, 0};
    ResultCode result = b64_decode(text, static_cast<uint32_t>(length), &bytes, &size, &fault);
    if (result == B64_E_BAD_DOCUMENT)
        return base64_fault(read, element, ordinal, &fault, static_cast<uint32_t>(length));
    if (result != ENG_OK)
        return ENG_E_NO_MEMORY;
    result = bw_read_block(bytes, size, block);
    eng_free(bytes);
    return result == ENG_OK ? ENG_OK : block_fault(read, element, ordinal, block);
}

// Every mask marks the same number of weak bits: 14 for Stream1, 8 for
// Stream4 and the six-second variant.
ResultCode check_masks(StreamDocument *document, const QueryElement *element, uint32_t ordinal,
                       const BlockRead *block)
{
    for (uint32_t m = 0; m < BW_KEPT_MASKS; ++m) {
        const uint32_t weak = static_cast<uint32_t>(__builtin_popcount(block->kept[m]));
        const bool fits =
            weak == kOtherWeakBits || (weak == kStream1WeakBits && document->block_length == 3);
        if (document->weak_bits == 0 && fits)
            document->weak_bits = weak;
        if (weak == document->weak_bits && weak != 0)
            continue;
        char expected[40];
        if (document->weak_bits)
            eng_snprintf(expected, sizeof expected, "%u like the masks before it",
                         document->weak_bits);
        else
            eng_snprintf(expected, sizeof expected, "%s",
                         document->block_length == 3 ? "14 (Stream1) or 8 (Stream4)" : "8");
        return eng_document_fault(
            document->read, element, character_of(block->kept_offsets[m]),
            "block %u, byte offset %u: the kept mask of sub-fingerprint %u marks %u weak bits, "
            "not %s",
            ordinal, block->kept_offsets[m], m * ENG_MASK_STRIDE, weak, expected);
    }
    return ENG_OK;
}

// Block `ordinal` into the document's arrays from frame `first` on.
ResultCode read_block(StreamDocument *document, const QueryElement *element, uint32_t ordinal,
                      size_t first)
{
    DocumentRead *read = document->read;
    char context[32];
    char number[16];
    eng_snprintf(context, sizeof context, "FP_BLOCK %u", ordinal);
    eng_snprintf(number, sizeof number, "%u", ordinal);
    ResultCode result = eng_document_attribute(read, element, "ORD", number, context);
    eng_snprintf(context, sizeof context, "block %u", ordinal);
    if (result == ENG_OK)
        result = eng_document_attribute(read, element, "TYPE", "BINARY", context);
    if (result == ENG_OK)
        result = eng_document_attribute(read, element, "ENCODING", "BASE64", context);
    BlockRead block;
    if (result == ENG_OK)
        result = read_block_bytes(read, element, ordinal, &block);
    if (result == ENG_OK)
        result = check_masks(document, element, ordinal, &block);
    if (result != ENG_OK)
        return result;
    eng_memcpy(document->words + first, block.words, sizeof block.words);
    for (uint32_t i = 0; i < ENG_BLOCK_FRAMES; ++i)
        document->masks[first + i] = block.kept[strm_nearest_kept_mask(i)];
    return ENG_OK;
}

// Stream1 is wrapped as ZUVOK, every other algorithm as QDV.
ResultCode check_wrapping(StreamDocument *document, uint32_t algorithm)
{
    char what[64];
    if (document->block_length == 6)
        eng_snprintf(what, sizeof what, "its blocks last six seconds (engine algorithm 5)");
    else if (algorithm != 0)
        eng_snprintf(what, sizeof what, "its masks mark %u weak bits (%s)", document->weak_bits,
                     algorithm == ENG_ALG_STREAM1 ? "Stream1" : "Stream4");
    else
        return ENG_OK; // no blocks to tell by
    return eng_check_wrapping(document->read, algorithm == ENG_ALG_STREAM1, what);
}

uint32_t algorithm_of(const StreamDocument *document)
{
    if (document->blocks == 0)
        return 0;
    if (document->block_length == 6)
        return ENG_ALG_STREAM6;
    return document->weak_bits == kStream1WeakBits ? ENG_ALG_STREAM1 : ENG_ALG_STREAM4;
}

ResultCode read_blocks(StreamDocument *document)
{
    ResultCode result = allocate_frames(document);
    uint32_t ordinal = 1;
    for (const QueryElement *element = document->read->blocks->first_child;
         element && result == ENG_OK; element = element->next_sibling, ++ordinal)
        result = read_block(document, element, ordinal,
                            static_cast<size_t>(ordinal - 1) * ENG_BLOCK_FRAMES);
    if (result == ENG_OK)
        result = check_wrapping(document, algorithm_of(document));
    return result;
}

// The document's algorithm and grid, without frames.
void describe(const StreamDocument *document, EngineFrames *frames)
{
    eng_memset(frames, 0, sizeof *frames);
    frames->algorithm = algorithm_of(document);
    strm_grid(document->block_length, &frames->frame_seconds, &frames->first_offset_seconds);
}

} // namespace

struct StreamBlockReader {
    StreamDocument document; // its arrays: the block last read
    StreamQuietMarker marker;
    uint32_t words[ENG_BLOCK_FRAMES];
    uint32_t masks[ENG_BLOCK_FRAMES];
    uint8_t quiet[ENG_BLOCK_FRAMES];
};

ResultCode strm_block_reader_create(DocumentRead *read, StreamBlockReader **reader)
{
    if (!read || !reader)
        return STRM_E_INVALID_ARG;
    auto *made = static_cast<StreamBlockReader *>(eng_malloc(sizeof(StreamBlockReader)));
    if (!made)
        return ENG_E_NO_MEMORY;
    made->document = {read, 0, 0, 0, made->words, made->masks, made->quiet};
    strm_quiet_start(&made->marker);
    const ResultCode result = read_parameters(&made->document);
    if (result != ENG_OK) {
        eng_free(made);
        return result;
    }
    *reader = made;
    return ENG_OK;
}

ResultCode strm_block_reader_next(StreamBlockReader *reader, const QueryElement *element,
                                  EngineFrames *frames)
{
    if (!reader || !element || !frames)
        return STRM_E_INVALID_ARG;
    StreamDocument *document = &reader->document;
    if (!is(element->name, "FP_BLOCK"))
        return eng_document_fault(document->read, element, ENG_AT_START,
                                  "<%s> inside FP_BLOCKS", element->name);
    if (document->blocks >= 0xFFFFFFFFu)
        return ENG_E_NO_MEMORY;
    const uint32_t ordinal = static_cast<uint32_t>(document->blocks) + 1;
    ResultCode result = read_block(document, element, ordinal, 0);
    if (result != ENG_OK)
        return result;
    document->blocks = ordinal;
    if (ordinal == 1) {
        result = check_wrapping(document, algorithm_of(document));
        if (result != ENG_OK)
            return result;
    }
    for (uint32_t i = 0; i < ENG_BLOCK_FRAMES; ++i)
        reader->quiet[i] = strm_quiet_mark(&reader->marker, reader->words[i]);
    describe(document, frames);
    frames->count = ENG_BLOCK_FRAMES;
    frames->complete = ENG_BLOCK_FRAMES;
    frames->words = reader->words;
    frames->masks = reader->masks;
    frames->quiet = reader->quiet;
    return ENG_OK;
}

ResultCode strm_block_reader_end(StreamBlockReader *reader, EngineFrames *frames)
{
    if (!reader || !frames)
        return STRM_E_INVALID_ARG;
    // A document without blocks: its six-second blocks still tell the
    // wrapping (with blocks, the first one was checked).
    if (reader->document.blocks == 0) {
        const ResultCode result = check_wrapping(&reader->document, 0);
        if (result != ENG_OK)
            return result;
    }
    describe(&reader->document, frames);
    return ENG_OK;
}

void strm_block_reader_destroy(StreamBlockReader *reader)
{
    eng_free(reader);
}

ResultCode strm_decode_document(DocumentRead *read, EngineFrames *frames)
{
    if (!read || !frames)
        return STRM_E_INVALID_ARG;
    StreamDocument document = {read, 0, 0, 0, nullptr, nullptr, nullptr};
    ResultCode result = read_parameters(&document);
    if (result == ENG_OK)
        result = read_blocks(&document);
    if (result != ENG_OK) {
        eng_free(document.words);
        return result;
    }
    const size_t count = document.blocks * ENG_BLOCK_FRAMES;
    strm_mark_quiet(document.words, count, document.quiet);
    EngineFrames decoded;
    eng_memset(&decoded, 0, sizeof decoded);
    decoded.algorithm = algorithm_of(&document);
    decoded.count = count;
    decoded.complete = count;
    strm_grid(document.block_length, &decoded.frame_seconds, &decoded.first_offset_seconds);
    decoded.words = document.words;
    decoded.masks = document.masks;
    decoded.quiet = document.quiet;
    *frames = decoded;
    return ENG_OK;
}

uint8_t strm_owns_frames(const EngineFrames *frames)
{
    // Decoded frames are one allocation: words, masks, then the flags.
    return frames->words && frames->masks == frames->words + frames->count &&
           frames->quiet == reinterpret_cast<const uint8_t *>(frames->masks + frames->count);
}
