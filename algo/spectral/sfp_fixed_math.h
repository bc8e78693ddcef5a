/*
 * Fixed-point operations of the spectral fingerprint's integer variant
 * (FileFixed): high words of exact 64-bit products, leading zeros, a
 * reciprocal by Newton iteration from a 64-entry seed table and an integer
 * square root in Q15.
 *
 * The small helpers at the top give the 32-bit arithmetic its intended
 * meaning without undefined behaviour: sums, differences and left shifts
 * wrap around modulo 2^32 (they are done on unsigned values), and a right
 * shift of a signed value is arithmetic.
 */
#ifndef VOK_ALGO_SPECTRAL_SFP_FIXED_MATH_H
#define VOK_ALGO_SPECTRAL_SFP_FIXED_MATH_H

#include <vok/eng_types.h>

ENG_BEGIN_DECLS

/* a + b and a - b modulo 2^32. */
static inline int32_t sfp_wrap_add(int32_t a, int32_t b)
{
    return (int32_t)((uint32_t)a + (uint32_t)b);
}
static inline int32_t sfp_wrap_sub(int32_t a, int32_t b)
{
    return (int32_t)((uint32_t)a - (uint32_t)b);
}

/* a << count modulo 2^32 (count 0 to 31), also for negative a. */
static inline int32_t sfp_shl(int32_t a, uint32_t count)
{
    return (int32_t)((uint32_t)a << (count & 31u));
}

/* Arithmetic right shift (rounds toward minus infinity), count 0 to 31. */
static inline int32_t sfp_shr(int32_t a, uint32_t count)
{
    return a >> (count & 31u);
}

/* Low 32 bits of a 64-bit value, read as signed. */
static inline int32_t sfp_low32(int64_t a)
{
    return (int32_t)(uint32_t)(uint64_t)a;
}

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
