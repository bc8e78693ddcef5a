// The streaming fingerprint's lane path for AVX-512: 16 frames at a time.
// Built with -mavx512f and the BW, DQ, VL and VNNI extensions, and run only
// where the processor has them all (strm_lanes.cpp decides).
#include <immintrin.h>

#include "algo/stream/strm_lanes.h"

namespace {

struct Lanes {
    static constexpr int32_t kCount = 16;
    typedef int32_t V __attribute__((vector_size(64)));
    typedef uint32_t U __attribute__((vector_size(64)));
    // The lanes added (wrapping: the instructions add modulo 2^32).
    static int32_t sum(V v)
    {
        typedef uint32_t U8 __attribute__((vector_size(32)));
        typedef uint32_t U4 __attribute__((vector_size(16)));
        const U u = (U)v;
        const U8 eight = __builtin_shufflevector(u, u, 0, 1, 2, 3, 4, 5, 6, 7) +
                         __builtin_shufflevector(u, u, 8, 9, 10, 11, 12, 13, 14, 15);
        const U4 four = __builtin_shufflevector(eight, eight, 0, 1, 2, 3) +
                        __builtin_shufflevector(eight, eight, 4, 5, 6, 7);
        return static_cast<int32_t>(four[0] + four[1] + four[2] + four[3]);
    }
    // c + a.lo b.lo + a.hi b.hi per lane, signed 16-bit halves, in one
    // instruction (VNNI; it wraps, it does not saturate).
    static V madd_add(V c, V a, V b)
    {
        return (V)_mm512_dpwssd_epi32((__m512i)c, (__m512i)a, (__m512i)b);
    }
    // rows[m] = {from[0][m], ..., from[15][m]} for m = 0 ... 15, in four
    // rounds of interleaving (vector shuffles: the intrinsics of this
    // compiler generation trip its uninitialised-value warnings).
    static void transpose(const int32_t *const *from, V *rows)
    {
        V r[16], t[16];
        for (int32_t l = 0; l < 16; ++l)
            __builtin_memcpy(&r[l], from[l], sizeof(V));
        // Rounds of width 1, 2, 4 and 8: rows w apart exchange runs of w
        // values, so that after the last round row m holds sample m of
        // frames 0 ... 15 in order.
        for (int32_t l = 0; l < 16; l += 2) {
            t[l] = __builtin_shufflevector(r[l], r[l + 1], 0, 16, 2, 18, 4, 20, 6, 22, 8, 24, 10,
                                           26, 12, 28, 14, 30);
            t[l + 1] = __builtin_shufflevector(r[l], r[l + 1], 1, 17, 3, 19, 5, 21, 7, 23, 9, 25,
                                               11, 27, 13, 29, 15, 31);
        }
        for (int32_t g = 0; g < 16; g += 4) {
            for (int32_t h = 0; h < 2; ++h) {
                r[g + h] = __builtin_shufflevector(t[g + h], t[g + h + 2], 0, 1, 16, 17, 4, 5, 20,
                                                   21, 8, 9, 24, 25, 12, 13, 28, 29);
                r[g + h + 2] = __builtin_shufflevector(t[g + h], t[g + h + 2], 2, 3, 18, 19, 6, 7,
                                                       22, 23, 10, 11, 26, 27, 14, 15, 30, 31);
            }
        }
        for (int32_t g = 0; g < 16; g += 8) {
            for (int32_t h = 0; h < 4; ++h) {
                t[g + h] = __builtin_shufflevector(r[g + h], r[g + h + 4], 0, 1, 2, 3, 16, 17, 18,
                                                   19, 8, 9, 10, 11, 24, 25, 26, 27);
                t[g + h + 4] = __builtin_shufflevector(r[g + h], r[g + h + 4], 4, 5, 6, 7, 20, 21,
                                                       22, 23, 12, 13, 14, 15, 28, 29, 30, 31);
            }
        }
        for (int32_t h = 0; h < 8; ++h) {
            rows[h] = __builtin_shufflevector(t[h], t[h + 8], 0, 1, 2, 3, 4, 5, 6, 7, 16, 17, 18,
                                              19, 20, 21, 22, 23);
            rows[h + 8] = __builtin_shufflevector(t[h], t[h + 8], 8, 9, 10, 11, 12, 13, 14, 15, 24,
                                                  25, 26, 27, 28, 29, 30, 31);
        }
    }
};

} // namespace

#include "algo/stream/strm_lanes_kernel.h"

void strm_feed_avx512(StreamState *state, const uint8_t *bytes, uint32_t frames)
{
    feed(state, bytes, frames);
}

void strm_batch_avx512(StreamState *state, const int32_t *base, const int32_t *starts,
                       uint32_t index_mask, int32_t count, uint32_t *fingerprints, uint32_t *masks)
{
    analyse_batch(state, base, starts, index_mask, nullptr, count, fingerprints, masks);
}
