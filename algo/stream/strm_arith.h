/*
 * The streaming fingerprint's 32-bit arithmetic, written once.
 *
 * Its sums, differences and products are 32-bit and wrap around; its right
 * shifts are arithmetic. These helpers do exactly that on unsigned types so
 * that no step relies on signed overflow or on shifting a negative value
 * left. Internal to the family (C++ only).
 */
#ifndef VOK_ALGO_STREAM_STRM_ARITH_H
#define VOK_ALGO_STREAM_STRM_ARITH_H

#include <cstdint>

// Hot loops of the analysis are also built for AVX2 on x86-64 with GCC;
// the best version is picked when the program starts. Not under
// ThreadSanitizer, whose runtime is not up yet when the choice is made.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__linux__) && \
    !defined(__SANITIZE_THREAD__)
#define STRM_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define STRM_VECTOR_CLONES
#endif

namespace strm_arith {

// Two's complement reinterpretation of a 32-bit pattern (the conversion
// is modular on the compilers this engine is built with).
inline int32_t from_bits(uint32_t bits)
{
    return static_cast<int32_t>(bits);
}

inline int32_t wadd(int32_t a, int32_t b)
{
    return from_bits(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

inline int32_t wsub(int32_t a, int32_t b)
{
    return from_bits(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

inline int32_t wmul(int32_t a, int32_t b)
{
    return from_bits(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

// Left shift of the bit pattern; count 0 to 31.
inline int32_t shl(int32_t v, int32_t count)
{
    return from_bits(static_cast<uint32_t>(v) << count);
}

// Arithmetic right shift (sign-filling); count 0 to 31. The compilers this
// engine is built with shift signed values arithmetically.
inline int32_t asr(int32_t v, int32_t count)
{
    return v >> count;
}

inline int64_t asr64(int64_t v, int32_t count)
{
    return v >> count;
}

// Low 32 bits of a 64-bit value as a signed 32-bit value.
inline int32_t wrap64(int64_t v)
{
    return from_bits(static_cast<uint32_t>(static_cast<uint64_t>(v)));
}

// Magnitude as an unsigned value: |-2^31| is 2^31.
inline uint32_t magnitude(int32_t v)
{
    return v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
}

} // namespace strm_arith

#endif /* VOK_ALGO_STREAM_STRM_ARITH_H */
