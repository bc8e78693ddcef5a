// Streaming fingerprint state: variants, creation, reset and destruction.
#include "algo/stream/strm_internal.h"
#include "algo/stream/strm_lanes.h"
#include "engine/eng_g711.h"
#include "engine/eng_memory.h"
#include "engine/eng_support.h"

namespace {

struct VariantRow {
    uint32_t id;
    int32_t block_length;
    int32_t weak_bits;
};

const VariantRow kVariants[] = {
    {3, 3, 14}, // Stream1
    {4, 3, 8},  // Stream4
    {5, 6, 8},  // 6-second blocks
};

// Frame geometry follows from the block length alone.
bool frame_geometry(int32_t block_length, int32_t *n, int32_t *log2_n, int32_t *hop)
{
    if (block_length == 3) {
        *n = 2048;
        *log2_n = 11;
        *hop = 64;
        return true;
    }
    if (block_length == 6) {
        *n = 4096;
        *log2_n = 12;
        *hop = 128;
        return true;
    }
    return false;
}

int32_t *allocate_samples(int32_t count)
{
    return static_cast<int32_t *>(eng_malloc(static_cast<size_t>(count) * sizeof(int32_t)));
}

// Fills the state from the variant and allocates its buffers; any failure
// leaves a state that strm_destroy can release.
ResultCode build_state(StreamState *s, const StreamVariant *variant, uint32_t sample_rate,
                       SampleType sample_type, uint32_t channels, int32_t rate_index)
{
    s->sample_rate = sample_rate;
    s->channels = channels;
    s->sample_type = sample_type;
    s->rate_index = rate_index;
    s->alaw = eng_alaw_table();
    s->mulaw = eng_mulaw_table();
    s->block_handler = strm_block_done;
    s->block_context = s;
    s->algorithm_id = variant->id;
    s->block_length = variant->block_length;
    s->weak_bits = variant->weak_bits;
    if (!frame_geometry(s->block_length, &s->frame_length, &s->log2_frame, &s->hop))
        return STRM_E_INVALID_ARG;

    const FrameSizeTables *tables = rfft_size_tables(s->frame_length);
    if (!tables)
        return STRM_E_INVALID_ARG;
    s->window = tables->window;

    s->frame_ring = allocate_samples(s->frame_length);
    if (!s->frame_ring)
        return STRM_E_NO_MEMORY;
    s->frame = allocate_samples(s->frame_length);
    if (!s->frame)
        return STRM_E_NO_MEMORY;

    const ResultCode planned = rfft_create(s->frame_length, &s->fft);
    if (planned != ENG_OK)
        return planned;

    s->scratch = allocate_samples(s->frame_length);
    if (!s->scratch)
        return STRM_E_NO_MEMORY;

    strm_random_start(&s->random);

    s->band_edges = strm_band_edges(s->block_length);
    if (!s->band_edges)
        return STRM_E_INVALID_ARG;

    const ResultCode laid = strm_lanes_setup(s, strm_creation_path());
    if (laid != ENG_OK)
        return laid;

    strm_reset(s);
    s->writer.codes = bw_byte_codes();
    bw_reset(&s->writer);

    s->ready = 0;
    s->bytes_per_frame = channels * eng_sample_type_bits(sample_type) / 8;
    s->blocks = nullptr;
    s->last_block = nullptr;
    return ENG_OK;
}

} // namespace

ResultCode strm_variant_params(uint32_t algorithm_id, StreamVariant **variant)
{
    if (!variant)
        return STRM_E_INVALID_ARG;
    const VariantRow *row = nullptr;
    for (const VariantRow &candidate : kVariants) {
        if (candidate.id == algorithm_id)
            row = &candidate;
    }
    if (!row)
        return STRM_E_INVALID_ARG;
    auto *made = static_cast<StreamVariant *>(eng_malloc(sizeof(StreamVariant)));
    if (!made)
        return STRM_E_NO_MEMORY;
    made->id = row->id;
    made->block_length = row->block_length;
    made->weak_bits = row->weak_bits;
    frame_geometry(row->block_length, &made->frame_length, &made->log2_frame, &made->hop);
    *variant = made;
    return ENG_OK;
}

ResultCode strm_grid(int32_t block_length, double *frame_seconds, double *first_offset_seconds)
{
    int32_t n = 0, log2_n = 0, hop = 0;
    if (!frame_seconds || !first_offset_seconds || !frame_geometry(block_length, &n, &log2_n, &hop))
        return STRM_E_INVALID_ARG;
    *frame_seconds = hop / STRM_ANALYSIS_RATE;
    *first_offset_seconds = (n + hop) / STRM_ANALYSIS_RATE;
    return ENG_OK;
}

ResultCode strm_create(uint32_t algorithm_id, uint32_t sample_rate, SampleType sample_type,
                       uint32_t channels, void **state)
{
    const int32_t rate_index = strm_rate_index(sample_rate);
    if (rate_index < 0)
        return STRM_E_INVALID_ARG;
    if (sample_type < SAMPLE_PCM_U8 || sample_type > SAMPLE_MULAW || channels < 1 || channels > 2 ||
        !state)
        return STRM_E_INVALID_ARG;

    StreamVariant *variant = nullptr;
    const ResultCode found = strm_variant_params(algorithm_id, &variant);
    if (found != ENG_OK)
        return found;

    auto *s = static_cast<StreamState *>(eng_malloc(sizeof(StreamState)));
    if (!s) {
        eng_free(variant);
        return STRM_E_NO_MEMORY;
    }
    eng_memset(s, 0, sizeof(StreamState));

    const ResultCode built =
        build_state(s, variant, sample_rate, sample_type, channels, rate_index);
    eng_free(variant);
    if (built != ENG_OK) {
        strm_destroy(s);
        return built;
    }
    *state = s;
    return ENG_OK;
}

ResultCode strm_reset(StreamState *state)
{
    if (!state)
        return STRM_E_INVALID_ARG;
    state->input_index = 0;
    state->phase = 0;
    state->ring_position = 0;
    state->ring_filled = 0;
    state->have_previous_frame = 0;
    state->count = 0;
    state->previous_exponent = 0;
    if (state->frame_ring)
        eng_memset(state->frame_ring, 0,
                   static_cast<size_t>(state->frame_length) * sizeof(int32_t));
    eng_memset(state->previous_filter, 0, sizeof(state->previous_filter));
    eng_memset(state->input_ring, 0, sizeof(state->input_ring));
    strm_lanes_reset(state);
    return ENG_OK;
}

ResultCode strm_destroy(void *state)
{
    if (!state)
        return STRM_E_INVALID_ARG;
    auto *s = static_cast<StreamState *>(state);
    strm_free_frames(s);
    eng_free(s->lane_block);
    eng_free(s->scratch);
    rfft_destroy(s->fft);
    eng_free(s->frame);
    eng_free(s->frame_ring);
    EncodedBlock *block = s->blocks;
    while (block) {
        EncodedBlock *next = block->next;
        eng_free(block->text);
        eng_free(block);
        block = next;
    }
    eng_free(s);
    return ENG_OK;
}
