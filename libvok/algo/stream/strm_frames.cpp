// The frames of a live handle as numbers (eng_stream_frames). They are made
// on request, so that a handle nobody asks (vok's) keeps no more than its
// encoded blocks: each finished block is decoded once from the text it is
// kept as, and the block in progress is copied from the state at every
// request. Quiet frames are marked by the rule a decoded document follows,
// so that a handle's frames and its decoded document agree frame for frame.
//
// Frames are numbered from the handle's creation; the cache holds those
// from `first` on, the ones before it having been discarded.
#include "algo/stream/b64.h"
#include "algo/stream/strm_internal.h"
#include "engine/eng_memory.h"
#include "engine/eng_support.h"

namespace {

const size_t kBlockWords = STRM_BLOCK_WORDS;

// Room for at least count frames. The arrays grow by half their size, so
// that a handle asked after every piece of audio copies each frame a
// bounded number of times.
ResultCode reserve(StreamFrameCache *cache, size_t count)
{
    if (count <= cache->capacity)
        return ENG_OK;
    size_t capacity = cache->capacity + cache->capacity / 2;
    if (capacity < count)
        capacity = count;
    if (capacity < kBlockWords)
        capacity = kBlockWords;
    auto *words = static_cast<uint32_t *>(eng_realloc(cache->words, capacity * sizeof(uint32_t)));
    if (!words)
        return STRM_E_NO_MEMORY;
    cache->words = words;
    auto *masks = static_cast<uint32_t *>(eng_realloc(cache->masks, capacity * sizeof(uint32_t)));
    if (!masks)
        return STRM_E_NO_MEMORY;
    cache->masks = masks;
    auto *quiet = static_cast<uint8_t *>(eng_realloc(cache->quiet, capacity));
    if (!quiet)
        return STRM_E_NO_MEMORY;
    cache->quiet = quiet;
    cache->capacity = capacity;
    return ENG_OK;
}

// The first `available` frames of block number `block` from its words and
// kept masks: every one passes the quiet-frame marker, those not discarded
// are stored. The last frame of a block in progress, whose nearest kept
// mask is still to come, takes the one before it.
void copy_block(StreamFrameCache *cache, size_t block, const uint32_t *words,
                const uint32_t *kept, int32_t available, StreamQuietMarker *marker)
{
    const size_t base = block * kBlockWords;
    for (int32_t i = 0; i < available; ++i) {
        int32_t nearest = strm_nearest_kept_mask(i);
        if (nearest * static_cast<int32_t>(ENG_MASK_STRIDE) >= available)
            nearest -= 1;
        const uint8_t quiet = strm_quiet_mark(marker, words[i]);
        const size_t frame = base + static_cast<size_t>(i);
        if (frame < cache->first)
            continue;
        const size_t at = frame - cache->first;
        cache->words[at] = words[i];
        cache->masks[at] = kept[nearest];
        cache->quiet[at] = quiet;
    }
}

// Frames held up to the end of block number `blocks` (exclusive).
size_t held_before(const StreamFrameCache *cache, size_t blocks)
{
    const size_t end = blocks * kBlockWords;
    return end > cache->first ? end - cache->first : 0;
}

// Decodes the next finished block into the cache, for good.
ResultCode settle_block(const StreamState *state, StreamFrameCache *cache)
{
    const EncodedBlock *block = state->blocks;
    for (uint32_t i = state->dropped_blocks; block && i < cache->blocks; ++i)
        block = block->next;
    if (!block)
        return STRM_E_INVALID_ARG;
    uint8_t *bytes = nullptr;
    uint32_t size = 0;
    B64Fault fault;
    ResultCode result =
        b64_decode(block->text, static_cast<uint32_t>(block->length - 1), &bytes, &size, &fault);
    if (result != ENG_OK)
        return result == B64_E_NO_MEMORY ? STRM_E_NO_MEMORY : STRM_E_INVALID_ARG;
    // The engine's own encoding: it reads but for a fault of the engine.
    uint32_t words[STRM_BLOCK_WORDS];
    uint32_t kept[BW_KEPT_MASKS];
    result = bw_decode_block(bytes, size, words, kept, nullptr);
    eng_free(bytes);
    if (result != ENG_OK)
        return STRM_E_INVALID_ARG;
    const ResultCode room = reserve(cache, held_before(cache, cache->blocks + 1));
    if (room != ENG_OK)
        return room;
    copy_block(cache, cache->blocks, words, kept, STRM_BLOCK_WORDS, &cache->marker);
    cache->blocks += 1;
    cache->settled = held_before(cache, cache->blocks);
    return ENG_OK;
}

// Copies the block in progress after the settled frames; its quiet frames
// are marked from a copy of the marker, which settles with the block.
ResultCode copy_open_block(const StreamState *state, StreamFrameCache *cache)
{
    const size_t end = cache->blocks * kBlockWords + static_cast<size_t>(state->count);
    const size_t count = end > cache->first ? end - cache->first : 0;
    const ResultCode room = reserve(cache, count);
    if (room != ENG_OK)
        return room;
    uint32_t kept[BW_KEPT_MASKS];
    for (int32_t k = 0; k * static_cast<int32_t>(ENG_MASK_STRIDE) < state->count; ++k)
        kept[k] = state->masks[k * ENG_MASK_STRIDE];
    StreamQuietMarker marker = cache->marker;
    copy_block(cache, cache->blocks, state->fingerprints, kept, state->count, &marker);
    cache->count = count;
    return ENG_OK;
}

ResultCode make_cache(StreamState *state)
{
    if (state->frame_cache)
        return ENG_OK;
    auto *cache = static_cast<StreamFrameCache *>(eng_malloc(sizeof(StreamFrameCache)));
    if (!cache)
        return STRM_E_NO_MEMORY;
    eng_memset(cache, 0, sizeof(StreamFrameCache));
    strm_quiet_start(&cache->marker);
    state->frame_cache = cache;
    return ENG_OK;
}

// Brings the cache up to the state: every finished block settled, the
// block in progress copied after them.
ResultCode refresh(StreamState *state)
{
    ResultCode result = make_cache(state);
    if (result != ENG_OK)
        return result;
    // A block whose text could not be allocated was lost with its frames.
    if (state->kept_blocks != state->finished_blocks)
        return STRM_E_NO_MEMORY;
    StreamFrameCache *cache = state->frame_cache;
    while (result == ENG_OK && cache->blocks < state->finished_blocks)
        result = settle_block(state, cache);
    if (result == ENG_OK)
        result = copy_open_block(state, cache);
    return result;
}

// Frees the finished blocks whose frames have all been discarded.
void drop_blocks(StreamState *state, size_t first)
{
    while (state->blocks && (state->dropped_blocks + 1) * kBlockWords <= first) {
        EncodedBlock *doomed = state->blocks;
        state->blocks = doomed->next;
        if (!state->blocks)
            state->last_block = nullptr;
        eng_free(doomed->text);
        eng_free(doomed);
        state->dropped_blocks += 1;
    }
}

} // namespace

