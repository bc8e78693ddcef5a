/*
 * Real FFT of the streaming fingerprint, 32-bit fixed point.
 *
 * rfft_forward turns N real values into their N-point spectrum divided by
 * N, in packed form: out[0] = X[0], out[1] = X[N/2], and out[2k], out[2k+1]
 * the real and imaginary parts of X[k] for 1 <= k < N/2. The N inputs are
 * read as N/2 complex values (even index real, odd index imaginary) and
 * transformed by a decimation-in-time FFT of radix-4 stages, each dividing
 * by 4, with one final radix-2 stage dividing by 2 when N/2 is not a power
 * of four; a split step then forms the real spectrum and divides by 2.
 * Inputs within +-2^30 never overflow; results are within a few units of
 * the exact transform plus the error of the Q15 twiddles.
 *
 * Plans exist for N = 2048 and 4096, the frame sizes of the streaming
 * fingerprint, whose tables are kept per size (rfft_size_tables).
 */
#ifndef VOK_ALGO_STREAM_RFFT_H
#define VOK_ALGO_STREAM_RFFT_H

#include <vok/eng_types.h>

ENG_BEGIN_DECLS

/* Everything kept per frame size N, generated together at first use: the
 * transform's tables and the analysis window of frames of that size. */
typedef struct FrameSizeTables {
    int32_t size; /* N */
    /* 3N/4 - 2 words, word k the twiddle for angle 2 pi k / N with
     * round(32768 cos) in the high and round(32768 sin) in the low 16 bits,
     * both limited to 32767. */
    const uint32_t *twiddles;
    uint32_t twiddle_count;
    /* For each position p of the N/2-point complex transform, the index of
     * the complex input that the decimation in time places there. */
    const uint16_t *input_order;
    /* The twiddles rearranged stage by stage so that each stage reads them
     * in order: for the radix-4 stage combining quarters of Q points, 6Q
     * values (cos and sin of W^j, W^2j, W^3j for j = 0 ... Q - 1, each run
     * of Q), stages in order of increasing Q; then, when there is a radix-2
     * stage, N/4 cos and N/4 sin values; then, for the split step, the cos
     * and sin of angle 2 pi k / N for k = 0 ... N/4 - 1 (N/4 each, from
     * split_offset on). Q15 values, except that angles of whole quarter
     * turns are exact (32768 for 1), which the 16-bit table cannot hold. */
    const int32_t *stage_twiddles;
    int32_t split_offset;
    /* The rising half of the analysis window (N/2 entries, Q15): a Hann
     * window of N + 1 intervals, w[k] = round(32768 sin^2(pi (k + 1) /
     * (N + 1))), whose last entry 32768 still fits the unsigned 16 bits. */
    const uint16_t *window;
} FrameSizeTables;

/* The tables of frames of `size` samples; null for other sizes. */
const FrameSizeTables *rfft_size_tables(int32_t size);

typedef struct RealFft {
    int32_t size;             /* N */
    const uint32_t *twiddles; /* borrowed, 3N/4 - 2 words */
    const uint16_t *order;    /* borrowed: complex input index of each position, N/2 */
    const int32_t *stages;    /* borrowed: the twiddles laid out stage by stage */
    int32_t split_offset;     /* where the split step's twiddles start in stages */
} RealFft;

/* RFFT_E_INVALID_ARG when N is not a power of two from 8 to 1048576, has no
 * twiddle table, or plan is null; RFFT_E_NO_MEMORY when the plan cannot be
 * allocated. *plan is written only on success. */
ResultCode rfft_create(int32_t size, RealFft **plan);

/* Releases a plan; null is accepted. Always 0. */
ResultCode rfft_destroy(RealFft *plan);

/* RFFT_E_INVALID_ARG for a null argument. input and output are N values
 * each and must not overlap; input also serves as working memory and is
 * overwritten. */
ResultCode rfft_forward(const RealFft *plan, int32_t *input, int32_t *output);

ENG_END_DECLS

#endif /* VOK_ALGO_STREAM_RFFT_H */
