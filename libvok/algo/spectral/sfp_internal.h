/*
 * The spectral fingerprint's inner interface: its state and configuration,
 * the silence gate, input conversion and the serialisation helpers. Used by
 * the family's own files and by its tests; the registry sees only
 * sfp_family.h.
 *
 *   stage                          file                  entry
 *   state, framing                 sfp_state.cpp         sfp_create, sfp_add_audio
 *   variant (FileFixed/FileFloat)  sfp_variant.cpp       sfp_variant
 *   conversion                     sfp_convert.cpp       sfp_convert, sfp_resample_chunk
 *   resampling filters             sfp_filters.cpp       sfp_choose_factors, sfp_filter_shape
 *   resampling                     sfp_resampler.cpp     sfp_resampler_process_*
 *   leading silence                sfp_gate.cpp          sfp_gate_feed_*
 *   equalisation                   sfp_equalise.cpp      sfp_equalise_*
 *   cosine transform               sfp_dct.cpp           sfp_dct_*
 *   band measurement               sfp_bands.cpp         sfp_bands_add_frame
 *   steadiness                     sfp_steady.cpp        sfp_frames_steady_*
 *   the 30 values                  sfp_result.cpp        sfp_get_result
 *   document                       sfp_serialize.cpp     sfp_serialize
 *   fixed-point helpers            sfp_fixed_math.cpp    sfp_mulhi, sfp_isqrt, ...
 */
#ifndef VOK_ALGO_SPECTRAL_SFP_INTERNAL_H
#define VOK_ALGO_SPECTRAL_SFP_INTERNAL_H

#include "algo/spectral/sfp_bands.h"
#include "algo/spectral/sfp_family.h"
#include "algo/spectral/sfp_resampler.h"
#include "algo/spectral/sfp_types.h"

ENG_BEGIN_DECLS

/* Detects the end of leading silence: the mean deviation of the last
 * `window` values from their mean, each deviation clipped. */
typedef struct SilenceGate {
    uint32_t window;
    int32_t threshold;
    int32_t clip;
    uint8_t primed;
    int32_t value_sum;
    int32_t deviation_sum;
    uint32_t pos;        /* index of the oldest entry */
    int32_t *values;     /* last window values */
    int32_t *deviations; /* last window deviations */
} SilenceGate;

/* Built afresh by each creation and freed before it returns. */
typedef struct SpectralConfig {
    uint32_t trim_silence; /* FileFloat: a 32-bit flag, FileFixed: its low byte */
    uint32_t gate_window;
    int32_t gate_threshold;
    int32_t gate_clip;
    uint32_t equalise_bins;
    float analysis_rate_float;  /* FileFloat: 11025.0 */
    uint32_t analysis_rate_q12; /* FileFixed: 11025 in Q12 */
    uint32_t frame_log2;
    uint32_t hop;
    uint32_t band_edge_count;
    void *band_edges; /* owned: Hz (FileFloat) or indices (FileFixed) */
    uint32_t frame_count;
    uint32_t skip_frames;
    int32_t output_scale;
} SpectralConfig;

typedef struct SpectralState {
    const SpectralVariant *variant; /* FileFixed's or FileFloat's steps */
    uint32_t channels;
    uint32_t sample_rate;
    uint32_t sample_type;
    uint32_t block_align; /* bytes per input frame */
    Resampler *resampler;
    BandStatistics *statistics;
    uint32_t frame_count;
    uint8_t trimming; /* leading silence is still being dropped */
    uint8_t trim_enabled;
    SilenceGate *gate;
    union {
        float f[SFP_SCRATCH_FRAMES];
        int32_t q[SFP_SCRATCH_FRAMES];
    } scratch; /* mono samples of one run of input */
    uint32_t ring_size;
    uint32_t frame_start; /* ring position where the next frame begins */
    uint32_t write_pos;   /* ring position of the next resampled sample */
    void *ring;           /* ring_size samples of the variant */
    uint32_t hop;
} SpectralState;

/* Back to the freshly created condition. */
ResultCode sfp_reset(SpectralState *state);

/* --- Conversion and resampling ------------------------------------------- */

/* Converts min(byte_count / block_align, SFP_SCRATCH_FRAMES) frames into the
 * scratch as mono samples; answers that number. */
uint32_t sfp_convert(SpectralState *state, const uint8_t *bytes, uint32_t byte_count);
/* The conversion of each variant (wired by sfp_variant.cpp): FileFixed on
 * its scale of 2^14 x 16-bit samples, FileFloat on the 16-bit scale. */
void sfp_convert_fixed(SpectralState *state, const uint8_t *bytes, uint32_t frames);
void sfp_convert_float(SpectralState *state, const uint8_t *bytes, uint32_t frames);
/* Converts and resamples input into destination (room samples of the
 * variant), reporting the bytes used and the samples produced. */
ResultCode sfp_resample_chunk(SpectralState *state, const uint8_t *bytes, uint32_t byte_count,
                              void *destination, uint32_t room, uint32_t *bytes_used,
                              uint32_t *samples_produced);

/* --- Silence gate ------------------------------------------------------- */

SilenceGate *sfp_gate_create(uint32_t window, int32_t threshold, int32_t clip);
void sfp_gate_destroy(SilenceGate **gate);
void sfp_gate_reset(SilenceGate *gate);
/* The number of leading samples of the run that are still silence: count
 * when the whole run is silent, else the index where sound was found less
 * half the window (0 when that is not positive). FileFloat samples count
 * truncated toward zero; FileFixed samples shifted right by `shift`
 * rounding toward zero, shift being the log2 of their scale against
 * FileFloat (13 or 14), so that both variants judge the same levels. */
uint32_t sfp_gate_feed_float(SilenceGate *gate, const float *samples, uint32_t count);
uint32_t sfp_gate_feed_fixed(SilenceGate *gate, const int32_t *samples, uint32_t count,
                             uint32_t shift);

/* --- Serialisation ------------------------------------------------------ */

/* The fingerprint values while their text is made. */
typedef struct SfpBlockDescriptor {
    int16_t *values; /* owned */
    uint32_t byte_count;
    uint32_t bytes_per_value;
} SfpBlockDescriptor;

/* The values as unsigned 16-bit decimals, each followed by a space, the
 * last by a line feed. The caller frees the text with eng_free. */
ResultCode sfp_format_ascii(const SfpBlockDescriptor *descriptor, char **text);

ENG_END_DECLS

#endif /* VOK_ALGO_SPECTRAL_SFP_INTERNAL_H */
