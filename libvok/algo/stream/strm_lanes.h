/*
 * The lane paths of the streaming fingerprint: consecutive frames analysed
 * together, one frame per vector lane (8 with AVX2, 16 with AVX-512).
 *
 * Every frame goes through the same operations, so a lane computes
 * exactly the values the scalar path computes for its frame, with the same
 * 32-bit wrapping sums and products; only the normalisation shifts differ
 * from lane to lane. What carries over from frame to frame follows the
 * frames' order: each lane's difference filter takes the previous lane's
 * values, the generator runs for the quiet frames one by one, and the
 * results go into the block one by one. The output is therefore identical.
 *
 * A state takes its path when it is created: the widest the processor
 * runs, unless a test has chosen another with strm_use_path.
 */
#ifndef VOK_ALGO_STREAM_STRM_LANES_H
#define VOK_ALGO_STREAM_STRM_LANES_H

#include "algo/stream/strm_internal.h"

ENG_BEGIN_DECLS

/* 1 when this build and processor run path (always for STRM_PATH_BEST and
 * STRM_PATH_SCALAR). */
uint8_t strm_path_available(StreamPath path);
/* The path a state created now takes (never STRM_PATH_BEST). */
StreamPath strm_creation_path(void);
/* Test hook: states created from now on take path; STRM_PATH_BEST gives
 * back the widest available. STRM_E_INVALID_ARG for a path this build or
 * processor cannot run; nothing changes then. */
ResultCode strm_use_path(StreamPath path);
/* Frames per batch: 8 (AVX2), 16 (AVX-512), 0 (scalar). */
int32_t strm_path_lanes(StreamPath path);

/* Gives a new state its path; allocates the lane ring and buffers for a
 * lane path. STRM_E_NO_MEMORY when that fails (the state stays
 * releasable). */
ResultCode strm_lanes_setup(StreamState *state, StreamPath path);
/* Clears the lane ring and forgets waiting frames (part of strm_reset). */
void strm_lanes_reset(StreamState *state);

/* The add-audio loop of a lane path: conversion, resampling and framing,
 * with the same state changes as the scalar loop; every waiting frame is
 * analysed before it returns. */
void strm_lanes_feed(StreamState *state, const uint8_t *bytes, uint32_t frames);

/* Analyses count consecutive frames of N samples each (frame f at
 * frames + f N) in order on path, which is STRM_PATH_SCALAR or the state's
 * own path: as the framing step would, the difference filter, previous
 * exponent and generator carry over from frame to frame, but nothing is
 * stored in the block. Fills count sub-fingerprints and masks. This is the
 * entry point for comparing the paths frame by frame.
 * STRM_E_INVALID_ARG for a null pointer, a count below 0 or another path. */
ResultCode strm_analyze_frames(StreamState *state, StreamPath path, const int32_t *frames,
                               int32_t count, uint32_t *fingerprints, uint32_t *masks);

/* --- Per instruction set (strm_lanes_avx2.cpp, strm_lanes_avx512.cpp) ------- */

/* The feed loop above for the state's path. */
void strm_feed_avx2(StreamState *state, const uint8_t *bytes, uint32_t frames);
void strm_feed_avx512(StreamState *state, const uint8_t *bytes, uint32_t frames);
/* Analyses count frames (1 to the path's lanes): sample n of frame l is
 * base[(starts[l] + n) & index_mask]. Fills count sub-fingerprints and
 * masks; the carried-over steps run frame by frame in order. */
void strm_batch_avx2(StreamState *state, const int32_t *base, const int32_t *starts,
                     uint32_t index_mask, int32_t count, uint32_t *fingerprints, uint32_t *masks);
void strm_batch_avx512(StreamState *state, const int32_t *base, const int32_t *starts,
                       uint32_t index_mask, int32_t count, uint32_t *fingerprints, uint32_t *masks);

ENG_END_DECLS

#endif /* VOK_ALGO_STREAM_STRM_LANES_H */
