// Input conversion: interleaved bytes of any sample type to mono samples
// (two channels are added, not halved), then through the resampler into the
// framing ring.
#include "algo/spectral/sfp_fixed_math.h"
#include "algo/spectral/sfp_variant.h"
#include "engine/eng_bytes.h"
#include "engine/eng_g711.h"

namespace {

// The mono value of frame i in FileFloat units (16-bit scale) and the shift
// that puts it on FileFixed's scale (x 2^14): the 8-bit linear type is
// centred and shifted by 8 for FileFloat, by 22 for FileFixed.
template <class Store>
void convert(const SpectralState *state, const uint8_t *bytes, uint32_t frames, Store store)
{
    const bool stereo = state->channels == 2;
    switch (state->sample_type) {
    case SAMPLE_PCM_S16:
        for (uint32_t i = 0; i < frames; ++i) {
            const uint8_t *frame = bytes + i * state->block_align;
            store(i, stereo ? eng_le_s16(frame) + eng_le_s16(frame + 2) : eng_le_s16(frame), 14u);
        }
        break;
    case SAMPLE_PCM_U8:
        for (uint32_t i = 0; i < frames; ++i) {
            const uint8_t *frame = bytes + i * state->block_align;
            const int32_t centred = stereo ? frame[0] + frame[1] - 256 : frame[0] - 128;
            store(i, centred, 22u);
        }
        break;
    case SAMPLE_ALAW:
    case SAMPLE_MULAW: {
        const int16_t *table =
            state->sample_type == SAMPLE_ALAW ? eng_alaw_table() : eng_mulaw_table();
        for (uint32_t i = 0; i < frames; ++i) {
            const uint8_t *frame = bytes + i * state->block_align;
            store(i, stereo ? table[frame[0]] + table[frame[1]] : table[frame[0]], 14u);
        }
        break;
    }
    default:
        break;
    }
}

} // namespace

void sfp_convert_fixed(SpectralState *state, const uint8_t *bytes, uint32_t frames)
{
    int32_t *out = state->scratch.q;
    convert(state, bytes, frames, [out](uint32_t i, int32_t value, uint32_t shift) {
        out[i] = eng_wrap_shl(value, shift);
    });
}

void sfp_convert_float(SpectralState *state, const uint8_t *bytes, uint32_t frames)
{
    float *out = state->scratch.f;
    // FileFloat keeps the 16-bit scale: 8-bit linear values move up by 8.
    convert(state, bytes, frames, [out](uint32_t i, int32_t value, uint32_t shift) {
        out[i] = static_cast<float>(shift == 22u ? value * 256 : value);
    });
}

uint32_t sfp_convert(SpectralState *state, const uint8_t *bytes, uint32_t byte_count)
{
    if (!state || !bytes || state->block_align == 0 || state->sample_type < SAMPLE_PCM_U8 ||
        state->sample_type > SAMPLE_MULAW)
        return 0;
    uint32_t frames = byte_count / state->block_align;
    if (frames > SFP_SCRATCH_FRAMES)
        frames = SFP_SCRATCH_FRAMES;
    state->variant->convert(state, bytes, frames);
    return frames;
}

ResultCode sfp_resample_chunk(SpectralState *state, const uint8_t *bytes, uint32_t byte_count,
                              void *destination, uint32_t room, uint32_t *bytes_used,
                              uint32_t *samples_produced)
{
    if (!state || !bytes || !destination || !bytes_used || !samples_produced)
        return SFP_E_INVALID_ARG;
    const uint32_t align = state->block_align;
    uint64_t limit = uint64_t{sfp_resampler_input_for(state->resampler, room)} * align;
    if (limit > byte_count)
        limit = byte_count;
    uint32_t used = 0;
    uint32_t produced = 0;
    uint32_t offset = 0;
    const auto *scratch = reinterpret_cast<const uint8_t *>(&state->scratch);
    auto *out = static_cast<uint8_t *>(destination);
    while (offset < limit) {
        const uint32_t frames =
            sfp_convert(state, bytes + offset, static_cast<uint32_t>(limit) - offset);
        if (frames == 0)
            break;
        uint32_t fed = 0;
        for (;;) {
            uint32_t taken = 0;
            uint32_t made = 0;
            // Samples of either variant are 4 bytes wide.
            state->variant->resample(state->resampler, scratch + 4 * fed, frames - fed,
                                     out + 4 * produced, room - produced, &taken, &made);
            fed += taken;
            used += taken * align;
            produced += made;
            if (taken == 0 && made == 0)
                break;
        }
        offset += frames * align;
        // The resampler left input over: the destination is full, and the
        // rest of the run would find no room either.
        if (fed < frames)
            break;
    }
    *bytes_used = used;
    *samples_produced = produced;
    return ENG_OK;
}
