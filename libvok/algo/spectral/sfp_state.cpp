// The spectral fingerprint's state: configuration, creation, reset,
// destruction and the framing of resampled audio into overlapping analysis
// frames, with the trimming of leading silence.
#include "algo/spectral/sfp_variant.h"

#include "engine/eng_memory.h"
#include "engine/eng_support.h"

namespace {

void free_config(SpectralConfig *config)
{
    if (!config)
        return;
    eng_free(config->band_edges);
    eng_free(config);
}

// The one configuration both variants use, with the variant's band edges;
// null when memory fails.
SpectralConfig *make_config(const SpectralVariant *variant)
{
    auto *config = static_cast<SpectralConfig *>(eng_malloc(sizeof(SpectralConfig)));
    if (!config)
        return nullptr;
    eng_memset(config, 0, sizeof(SpectralConfig));
    config->trim_silence = 1;
    config->gate_window = 128;
    config->gate_threshold = 100;
    config->gate_clip = 1000;
    config->equalise_bins = 256;
    config->analysis_rate_float = 11025.0f;
    config->analysis_rate_q12 = 11025u << 12;
    config->frame_log2 = 15;
    config->hop = 0x2C00;
    config->band_edge_count = SFP_BAND_EDGES;
    const size_t bytes = SFP_BAND_EDGES * variant->edge_size;
    config->band_edges = eng_malloc(bytes);
    if (!config->band_edges) {
        free_config(config);
        return nullptr;
    }
    eng_memcpy(config->band_edges, variant->band_edges(), bytes);
    config->frame_count = 12;
    config->skip_frames = 0;
    config->output_scale = 0x8000;
    return config;
}

void free_state(SpectralState *state)
{
    sfp_bands_destroy(&state->statistics);
    sfp_resampler_destroy(&state->resampler);
    sfp_gate_destroy(&state->gate);
    eng_free(state->ring);
    eng_free(state);
}

// The resampled samples of one chunk, ring[at .. at + count), through the
// silence gate: the number of leading samples that are still silence.
uint32_t gate_feed(SpectralState *state, uint32_t at, uint32_t count)
{
    const int32_t *ring = static_cast<int32_t *>(state->ring); // 4-byte samples of either kind
    return state->variant->gate_feed(state->gate, ring + at, count, state->resampler->scale_log2);
}

// The framing loop: SFP_S_COMPLETE once the statistics hold their frames.
ResultCode frame_audio(SpectralState *state, const uint8_t *bytes, uint32_t len)
{
    if (len == 0 || state->block_align == 0 || len % state->block_align != 0)
        return SFP_E_INVALID_ARG;
    if (sfp_bands_is_complete(state->statistics))
        return SFP_S_COMPLETE;
    auto *ring = static_cast<int32_t *>(state->ring); // 4-byte samples of either kind
    uint32_t consumed = 0;
    while (consumed < len) {
        const uint32_t limit =
            state->frame_start > state->write_pos ? state->frame_start : state->ring_size;
        uint32_t used = 0;
        uint32_t produced = 0;
        sfp_resample_chunk(state, bytes + consumed, len - consumed, ring + state->write_pos,
                           limit - state->write_pos, &used, &produced);
        // Up-sampling makes up to ceil(L / M) outputs per input sample (11
        // at 1000 Hz), so a run with little room can fill it from a sample
        // that the next output still needs: it then makes outputs and uses
        // no input. Only a run that does neither has met the end of the
        // input (with room >= 1 and a whole frame left that cannot happen;
        // the test keeps the loop finite all the same).
        if (used == 0 && produced == 0)
            break;
        consumed += used;
        if (state->trimming && produced > 0) {
            const uint32_t silent = gate_feed(state, state->write_pos, produced);
            produced -= silent;
            if (produced > 0) {
                state->trimming = 0;
                if (silent > 0)
                    eng_memmove(ring + state->write_pos, ring + state->write_pos + silent,
                                sizeof(int32_t) * produced);
                sfp_gate_reset(state->gate);
            }
        }
        state->write_pos += produced;
        const bool ready = state->frame_start == 0 ? state->write_pos == state->ring_size
                                                   : state->write_pos == state->frame_start;
        if (state->write_pos == state->ring_size)
            state->write_pos = 0;
        if (ready) {
            // The frame is the last ring_size samples: from frame_start to
            // the end of the ring, then from its start.
            const uint32_t start = state->frame_start;
            sfp_bands_add_frame(state->statistics, ring + start, state->ring_size - start, ring,
                                start);
            state->frame_start += state->hop;
            if (state->frame_start >= state->ring_size)
                state->frame_start -= state->ring_size;
            if (sfp_bands_is_complete(state->statistics))
                return SFP_S_COMPLETE;
        }
    }
    return ENG_OK;
}

} // namespace