void strm_free_frames(StreamState *state)
{
    StreamFrameCache *cache = state->frame_cache;
    if (!cache)
        return;
    eng_free(cache->words);
    eng_free(cache->masks);
    eng_free(cache->quiet);
    eng_free(cache);
    state->frame_cache = nullptr;
}

ResultCode strm_frames(void *state, EngineFrames *frames)
{
    if (!state || !frames)
        return STRM_E_INVALID_ARG;
    auto *s = static_cast<StreamState *>(state);
    const ResultCode result = refresh(s);
    if (result != ENG_OK)
        return result;
    const StreamFrameCache *cache = s->frame_cache;
    double frame_seconds = 0, first_offset_seconds = 0;
    strm_grid(s->block_length, &frame_seconds, &first_offset_seconds);
    frames->algorithm = s->algorithm_id;
    frames->count = cache->count;
    frames->complete = cache->settled;
    frames->frame_seconds = frame_seconds;
    frames->first_offset_seconds =
        first_offset_seconds + static_cast<double>(cache->first) * frame_seconds;
    frames->words = cache->words;
    frames->masks = cache->masks;
    frames->quiet = cache->quiet;
    return ENG_OK;
}

ResultCode strm_discard(void *state, size_t count)
{
    if (!state)
        return STRM_E_INVALID_ARG;
    auto *s = static_cast<StreamState *>(state);
    const ResultCode result = refresh(s);
    if (result != ENG_OK)
        return result;
    StreamFrameCache *cache = s->frame_cache;
    if (count > cache->count)
        return STRM_E_INVALID_ARG;
    const size_t rest = cache->count - count;
    eng_memmove(cache->words, cache->words + count, rest * sizeof(uint32_t));
    eng_memmove(cache->masks, cache->masks + count, rest * sizeof(uint32_t));
    eng_memmove(cache->quiet, cache->quiet + count, rest);
    cache->first += count;
    cache->count = rest;
    cache->settled = held_before(cache, cache->blocks);
    drop_blocks(s, cache->first);
    return ENG_OK;
}
