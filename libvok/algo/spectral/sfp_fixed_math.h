/*
 * Fixed-point operations of the spectral fingerprint's integer variant
 * (FileFixed): high words of exact 64-bit products, leading zeros, a
 * reciprocal by Newton iteration from a 64-entry seed table and an integer
 * square root in Q15. Its 32-bit wrap-around arithmetic is the engine's
 * own (engine/eng_wrap.h).
 */
#ifndef VOK_ALGO_SPECTRAL_SFP_FIXED_MATH_H
#define VOK_ALGO_SPECTRAL_SFP_FIXED_MATH_H

#include "engine/eng_wrap.h"

ENG_BEGIN_DECLS

/* |a| x |b| as an exact 64-bit product, shifted right by 32, with the sign
 * of a x b. Defined for every pair, INT32_MIN included. */
int32_t sfp_mulhi(int32_t a, int32_t b);

/* Upper 32 bits of the unsigned 64-bit product. */
uint32_t sfp_umulhi(uint32_t a, uint32_t b);

/* Zero bits above the highest set bit; 32 for 0. */
uint32_t sfp_leading_zeros(uint32_t a);

/* Seed of the reciprocal: 2^32 x 128 / (129 + 2 x index), index 0 to 63. */
uint32_t sfp_reciprocal_seed(uint32_t index);

/* About 2^63 / a for an argument whose top bit is set: the seed of its
 * bits 25 to 30, refined by three Newton steps. */
uint32_t sfp_reciprocal(uint32_t a);

/* floor(sqrt(a x 2^30)): the square root of a in Q15. */
uint32_t sfp_isqrt(uint32_t a);

ENG_END_DECLS

#endif /* VOK_ALGO_SPECTRAL_SFP_FIXED_MATH_H */
