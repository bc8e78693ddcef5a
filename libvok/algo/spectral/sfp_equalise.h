/*
 * Frame equalisation of the spectral fingerprint: every sample of an
 * analysis frame is replaced by its centred rank among the frame's samples
 * (a 256-bin histogram and its cumulative sum), so that the analysis sees
 * the same level whatever the input's loudness. Frames whose samples hardly
 * vary are copied unchanged.
 *
 * The frame arrives as two consecutive pieces of the framing ring.
 */
#ifndef VOK_ALGO_SPECTRAL_SFP_EQUALISE_H
#define VOK_ALGO_SPECTRAL_SFP_EQUALISE_H

#include "algo/spectral/sfp_types.h"

ENG_BEGIN_DECLS

/* min(first_count, size) samples of the first piece, then
 * min(size - that, second_count) of the second; 4-byte samples of either
 * arithmetic. Positions left over (never, for a whole frame) become 0. */
void sfp_copy_frame(const void *first, uint32_t first_count, const void *second,
                    uint32_t second_count, void *frame, uint32_t size);

/* FileFloat: ranks between about -0.5 and 0.5. A range of 1 or less, or a
 * cumulative table that cannot be allocated, copies the frame. The
 * histogram has bins entries. */
void sfp_equalise_float(const float *first, uint32_t first_count, const float *second,
                        uint32_t second_count, float *frame, uint32_t size, uint32_t *histogram,
                        uint32_t bins);

/* FileFixed: the FileFloat ranks times 2^30 (for a 32768-sample frame). A
 * half-range of flat_half_range or less, or a failed allocation, copies the
 * frame: 8192 for samples at 2^14 times the FileFloat scale is FileFloat's
 * range of 1. The histogram has bins + 1 entries. */
void sfp_equalise_fixed(const int32_t *first, uint32_t first_count, const int32_t *second,
                        uint32_t second_count, int32_t *frame, uint32_t size, uint32_t *histogram,
                        uint32_t bins, int32_t flat_half_range);

ENG_END_DECLS

#endif /* VOK_ALGO_SPECTRAL_SFP_EQUALISE_H */
