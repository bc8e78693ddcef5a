// The streaming fingerprint's lane path for AVX2: 8 frames at a time.
// Built with -mavx2 and run only where the processor has it
// (strm_lanes.cpp decides).
#include <immintrin.h>

#include "algo/stream/strm_lanes.h"

namespace {

struct Lanes {
    static constexpr int32_t kCount = 8;
    typedef int32_t V __attribute__((vector_size(32)));
    typedef uint32_t U __attribute__((vector_size(32)));
    // The lanes added (wrapping: the instructions add modulo 2^32).
    static int32_t sum(V v)
    {
        const __m128i half = _mm_add_epi32(_mm256_castsi256_si128((__m256i)v),
                                           _mm256_extracti128_si256((__m256i)v, 1));
        const __m128i pair = _mm_add_epi32(half, _mm_shuffle_epi32(half, 0x4E));
        return _mm_cvtsi128_si32(_mm_add_epi32(pair, _mm_shuffle_epi32(pair, 0xB1)));
    }
    // c + a.lo b.lo + a.hi b.hi per lane, signed 16-bit halves.
    static V madd_add(V c, V a, V b)
    {
        return (V)_mm256_add_epi32((__m256i)c, _mm256_madd_epi16((__m256i)a, (__m256i)b));
    }
    // rows[m] = {from[0][m], ..., from[7][m]} for m = 0 ... 7.
    static void transpose(const int32_t *const *from, V *rows)
    {
        __m256i r[8], t[8], u[8];
        for (int32_t l = 0; l < 8; ++l)
            r[l] = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(from[l]));
        for (int32_t l = 0; l < 8; l += 2) {
            t[l] = _mm256_unpacklo_epi32(r[l], r[l + 1]);
            t[l + 1] = _mm256_unpackhi_epi32(r[l], r[l + 1]);
        }
        for (int32_t g = 0; g < 8; g += 4) {
            u[g] = _mm256_unpacklo_epi64(t[g], t[g + 2]);
            u[g + 1] = _mm256_unpackhi_epi64(t[g], t[g + 2]);
            u[g + 2] = _mm256_unpacklo_epi64(t[g + 1], t[g + 3]);
            u[g + 3] = _mm256_unpackhi_epi64(t[g + 1], t[g + 3]);
        }
        // u[m] holds samples m (low half) and m + 4 (high half) of frames
        // 0 ... 3, u[4 + m] the same of frames 4 ... 7.
        for (int32_t m = 0; m < 4; ++m) {
            rows[m] = (V)_mm256_permute2x128_si256(u[m], u[4 + m], 0x20);
            rows[m + 4] = (V)_mm256_permute2x128_si256(u[m], u[4 + m], 0x31);
        }
    }
};

} // namespace

#include "algo/stream/strm_lanes_kernel.h"

void strm_feed_avx2(StreamState *state, const uint8_t *bytes, uint32_t frames)
{
    feed(state, bytes, frames);
}

void strm_batch_avx2(StreamState *state, const int32_t *base, const int32_t *starts,
                     uint32_t index_mask, int32_t count, uint32_t *fingerprints, uint32_t *masks)
{
    analyse_batch(state, base, starts, index_mask, nullptr, count, fingerprints, masks);
}
