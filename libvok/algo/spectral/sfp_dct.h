/*
 * The cosine transform of the spectral fingerprint: an in-place,
 * unnormalised DCT-II, X[k] = sum x[m] cos(pi (2m + 1) k / 2N), with X[0]
 * multiplied by 1/sqrt(2), computed by a recursive factorisation that
 * splits each transform into two halves with the factors
 * T[e + i] = 1 / (2 cos(pi (4i + 1) / 4e)).
 *
 * FileFloat builds its table per handle in single precision. FileFixed has
 * one constant plan for 32768 points, whose table holds each level e in
 * Q(31 - log2 e); it is built once, on first use, and never written again,
 * so handles on several threads may share it.
 */
#ifndef VOK_ALGO_SPECTRAL_SFP_DCT_H
#define VOK_ALGO_SPECTRAL_SFP_DCT_H

#include <vok/eng_types.h>

ENG_BEGIN_DECLS

typedef struct CosineTransform {
    uint32_t log2_size;
    uint32_t size;
    const float *table_float;   /* FileFloat: the handle's own table */
    const int32_t *table_fixed; /* FileFixed: the constant table */
} CosineTransform;

/* The only size the integer transform supports: 2^15 points. */
#define SFP_FIXED_DCT_LOG2 15u

/* FileFloat: a plan of 2^log2_size points (log2_size 1 to 24), or null when
 * the size is out of range or the table cannot be allocated. */
CosineTransform *sfp_dct_create_float(uint32_t log2_size);
/* Frees a plan of sfp_dct_create_float and clears the variable. */
void sfp_dct_destroy(CosineTransform **plan);

/* FileFixed: the constant plan for log2_size 15, null for any other size. */
const CosineTransform *sfp_dct_fixed_plan(uint32_t log2_size);

/* In-place transforms of plan->size values. */
void sfp_dct_float(const CosineTransform *plan, float *values);

/* The integer transform keeps one scale for every coefficient: input in
 * Q30 (the equalised frame), output X[k] x 2^15 for the same frame in
 * FileFloat units, that is the input scale divided by 2^15. The division is
 * spread over the first stages (see sfp_dct.cpp). */
void sfp_dct_fixed(const CosineTransform *plan, int32_t *values);

/* The right shifts applied to sums and products in each stage, for tests
 * and for the record; entries beyond the plan's stages are 0. */
uint32_t sfp_dct_fixed_stage_shift(uint32_t stage);

ENG_END_DECLS

#endif /* VOK_ALGO_SPECTRAL_SFP_DCT_H */
