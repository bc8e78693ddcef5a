/*
 * Band statistics of the spectral fingerprint: each analysis frame (32768
 * samples at 11025 Hz) is equalised and transformed, the energy of 15
 * frequency bands is measured and kept frame by frame, and once the
 * configured number of frames is held they become the fingerprint: per band
 * the share of the overall level, then the share of the level's variation
 * over time, 30 signed 16-bit values on a scale of 32768.
 *
 * FileFloat measures in single precision with band edges in Hz; FileFixed
 * in 32-bit integers with band edges as transform indices and a weight of
 * about 2^40 / width per band.
 *
 * Implemented in sfp_bands.cpp (the table, the statistics' life, framing
 * and measurement), sfp_steady.cpp (steadiness) and sfp_result.cpp (the
 * 30 values).
 */
#ifndef VOK_ALGO_SPECTRAL_SFP_BANDS_H
#define VOK_ALGO_SPECTRAL_SFP_BANDS_H

#include "algo/spectral/sfp_dct.h"
#include "algo/spectral/sfp_types.h"

ENG_BEGIN_DECLS

/* The configured band table: 30 edges, 15 (low, high) pairs. */
#define SFP_BAND_EDGES 30u

/* FileFloat's band edges in Hz and FileFixed's as transform indices. */
const float *sfp_band_edges_hz(void);
const uint32_t *sfp_band_edges_index(void);
/* FileFixed's per-band weight, about 2^40 / (high - low + 1). */
const int32_t *sfp_band_weights(void);

/* The measurements of one frame. */
typedef struct BandFrame {
    union {
        float f[SFP_MAX_BANDS];   /* FileFloat */
        int32_t q[SFP_MAX_BANDS]; /* FileFixed */
    } energy, rms;
    union {
        float f;    /* FileFloat */
        uint32_t q; /* FileFixed: Q28 */
    } frequency;    /* mean-square frequency of the frame, see sfp_steady.cpp */
    struct BandFrame *next;
} BandFrame;

/* What the statistics are built from (a part of SpectralConfig). */
typedef struct BandConfig {
    uint32_t variant; /* algorithm id: SFP_VARIANT_FIXED or SFP_VARIANT_FLOAT */
    uint32_t frame_log2;
    uint32_t equalise_bins;
    uint32_t frame_count;
    uint32_t skip_frames;
    int32_t output_scale;
    uint32_t edge_count;
    const void *edges;       /* float Hz (FileFloat) or uint32_t indices (FileFixed) */
    int32_t flat_half_range; /* FileFixed: frames of no more half-range are
                                not equalised (see sfp_equalise_fixed) */
} BandConfig;

typedef struct BandStatistics {
    const SpectralVariant *variant;
    uint32_t skip_frames;
    uint32_t frame_limit; /* 0: never complete */
    int32_t output_scale;
    uint32_t skip_left;
    uint32_t frames;
    BandFrame *first;
    BandFrame **last_link; /* where the next frame is linked */
    uint32_t frame_size;
    void *frame; /* float or int32_t work buffer of frame_size */
    const CosineTransform *transform;
    CosineTransform *owned_transform; /* FileFloat */
    float step;                       /* FileFloat: Hz per coefficient */
    uint32_t edge_count;
    void *edges; /* copy of the configured edges */
    uint32_t bands;
    uint32_t low[SFP_MAX_BANDS]; /* inclusive coefficient range per band */
    uint32_t high[SFP_MAX_BANDS];
    uint32_t equalise_bins;
    int32_t flat_half_range;
    uint32_t *histogram;
    int16_t *result; /* 2 x bands values */
    uint8_t result_ready;
} BandStatistics;

/* Null when a buffer, the edge copy or the transform plan cannot be had, or
 * the configuration is out of range (more than SFP_MAX_BANDS bands, a band
 * beyond the frame, FileFixed with another frame size than 2^15). */
BandStatistics *sfp_bands_create(const BandConfig *config);
void sfp_bands_destroy(BandStatistics **statistics);
/* Frees every frame, reloads the skip counter, forgets the result. */
void sfp_bands_reset(BandStatistics *statistics);
/* One frame given as two consecutive pieces of samples of the variant. */
void sfp_bands_add_frame(BandStatistics *statistics, const void *first, uint32_t first_count,
                         const void *second, uint32_t second_count);
/* A limit is set and reached. */
uint8_t sfp_bands_is_complete(const BandStatistics *statistics);

/* Bytes of the result: 2 x bands values of 2 bytes. */
uint32_t sfp_result_size(const BandStatistics *statistics);
/* Computes the result if needed and copies it: the bytes copied, 0 when the
 * room is too small or the result cannot be computed (too few frames, a
 * steady sound, or a sum of levels or of spreads that is zero). */
uint32_t sfp_get_result(BandStatistics *statistics, void *destination, uint32_t room);

/* --- Steadiness (sfp_steady.cpp) ---------------------------------------- */

/* Frames whose mean-square frequencies vary by at most 2^-SFP_STEADY_LOG2
 * of their mean hold a steady sound, which has no fingerprint. */
#define SFP_STEADY_LOG2 11u

/* The mean-square frequency of a frame given as two pieces (before it is
 * equalised): sum w (x[n+1] - x[n])^2 / sum w x[n]^2 with triangular
 * weights, 0 for a silent frame. FileFloat in rad^2 per sample^2, FileFixed
 * the same in Q28. */
float sfp_frame_frequency_float(const void *first, uint32_t first_count, const void *second,
                                uint32_t second_count, uint32_t size);
uint32_t sfp_frame_frequency_fixed(const void *first, uint32_t first_count, const void *second,
                                   uint32_t second_count, uint32_t size);
/* 1 when the frames held (FileFixed: at most 15) are steady, or fewer than
 * two, in each arithmetic. */
uint8_t sfp_frames_steady_float(const BandStatistics *statistics);
uint8_t sfp_frames_steady_fixed(const BandStatistics *statistics);

/* --- Each variant's steps (wired by sfp_variant.cpp) ---------------------- */

/* The inclusive coefficient range of a band from the variant's edges; 0 for
 * a band that is empty or reaches beyond the frame. */
uint8_t sfp_band_range_float(const BandStatistics *statistics, uint32_t band, uint32_t *low,
                             uint32_t *high);
uint8_t sfp_band_range_fixed(const BandStatistics *statistics, uint32_t band, uint32_t *low,
                             uint32_t *high);
/* A frame's steadiness measure, equalisation, transform and band
 * measurement. */
void sfp_bands_analyse_float(BandStatistics *statistics, const void *first, uint32_t first_count,
                             const void *second, uint32_t second_count, BandFrame *frame);
void sfp_bands_analyse_fixed(BandStatistics *statistics, const void *first, uint32_t first_count,
                             const void *second, uint32_t second_count, BandFrame *frame);
/* The two measurements of a transformed frame. */
void sfp_bands_measure_float(const BandStatistics *statistics, const float *coefficients,
                             BandFrame *frame);
void sfp_bands_measure_fixed(const BandStatistics *statistics, const int32_t *coefficients,
                             BandFrame *frame);
/* The 30 values from the frames held (sfp_result.cpp); 0 when they cannot
 * be computed. */
uint8_t sfp_compute_result_float(BandStatistics *statistics);
uint8_t sfp_compute_result_fixed(BandStatistics *statistics);

ENG_END_DECLS

#endif /* VOK_ALGO_SPECTRAL_SFP_BANDS_H */
