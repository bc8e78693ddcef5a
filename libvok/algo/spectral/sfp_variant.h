/*
 * What makes FileFixed and FileFloat differ, chosen once when a state is
 * created: every step over samples or measurements in the variant's own
 * arithmetic, and the constants that go with it. The state and its band
 * statistics hold their variant and call through it, so that the framing,
 * the statistics and the serialisation read straight through for both,
 * and each variant's steps stay in their stage's file as a _fixed and a
 * _float function (sfp_variant.cpp wires them).
 */
#ifndef VOK_ALGO_SPECTRAL_SFP_VARIANT_H
#define VOK_ALGO_SPECTRAL_SFP_VARIANT_H

#include "algo/spectral/sfp_internal.h"

ENG_BEGIN_DECLS

/* Samples of either variant are 4 bytes wide (int32_t or float), so a run of
 * them is passed as an untyped pointer and counted in samples. */
struct SpectralVariant {
    uint32_t id; /* SFP_VARIANT_FIXED or SFP_VARIANT_FLOAT */

    /* The 30 band edges: transform indices (FileFixed) or Hz (FileFloat),
     * edge_size bytes each. */
    const void *(*band_edges)(void);
    uint32_t edge_size;
    /* Entries the equalisation histogram keeps beyond its bins. */
    uint32_t histogram_extra;
    /* The bits of the configuration's trim flag that switch trimming on:
     * FileFixed reads its low byte, FileFloat the whole word. */
    uint32_t trim_mask;

    /* The resampler from the input rate to the analysis rate of the
     * configuration; null when the rate cannot be resampled. */
    Resampler *(*create_resampler)(uint32_t sample_rate, const SpectralConfig *config);
    /* Frames of no more than this half-range are copied, not equalised. */
    int32_t (*flat_half_range)(uint32_t scale_log2);
    /* frames interleaved input frames into the state's scratch, as mono
     * samples on the variant's scale. */
    void (*convert)(SpectralState *state, const uint8_t *bytes, uint32_t frames);
    /* The resampler's process step (see sfp_resampler_process_*). */
    void (*resample)(Resampler *resampler, const void *input, uint32_t count, void *output,
                     uint32_t room, uint32_t *used, uint32_t *made);
    /* The leading samples of a run that are still silence (sfp_gate_feed_*). */
    uint32_t (*gate_feed)(SilenceGate *gate, const void *samples, uint32_t count,
                          uint32_t scale_log2);

    /* The frame transform; a plan the statistics own goes to *owned. */
    const CosineTransform *(*transform)(uint32_t log2_size, CosineTransform **owned);
    /* The inclusive coefficient range of band `band`; 0 when it is empty or
     * reaches beyond the frame. */
    uint8_t (*band_range)(const BandStatistics *statistics, uint32_t band, uint32_t *low,
                          uint32_t *high);
    /* One frame given as two pieces: its steadiness measure, then the
     * equalisation, the transform and the band measurement into frame. */
    void (*analyse_frame)(BandStatistics *statistics, const void *first, uint32_t first_count,
                          const void *second, uint32_t second_count, BandFrame *frame);
    /* The 30 values from the frames held into the statistics' result; 0
     * when they cannot be computed. */
    uint8_t (*compute_result)(BandStatistics *statistics);
};

/* The variant of algorithm id 1 (FileFixed) or 2 (FileFloat); null for any
 * other id. */
const SpectralVariant *sfp_variant(uint32_t algorithm_id);

ENG_END_DECLS

#endif /* VOK_ALGO_SPECTRAL_SFP_VARIANT_H */
