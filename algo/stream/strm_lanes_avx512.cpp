// The streaming fingerprint's lane path for AVX-512: 16 frames at a time.
// Built with -mavx512f (and the BW, DQ, VL extensions) and run only where
// the processor has them (strm_lanes.cpp decides).
#include <immintrin.h>

#include "algo/stream/strm_lanes.h"

namespace {

struct Lanes {
    static constexpr int32_t kCount = 16;
    typedef int32_t V __attribute__((vector_size(64)));
    typedef uint32_t U __attribute__((vector_size(64)));
    static V gather(const int32_t *base, V index)
    {
        // The masked form, from zeros: the plain one reads an
        // uninitialised source as far as GCC 12 can tell.
        return (V)_mm512_mask_i32gather_epi32(_mm512_setzero_si512(), 0xFFFF, (__m512i)index,
                                              base, 4);
    }
};

} // namespace

#include "algo/stream/strm_lanes_kernel.h"

void strm_feed_avx512(StreamState *state, const uint8_t *bytes, uint32_t frames)
{
    feed(state, bytes, frames);
}

void strm_batch_avx512(StreamState *state, const int32_t *base, const int32_t *starts,
                       uint32_t index_mask, int32_t count, uint32_t *fingerprints,
                       uint32_t *masks)
{
    analyse_batch(state, base, starts, index_mask, count, fingerprints, masks);
}
