// Block finishing: 256 sub-fingerprints and every third weak-bit mask are
// compressed into one bit stream, turned into BASE64 text and appended to
// the state's list of finished blocks.
#include "algo/stream/b64.h"
#include "algo/stream/strm_internal.h"
#include "engine/eng_memory.h"

int32_t strm_encode_block(BitWriter *writer, const uint32_t *words, const uint32_t *kept,
                          uint8_t *bytes)
{
    bw_reset(writer);
    const int32_t words_bits = bw_encode_words(writer, words, STRM_BLOCK_WORDS, bytes, 0);
    bw_reset(writer);
    // The masks continue at the bit where the sub-fingerprints ended.
    const int32_t masks_bits = bw_encode_words(writer, kept, BW_KEPT_MASKS, bytes, words_bits);
    return (words_bits + masks_bits + 7) / 8;
}

void strm_finish_block(StreamState *state)
{
    uint32_t kept[BW_KEPT_MASKS];
    for (uint32_t m = 0; m < BW_KEPT_MASKS; ++m)
        kept[m] = state->masks[m * ENG_MASK_STRIDE];
    state->encoded_length =
        strm_encode_block(&state->writer, state->fingerprints, kept, state->encoded);
    state->finished_blocks += 1;
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
    state->kept_blocks += 1;
    state->ready = 1;
    return ENG_OK;
}
