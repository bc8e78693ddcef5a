// The spectral fingerprint's query document: the algorithm's name and
// version and one block of 30 decimal values.
#include "algo/spectral/sfp_internal.h"

#include "engine/eng_document.h"
#include "engine/eng_memory.h"
#include "engine/eng_support.h"

namespace {

void free_descriptor(SfpBlockDescriptor *descriptor)
{
    if (!descriptor)
        return;
    eng_free(descriptor->values);
    eng_free(descriptor);
}

// Fills the descriptor's values from a complete fingerprint.
ResultCode fetch_values(SpectralState *state, SfpBlockDescriptor *descriptor)
{
    const uint32_t size = sfp_result_size(state->statistics);
    if (!descriptor->values || descriptor->byte_count < size)
        return SFP_E_INVALID_ARG;
    if (state->frame_count != 0 && !sfp_bands_is_complete(state->statistics))
        return SFP_E_NOT_COMPLETE;
    if (sfp_get_result(state->statistics, descriptor->values, descriptor->byte_count) == 0)
        return SFP_E_NOT_COMPLETE;
    return ENG_OK;
}

// The "FP_BLOCK" element with its attributes, appended to blocks.
ResultCode add_block(QueryElement *blocks, const SfpBlockDescriptor *descriptor, const char *text)
{
    if (descriptor->bytes_per_value == 0)
        return SFP_E_NO_DATA;
    QueryElement *block = qe_create("FP_BLOCK", text);
    if (!block)
        return SFP_E_NO_MEMORY;
    ResultCode result = qe_set_attribute(block, "TYPE", "SIGNED_INT_16");
    if (result == ENG_OK)
        result = qe_set_attribute_long(
            block, "COUNT",
            static_cast<int32_t>(descriptor->byte_count / descriptor->bytes_per_value));
    if (result == ENG_OK)
        result = qe_set_attribute(block, "ENCODING", "ASCII");
    if (result == ENG_OK)
        result = qe_set_attribute(block, "SEPARATOR", " ");
    if (result != ENG_OK) {
        qe_destroy(&block);
        return result;
    }
    qe_add_child(blocks, block);
    return ENG_OK;
}

ResultCode build_blocks(SpectralState *state, QueryElement **out)
{
    QueryElement *blocks = qe_create("FP_BLOCKS", nullptr);
    if (!blocks)
        return SFP_E_NO_MEMORY;
    char *text = nullptr;
    ResultCode result = ENG_OK;
    auto *descriptor = static_cast<SfpBlockDescriptor *>(eng_malloc(sizeof(SfpBlockDescriptor)));
    if (descriptor) {
        eng_memset(descriptor, 0, sizeof(SfpBlockDescriptor));
        descriptor->byte_count = sfp_result_size(state->statistics);
        descriptor->bytes_per_value = 2;
        descriptor->values = static_cast<int16_t *>(eng_malloc(descriptor->byte_count));
    }
    if (!descriptor || !descriptor->values)
        result = SFP_E_NO_MEMORY;
    if (result == ENG_OK)
        result = fetch_values(state, descriptor);
    if (result == ENG_OK)
        result = sfp_format_ascii(descriptor, &text);
    if (result == ENG_OK) {
        const size_t length = eng_strlen(text);
        if (length == 0)
            result = SFP_E_NO_DATA;
        else if (text[length - 1] == '\n')
            text[length - 1] = '\0';
    }
    if (result == ENG_OK)
        result = add_block(blocks, descriptor, text);
    eng_free(text);
    free_descriptor(descriptor);
    if (result != ENG_OK) {
        qe_destroy(&blocks);
        return result;
    }
    *out = blocks;
    return ENG_OK;
}

} // namespace

ResultCode sfp_format_ascii(const SfpBlockDescriptor *descriptor, char **text)
{
    if (!descriptor || !text)
        return SFP_E_INVALID_ARG;
    if (descriptor->bytes_per_value == 0)
        return SFP_E_NO_DATA;
    const uint32_t count = descriptor->byte_count / descriptor->bytes_per_value;
    // "65535 " is the longest entry: six characters each.
    uint32_t room = count * 6;
    auto *buffer = static_cast<char *>(eng_malloc(room + 1));
    if (!buffer)
        return SFP_E_NO_MEMORY;
    char *at = buffer;
    for (uint32_t i = 0; i < count; ++i) {
        const auto value = static_cast<unsigned short>(descriptor->values[i]);
        const int32_t written = eng_snprintf(at, room, "%hu%s", value, i + 1 < count ? " " : "\n");
        if (written < 0)
            break;
        at += written;
        room -= static_cast<uint32_t>(written);
    }
    *at = '\0';
    *text = buffer;
    return ENG_OK;
}

ResultCode sfp_values(void *state, int16_t *values, uint32_t count)
{
    if (!state || !values)
        return SFP_E_INVALID_ARG;
    auto *s = static_cast<SpectralState *>(state);
    SfpBlockDescriptor descriptor;
    descriptor.values = values;
    descriptor.byte_count = count * sizeof(int16_t);
    descriptor.bytes_per_value = sizeof(int16_t);
    if (descriptor.byte_count != sfp_result_size(s->statistics))
        return SFP_E_INVALID_ARG;
    return fetch_values(s, &descriptor);
}

ResultCode sfp_serialize(void *state, QueryElement **root)
{
    if (!state || !root)
        return SFP_E_INVALID_ARG;
    QueryElement *blocks = nullptr;
    ResultCode result = build_blocks(static_cast<SpectralState *>(state), &blocks);
    if (result != ENG_OK)
        return result;
    QueryElement *document = nullptr;
    result =
        eng_build_document(SFP_ALGORITHM_NAME, ENG_ALGORITHM_VERSION, SFP_E_NO_MEMORY, &document);
    if (result != ENG_OK) {
        qe_destroy(&blocks);
        return result;
    }
    qe_add_child(document, blocks);
    *root = document;
    return ENG_OK;
}
