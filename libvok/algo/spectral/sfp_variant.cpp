// The two variants' tables: FileFixed's steps in 32-bit integers, FileFloat's
// in single precision, each gathered from its stage's file.
#include "algo/spectral/sfp_variant.h"

namespace {

// --- FileFixed ----------------------------------------------------------------

const void *fixed_band_edges()
{
    return sfp_band_edges_index();
}

// Rates in Q15; a rate too large for that cannot be in the table (and must
// not wrap around onto one that is).
Resampler *fixed_resampler(uint32_t sample_rate, const SpectralConfig *config)
{
    if (sample_rate > (UINT32_MAX >> 15))
        return nullptr;
    return sfp_resampler_create_fixed(sample_rate << 15, config->analysis_rate_q12 << 3);
}

// A frame that varies by one 16-bit step or less is not equalised: half a
// step on FileFixed's own sample scale.
int32_t fixed_flat_half_range(uint32_t scale_log2)
{
    return int32_t{1} << ((scale_log2 - 1) & 31u);
}

void fixed_resample(Resampler *r, const void *input, uint32_t count, void *output, uint32_t room,
                    uint32_t *used, uint32_t *made)
{
    sfp_resampler_process_fixed(r, static_cast<const int32_t *>(input), count,
                                static_cast<int32_t *>(output), room, used, made);
}

uint32_t fixed_gate_feed(SilenceGate *gate, const void *samples, uint32_t count,
                         uint32_t scale_log2)
{
    return sfp_gate_feed_fixed(gate, static_cast<const int32_t *>(samples), count, scale_log2);
}

// The plan is constant data shared by every state.
const CosineTransform *fixed_transform(uint32_t log2_size, CosineTransform **)
{
    return sfp_dct_fixed_plan(log2_size);
}

const SpectralVariant kFixed = {
    SFP_VARIANT_FIXED,
    fixed_band_edges,
    sizeof(uint32_t),
    1, // one histogram entry more than the bins (see sfp_equalise_fixed)
    0xFFu,
    fixed_resampler,
    fixed_flat_half_range,
    sfp_convert_fixed,
    fixed_resample,
    fixed_gate_feed,
    fixed_transform,
    sfp_band_range_fixed,
    sfp_bands_analyse_fixed,
    sfp_compute_result_fixed,
};

// --- FileFloat ----------------------------------------------------------------

const void *float_band_edges()
{
    return sfp_band_edges_hz();
}

Resampler *float_resampler(uint32_t sample_rate, const SpectralConfig *config)
{
    return sfp_resampler_create_float(static_cast<float>(sample_rate), config->analysis_rate_float);
}

// Every frame is equalised.
int32_t float_flat_half_range(uint32_t)
{
    return 0;
}

void float_resample(Resampler *r, const void *input, uint32_t count, void *output, uint32_t room,
                    uint32_t *used, uint32_t *made)
{
    sfp_resampler_process_float(r, static_cast<const float *>(input), count,
                                static_cast<float *>(output), room, used, made);
}

uint32_t float_gate_feed(SilenceGate *gate, const void *samples, uint32_t count, uint32_t)
{
    return sfp_gate_feed_float(gate, static_cast<const float *>(samples), count);
}

// Each state owns its plan.
const CosineTransform *float_transform(uint32_t log2_size, CosineTransform **owned)
{
    *owned = sfp_dct_create_float(log2_size);
    return *owned;
}

const SpectralVariant kFloat = {
    SFP_VARIANT_FLOAT,
    float_band_edges,
    sizeof(float),
    0,
    0xFFFFFFFFu,
    float_resampler,
    float_flat_half_range,
    sfp_convert_float,
    float_resample,
    float_gate_feed,
    float_transform,
    sfp_band_range_float,
    sfp_bands_analyse_float,
    sfp_compute_result_float,
};

} // namespace

const SpectralVariant *sfp_variant(uint32_t algorithm_id)
{
    switch (algorithm_id) {
    case SFP_VARIANT_FIXED:
        return &kFixed;
    case SFP_VARIANT_FLOAT:
        return &kFloat;
    default:
        return nullptr;
    }
}
