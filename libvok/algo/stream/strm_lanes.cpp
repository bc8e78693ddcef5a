// The lane paths of the streaming fingerprint: which one a state takes, its
// buffers, and the entry points that pick the instruction set.
#include "algo/stream/strm_lanes.h"

#include "engine/eng_memory.h"
#include "engine/eng_support.h"

namespace {

// The path chosen with strm_use_path (a test hook); STRM_PATH_BEST: the
// widest available.
StreamPath chosen_path = STRM_PATH_BEST;

// What the processor runs, from its feature flags (read by the runtime's
// start-up code, before any of this runs).
bool cpu_runs(StreamPath path)
{
#if defined(STRM_HAVE_LANES)
    if (path == STRM_PATH_AVX2)
        return __builtin_cpu_supports("avx2");
    if (path == STRM_PATH_AVX512)
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl") &&
               __builtin_cpu_supports("avx512vnni");
#else
    (void)path;
#endif
    return false;
}

StreamPath widest_path()
{
    if (cpu_runs(STRM_PATH_AVX512))
        return STRM_PATH_AVX512;
    if (cpu_runs(STRM_PATH_AVX2))
        return STRM_PATH_AVX2;
    return STRM_PATH_SCALAR;
}

} // namespace

uint8_t strm_path_available(StreamPath path)
{
    if (path == STRM_PATH_BEST || path == STRM_PATH_SCALAR)
        return 1;
    return cpu_runs(path) ? 1 : 0;
}

StreamPath strm_creation_path(void)
{
    if (chosen_path != STRM_PATH_BEST)
        return chosen_path;
    static const StreamPath widest = widest_path();
    return widest;
}

ResultCode strm_use_path(StreamPath path)
{
    if (path != STRM_PATH_BEST && path != STRM_PATH_SCALAR && path != STRM_PATH_AVX2 &&
        path != STRM_PATH_AVX512)
        return STRM_E_INVALID_ARG;
    if (!strm_path_available(path))
        return STRM_E_INVALID_ARG;
    chosen_path = path;
    return ENG_OK;
}

int32_t strm_path_lanes(StreamPath path)
{
    if (path == STRM_PATH_AVX2)
        return 8;
    if (path == STRM_PATH_AVX512)
        return 16;
    return 0;
}

ResultCode strm_lanes_setup(StreamState *state, StreamPath path)
{
    state->path = static_cast<uint8_t>(path);
    state->lanes = strm_path_lanes(path);
    if (state->lanes == 0)
        return ENG_OK;
    // One block: the lane ring (2N values), the twiddles (under 3N), then
    // the two lane buffers of N rows of `lanes` values each, on a 64-byte
    // boundary for whole-vector loads. For N = 4096 and 16 lanes that is
    // 32 kB + 24 kB + 512 kB.
    const size_t n = static_cast<size_t>(state->frame_length);
    const size_t twiddle_count = static_cast<size_t>(state->fft->split_offset) + n / 2;
    const size_t ring_bytes = 2 * n * sizeof(int32_t);
    const size_t twiddle_bytes = twiddle_count * sizeof(int32_t);
    const size_t work_bytes = 2 * n * static_cast<size_t>(state->lanes) * sizeof(int32_t);
    auto *block = static_cast<uint8_t *>(eng_malloc(ring_bytes + twiddle_bytes + work_bytes + 64));
    if (!block)
        return STRM_E_NO_MEMORY;
    state->lane_block = block;
    state->lane_ring = reinterpret_cast<int32_t *>(block);
    state->lane_twiddles = reinterpret_cast<int32_t *>(block + ring_bytes);
    const int32_t *stages = state->fft->stages;
    for (size_t k = 0; k < twiddle_count; ++k)
        state->lane_twiddles[k] = stages[k] & 0xFFFF;
    const uintptr_t work = reinterpret_cast<uintptr_t>(block + ring_bytes + twiddle_bytes);
    state->lane_work = reinterpret_cast<int32_t *>((work + 63) & ~static_cast<uintptr_t>(63));
    strm_lanes_reset(state);
    return ENG_OK;
}

void strm_lanes_reset(StreamState *state)
{
    state->lane_position = 0;
    state->pending = 0;
    state->pending_start = 0;
    state->spread_sum = 0;
    eng_memset(state->hop_spread, 0, sizeof(state->hop_spread));
    if (state->lane_ring)
        eng_memset(state->lane_ring, 0,
                   2 * static_cast<size_t>(state->frame_length) * sizeof(int32_t));
}

void strm_lanes_feed(StreamState *state, const uint8_t *bytes, uint32_t frames)
{
#if defined(STRM_HAVE_LANES)
    if (state->path == STRM_PATH_AVX512)
        strm_feed_avx512(state, bytes, frames);
    else if (state->path == STRM_PATH_AVX2)
        strm_feed_avx2(state, bytes, frames);
#else
    (void)state;
    (void)bytes;
    (void)frames;
#endif
}

ResultCode strm_analyze_frames(StreamState *state, StreamPath path, const int32_t *frames,
                               int32_t count, uint32_t *fingerprints, uint32_t *masks)
{
    if (!state || !frames || !fingerprints || !masks || count < 0)
        return STRM_E_INVALID_ARG;
    const size_t n = static_cast<size_t>(state->frame_length);
    if (path == STRM_PATH_SCALAR) {
        for (int32_t f = 0; f < count; ++f) {
            eng_memcpy(state->frame, frames + static_cast<size_t>(f) * n, n * sizeof(int32_t));
            fingerprints[f] = strm_analyze_frame(state, &masks[f]);
        }
        return ENG_OK;
    }
    if (path != state->path || state->lanes == 0)
        return STRM_E_INVALID_ARG;
#if defined(STRM_HAVE_LANES)
    int32_t starts[STRM_MAX_LANES];
    for (int32_t l = 0; l < state->lanes; ++l)
        starts[l] = l * state->frame_length;
    for (int32_t f = 0; f < count; f += state->lanes) {
        const int32_t batch = count - f < state->lanes ? count - f : state->lanes;
        const int32_t *base = frames + static_cast<size_t>(f) * n;
        if (path == STRM_PATH_AVX512)
            strm_batch_avx512(state, base, starts, 0xFFFFFFFFu, batch, fingerprints + f, masks + f);
        else
            strm_batch_avx2(state, base, starts, 0xFFFFFFFFu, batch, fingerprints + f, masks + f);
    }
#endif
    return ENG_OK;
}
