// Query document of the streaming fingerprint: the algorithm's name,
// version and parameters, and every finished block as BASE64 text, of a
// handle or of frames decoded from a document.
#include "algo/stream/b64.h"
#include "algo/stream/strm_internal.h"
#include "engine/eng_document.h"
#include "engine/eng_memory.h"
#include "engine/eng_support.h"

namespace {

const char kFormat[] = "COMPRESSED";

// Frames of 6-second blocks hop 128 samples, those of 3-second ones 64.
const double kSixSecondHop = 128 / STRM_ANALYSIS_RATE;

} // namespace

ResultCode strm_add_block_element(QueryElement *parent, const EncodedBlock *block, int32_t ordinal)
{
    if (!parent || !block)
        return STRM_E_INVALID_ARG;
    QueryElement *element = qe_create("FP_BLOCK", block->text);
    if (!element)
        return STRM_E_NO_MEMORY;
    char number[16];
    eng_snprintf(number, sizeof(number), "%d", ordinal);
    ResultCode result = qe_set_attribute(element, "TYPE", "BINARY");
    if (result == ENG_OK)
        result = qe_set_attribute(element, "ENCODING", "BASE64");
    if (result == ENG_OK)
        result = qe_set_attribute(element, "ORD", number);
    if (result != ENG_OK) {
        qe_destroy(&element);
        return result;
    }
    qe_add_child(parent, element);
    return ENG_OK;
}

ResultCode strm_build_blocks(const StreamState *state, QueryElement **blocks)
{
    if (!state || !blocks)
        return STRM_E_INVALID_ARG;
    QueryElement *list = qe_create("FP_BLOCKS", nullptr);
    if (!list)
        return STRM_E_NO_MEMORY;
    int32_t ordinal = 1;
    for (const EncodedBlock *block = state->blocks; block; block = block->next, ++ordinal) {
        const ResultCode result = strm_add_block_element(list, block, ordinal);
        if (result != ENG_OK) {
            qe_destroy(&list);
            return result;
        }
    }
    *blocks = list;
    return ENG_OK;
}

ResultCode strm_build_query(int32_t block_length, QueryElement *blocks, QueryElement **root)
{
    if ((block_length != 3 && block_length != 6) || !blocks || !root)
        return STRM_E_INVALID_ARG;
    QueryElement *query = nullptr;
    ResultCode result =
        eng_build_document(STRM_ALGORITHM_NAME, ENG_ALGORITHM_VERSION, STRM_E_NO_MEMORY, &query);
    if (result != ENG_OK)
        return result;
    result =
        qe_set_path_uint(query, "ALGORITHM/BLOCK_LENGTH", static_cast<uint32_t>(block_length), 1);
    if (result == ENG_OK)
        result = qe_set_path(query, "ALGORITHM/FORMAT", kFormat, 1);
    if (result != ENG_OK) {
        qe_destroy(&query);
        return result;
    }
    qe_add_child(query, blocks);
    *root = query;
    return ENG_OK;
}

ResultCode strm_serialize(void *state, QueryElement **document)
{
    if (!state || !document)
        return STRM_E_INVALID_ARG;
    const auto *s = static_cast<const StreamState *>(state);
    QueryElement *blocks = nullptr;
    ResultCode result = strm_build_blocks(s, &blocks);
    if (result != ENG_OK)
        return result;
    QueryElement *root = nullptr;
    result = strm_build_query(s->block_length, blocks, &root);
    if (result != ENG_OK) {
        qe_destroy(&blocks);
        return result;
    }
    *document = root;
    return ENG_OK;
}

ResultCode strm_frames_block_length(const EngineFrames *frames, int32_t *block_length)
{
    if (!frames || !block_length || frames->complete > frames->count ||
        frames->complete % ENG_BLOCK_FRAMES != 0 ||
        (frames->complete > 0 && (!frames->words || !frames->masks)))
        return STRM_E_INVALID_ARG;
    switch (frames->algorithm) {
    case ENG_ALG_STREAM1:
    case ENG_ALG_STREAM4:
        *block_length = 3;
        return ENG_OK;
    case ENG_ALG_STREAM6:
        *block_length = 6;
        return ENG_OK;
    case 0:
        // Halfway between the two hops.
        *block_length = frames->frame_seconds > 0.75 * kSixSecondHop ? 6 : 3;
        return frames->complete == 0 ? ENG_OK : STRM_E_INVALID_ARG;
    default:
        return STRM_E_INVALID_ARG;
    }
}

ResultCode strm_frames_block_text(const EngineFrames *frames, size_t block, char **text)
{
    if (!frames || !text || block >= frames->complete / ENG_BLOCK_FRAMES)
        return STRM_E_INVALID_ARG;
    const uint32_t *words = frames->words + block * ENG_BLOCK_FRAMES;
    const uint32_t *masks = frames->masks + block * ENG_BLOCK_FRAMES;
    uint32_t kept[BW_KEPT_MASKS];
    for (uint32_t m = 0; m < BW_KEPT_MASKS; ++m)
        kept[m] = masks[m * ENG_MASK_STRIDE];
    BitWriter writer;
    eng_memset(&writer, 0, sizeof writer);
    writer.codes = bw_byte_codes();
    uint8_t bytes[STRM_ENCODED_CAPACITY];
    const int32_t size = strm_encode_block(&writer, words, kept, bytes);
    uint32_t length = 0;
    return b64_encode(bytes, static_cast<uint32_t>(size), text, &length, 1);
}

ResultCode strm_frames_document(const EngineFrames *frames, QueryElement **document)
{
    int32_t block_length = 0;
    ResultCode result = strm_frames_block_length(frames, &block_length);
    if (result != ENG_OK || !document)
        return STRM_E_INVALID_ARG;
    QueryElement *list = qe_create("FP_BLOCKS", nullptr);
    if (!list)
        return STRM_E_NO_MEMORY;
    const size_t blocks = frames->complete / ENG_BLOCK_FRAMES;
    for (size_t b = 0; b < blocks && result == ENG_OK; ++b) {
        EncodedBlock block = {nullptr, nullptr, 0};
        result = strm_frames_block_text(frames, b, &block.text);
        if (result == ENG_OK)
            result = strm_add_block_element(list, &block, static_cast<int32_t>(b + 1));
        eng_free(block.text);
    }
    if (result == ENG_OK)
        result = strm_build_query(block_length, list, document);
    if (result != ENG_OK)
        qe_destroy(&list);
    return result;
}
