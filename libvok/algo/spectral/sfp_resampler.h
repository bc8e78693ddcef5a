/*
 * Rational polyphase resampler of the spectral fingerprint: changes the rate
 * of the mono input to the analysis rate by the factor L/M (interpolate by
 * L, low-pass, decimate by M), computing only the taps of one phase per
 * output.
 *
 * Stream semantics (both variants): the stream s is Z zeros followed by the
 * input. Output n uses the K newest stream samples ending at position p_n:
 * with e = phase + M the phase becomes e mod L, y_n = sum over j < K of
 * h[phase + jL] x s[p_n - j], and then p advances by e / L; p_0 = K - 1.
 * Any split of the input gives the same outputs.
 *
 * FileFloat finds L/M by a continued fraction and designs a Hamming-windowed
 * sinc, or uses one of two stored filters for 1/4 and 1/2. FileFixed knows a
 * fixed set of input rates, each with Q31 coefficients kept as a signed high
 * and an unsigned low 16-bit half, built once on first use.
 */
#ifndef VOK_ALGO_SPECTRAL_SFP_RESAMPLER_H
#define VOK_ALGO_SPECTRAL_SFP_RESAMPLER_H

#include "algo/spectral/sfp_types.h"

ENG_BEGIN_DECLS

/* The layout of a designed filter of factor L/M. */
typedef struct SfpFilterShape {
    uint32_t up;         /* L */
    uint32_t down;       /* M */
    uint32_t half_width; /* m = max(L, M): the cut-off is pi / m */
    uint32_t taps;       /* b = 20m + 1 non-zero taps */
    uint32_t leading;    /* z zeros ahead of the taps */
    uint32_t length;     /* T, a multiple of L */
    uint32_t per_phase;  /* K = T / L */
    float gain;          /* L / M, the centre tap */
} SfpFilterShape;

/* One row of FileFixed's rate table. */
typedef struct RateTableRow {
    uint32_t input_rate;
    uint32_t output_rate;
    uint32_t up;
    uint32_t down;
    uint32_t length;
    const int16_t *coefficients_high; /* polyphase layout, see Resampler */
    const uint16_t *coefficients_low;
} RateTableRow;

/* FileFixed's stored filters as symmetric pairs: the two samples that share
 * a coefficient are added before the multiplication, and zero taps are
 * left out. */
typedef struct SfpSymmetricFilter {
    uint32_t centre; /* index of the centre tap */
    int16_t centre_high;
    uint16_t centre_low;
    uint32_t pairs;      /* non-zero pairs */
    uint32_t offset[40]; /* distance of each pair from the centre */
    int16_t high[40];
    uint16_t low[40];
} SfpSymmetricFilter;

typedef struct Resampler {
    uint32_t up;     /* L */
    uint32_t down;   /* M */
    uint32_t taps;   /* K, taps per phase */
    uint32_t length; /* K x L coefficients; 0 for the pass-through */
    /* Coefficients in polyphase layout: entry phase x K + i holds
     * h[phase + (K - 1 - i) L], so that a phase's taps meet the window
     * oldest sample first. */
    const float *coefficients;           /* FileFloat */
    float *owned_coefficients;           /* FileFloat, when designed */
    const int16_t *coefficients_high;    /* FileFixed */
    const uint16_t *coefficients_low;    /* FileFixed */
    const SfpSymmetricFilter *symmetric; /* FileFixed stored filters */
    uint32_t phase;
    /* The history: the stream samples that coming outputs still need (at
     * most K - 1 between calls), followed by room for the input of a call. */
    void *history;
    uint32_t history_capacity;
    uint32_t history_count;
    uint32_t history_zeros; /* Z, the zeros that a reset puts first */
    uint32_t next_end;      /* history index of the next output's newest sample */
    uint32_t skip;          /* coming input samples that no output needs */
    uint32_t exact_left;    /* FileFixed stored filters: outputs that still
                               reach into the reset zeros */
    uint32_t scale_log2;    /* FileFixed: outputs are about 2^scale_log2 times
                               the FileFloat ones (14, or 13 for 44100, 22050
                               and 8000 Hz); 0 in FileFloat */
} Resampler;

/* FileFloat's choice of L/M for output/input (nearest-integer continued
 * fraction within a relative tolerance of 1e-6). 0 when both rates are not
 * positive or the fraction is out of range. */
uint8_t sfp_choose_factors(double input_rate, double output_rate, uint32_t *up, uint32_t *down);

/* The designed filter's layout; 0 when L or M is 0 or the table would exceed
 * 2^24 coefficients. */
uint8_t sfp_filter_shape(uint32_t up, uint32_t down, SfpFilterShape *shape);
/* Coefficient i (natural order, 0 to length - 1) of the design. */
float sfp_filter_tap(const SfpFilterShape *shape, uint32_t index);

/* The stored filters in natural order: 84 and 42 coefficients. */
const float *sfp_quarter_band_filter(void);
const float *sfp_half_band_filter(void);

/* The stored filters in the polyphase layout of a Resampler (L = 1), for
 * M = 4 and M = 2; null for any other M. */
const float *sfp_stored_filter_layout(uint32_t down);
/* FileFixed's stored filters as symmetric pairs, for M = 4 and M = 2. */
const SfpSymmetricFilter *sfp_fixed_symmetric_filter(uint32_t down);

/* FileFixed's rate table (8 rows, row 0 the pass-through). */
uint32_t sfp_fixed_rate_count(void);
const RateTableRow *sfp_fixed_rate_row(uint32_t index);

/* Rates as floats; null when no factor can be found or memory fails. */
Resampler *sfp_resampler_create_float(float input_rate, float output_rate);
/* Rates in Q15; null for a pair the rate table does not hold (equal rates
 * pass through). */
Resampler *sfp_resampler_create_fixed(uint32_t input_rate_q15, uint32_t output_rate_q15);
void sfp_resampler_destroy(Resampler **resampler);
/* Phase 0 and the history back to Z zeros. */
void sfp_resampler_reset(Resampler *resampler);

/* ceil(n x M / L): the input samples that yield at most n outputs
 * (saturates at UINT32_MAX). */
uint32_t sfp_resampler_input_for(const Resampler *resampler, uint32_t n);

/* Runs the stream on: takes up to count input samples, writes up to room
 * outputs, reports how many of each. Input beyond the newest sample of an
 * output that found no room is not used; so when L > M a call can make
 * outputs and use no input at all (the sample is still needed). */
void sfp_resampler_process_float(Resampler *resampler, const float *input, uint32_t count,
                                 float *output, uint32_t room, uint32_t *used, uint32_t *made);
void sfp_resampler_process_fixed(Resampler *resampler, const int32_t *input, uint32_t count,
                                 int32_t *output, uint32_t room, uint32_t *used, uint32_t *made);

/* FileFixed's coefficient h[index] in natural order, in Q31 (0 beyond the
 * table). */
int32_t sfp_resampler_coefficient_fixed(const Resampler *resampler, uint32_t index);

ENG_END_DECLS

#endif /* VOK_ALGO_SPECTRAL_SFP_RESAMPLER_H */
