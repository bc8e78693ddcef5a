// Query document of the streaming fingerprint: the algorithm's name,
// version and parameters, and every finished block as BASE64 text.
#include "algo/stream/strm_internal.h"
#include "engine/eng_document.h"
#include "engine/eng_support.h"

namespace {

const char kAlgorithmName[] = "Velmora";
const char kFormat[] = "COMPRESSED";

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

ResultCode strm_build_query(const StreamState *state, QueryElement *blocks, QueryElement **root)
{
    if (!state || !blocks || !root)
        return STRM_E_INVALID_ARG;
    QueryElement *query = nullptr;
    ResultCode result =
        eng_build_document(kAlgorithmName, ENG_ALGORITHM_VERSION, STRM_E_NO_MEMORY, &query);
    if (result != ENG_OK)
        return result;
    result = qe_set_path_uint(query, "ALGORITHM/BLOCK_LENGTH",
                              static_cast<uint32_t>(state->block_length), 1);
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
    result = strm_build_query(s, blocks, &root);
    if (result != ENG_OK) {
        qe_destroy(&blocks);
        return result;
    }
    *document = root;
    return ENG_OK;
}
