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
    static V gather(const int32_t *base, V index)
    {
        return (V)_mm256_i32gather_epi32(base, (__m256i)index, 4);
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
    analyse_batch(state, base, starts, index_mask, count, fingerprints, masks);
}
