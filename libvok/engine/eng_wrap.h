/*
 * The engine's 32-bit arithmetic, written once for every family.
 *
 * Sums, differences, products and left shifts wrap around modulo 2^32:
 * they are done on unsigned values, so no step relies on signed overflow
 * or on shifting a negative value left. Right shifts of signed values are
 * arithmetic (sign-filling), and every shift count is taken modulo the
 * width. Turning a 32-bit pattern back into a signed value is modular on
 * the compilers this engine is built with.
 */
#ifndef VOK_ENGINE_ENG_WRAP_H
#define VOK_ENGINE_ENG_WRAP_H

#include <vok/eng_types.h>

ENG_BEGIN_DECLS

static inline int32_t eng_wrap_add(int32_t a, int32_t b)
{
    return (int32_t)((uint32_t)a + (uint32_t)b);
}

static inline int32_t eng_wrap_sub(int32_t a, int32_t b)
{
    return (int32_t)((uint32_t)a - (uint32_t)b);
}

static inline int32_t eng_wrap_mul(int32_t a, int32_t b)
{
    return (int32_t)((uint32_t)a * (uint32_t)b);
}

/* v << count modulo 2^32, also for negative v. */
static inline int32_t eng_wrap_shl(int32_t v, uint32_t count)
{
    return (int32_t)((uint32_t)v << (count & 31u));
}

/* Arithmetic right shift: rounds toward minus infinity. */
static inline int32_t eng_asr(int32_t v, uint32_t count)
{
    return v >> (count & 31u);
}

/* The low 32 bits of a 64-bit value, read as signed. */
static inline int32_t eng_low32(int64_t v)
{
    return (int32_t)(uint32_t)(uint64_t)v;
}

/* |v| as an unsigned value: |-2^31| is 2^31. */
static inline uint32_t eng_magnitude(int32_t v)
{
    return v < 0 ? 0u - (uint32_t)v : (uint32_t)v;
}

ENG_END_DECLS

#endif /* VOK_ENGINE_ENG_WRAP_H */
