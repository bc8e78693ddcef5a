// Block finishing: 256 sub-fingerprints and every third weak-bit mask are
// compressed into one bit stream, turned into BASE64 text and appended to
// the state's list of finished blocks.
#include "algo/stream/b64.h"
#include "algo/stream/strm_internal.h"
#include "engine/eng_memory.h"

namespace {

// Masks of sub-fingerprints 0, 3, 6, ..., 255.
const int32_t kMaskStride = 3;
const int32_t kKeptMasks = (STRM_BLOCK_WORDS - 1) / kMaskStride + 1;

} // namespace

void strm_finish_block(StreamState *state)
{
    BitWriter *writer = &state->writer;
    bw_reset(writer);
    const int32_t words_bits =
        bw_encode_words(writer, state->fingerprints, STRM_BLOCK_WORDS, state->encoded, 0);

    uint32_t kept[kKeptMasks];
    for (int32_t m = 0; m < kKeptMasks; ++m)
        kept[m] = state->masks[m * kMaskStride];
    bw_reset(writer);
    // The masks continue at the bit where the sub-fingerprints ended.
    const int32_t masks_bits =
        bw_encode_words(writer, kept, kKeptMasks, state->encoded, words_bits);

    state->encoded_length = (words_bits + masks_bits + 7) / 8;
    state->block_handler(state->encoded, state->block_context);
}

ResultCode strm_block_done(const uint8_t *encoded, void *context)
{
    auto *state = static_cast<StreamState *>(context);
    if (!state || !encoded)
        return ENG_OK;
    auto *block = static_cast<EncodedBlock *>(eng_malloc(sizeof(EncodedBlock)));
    if (!block)
        return ENG_OK; // the block is dropped
    char *text = nullptr;
    uint32_t length = 0;
    if (b64_encode(encoded, static_cast<uint32_t>(state->encoded_length), &text, &length, 1) !=
        ENG_OK) {
        eng_free(block);
        return ENG_OK; // the block is dropped
    }
    block->next = nullptr;
    block->text = text;
    block->length = static_cast<int32_t>(length);
    if (state->last_block)
        state->last_block->next = block;
    else
        state->blocks = block;
    state->last_block = block;
    state->ready = 1;
    return ENG_OK;
}