ResultCode sfp_create(uint32_t algorithm_id, uint32_t sample_rate, SampleType sample_type,
                      uint32_t channels, void **out)
{
    const SpectralVariant *variant = sfp_variant(algorithm_id);
    if (!variant || sample_rate == 0 || sample_type < SAMPLE_PCM_U8 || sample_type > SAMPLE_MULAW ||
        (channels != 1 && channels != 2) || !out)
        return SFP_E_INVALID_ARG;
    SpectralConfig *config = make_config(variant);
    if (!config)
        return SFP_E_NO_MEMORY;
    auto *state = static_cast<SpectralState *>(eng_malloc(sizeof(SpectralState)));
    if (!state) {
        free_config(config);
        return SFP_E_NO_MEMORY;
    }
    eng_memset(state, 0, sizeof(SpectralState));
    state->variant = variant;
    state->channels = channels;
    state->sample_rate = sample_rate;
    state->sample_type = static_cast<uint32_t>(sample_type);
    state->block_align = channels * eng_sample_type_bits(sample_type) / 8;

    state->resampler = variant->create_resampler(sample_rate, config);
    const uint32_t scale_log2 = state->resampler ? state->resampler->scale_log2 : 14;
    const BandConfig bands = {variant->id,
                              config->frame_log2,
                              config->equalise_bins,
                              config->frame_count,
                              config->skip_frames,
                              config->output_scale,
                              config->band_edge_count,
                              config->band_edges,
                              variant->flat_half_range(scale_log2)};
    state->statistics = sfp_bands_create(&bands);
    state->frame_count = config->frame_count;
    state->trim_enabled = (config->trim_silence & variant->trim_mask) != 0;
    state->gate = sfp_gate_create(config->gate_window, config->gate_threshold, config->gate_clip);
    state->ring_size = 1u << config->frame_log2;
    state->ring = eng_malloc(sizeof(int32_t) * state->ring_size);
    state->hop = config->hop;
    free_config(config);
    if (!state->resampler || !state->statistics || !state->gate || !state->ring ||
        state->block_align == 0) {
        free_state(state);
        return SFP_E_NO_MEMORY;
    }
    sfp_reset(state);
    *out = state;
    return ENG_OK;
}

ResultCode sfp_destroy(void *state)
{
    if (!state)
        return SFP_E_INVALID_ARG;
    free_state(static_cast<SpectralState *>(state));
    return ENG_OK;
}

ResultCode sfp_reset(SpectralState *state)
{
    if (!state)
        return SFP_E_INVALID_ARG;
    sfp_resampler_reset(state->resampler);
    sfp_bands_reset(state->statistics);
    sfp_gate_reset(state->gate);
    state->trimming = state->trim_enabled;
    state->frame_start = 0;
    state->write_pos = 0;
    return ENG_OK;
}

ResultCode sfp_add_audio(void *state, const uint8_t *bytes, uint32_t byte_count, uint8_t *done)
{
    if (!state || !bytes || !done)
        return SFP_E_INVALID_ARG;
    *done = 0;
    const ResultCode result = frame_audio(static_cast<SpectralState *>(state), bytes, byte_count);
    if (result == SFP_S_COMPLETE) {
        *done = 1;
        return ENG_OK;
    }
    return result;
}
