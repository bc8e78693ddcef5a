/*
 * Streaming fingerprint (engine algorithm ids 3, 4 and 5): the four
 * operations the algorithm registry binds to those ids. The family's state
 * and stages are in strm_internal.h.
 *
 * Audio is mixed to mono, low-pass filtered and resampled to 5512.5 Hz.
 * Every hop of H resampled samples, the last N samples are analysed into a
 * 32-bit sub-fingerprint and a weak-bit mask; every 256 of them form a block
 * that is compressed with a fixed byte code and kept as BASE64 text. The
 * serialize operation puts all finished blocks into a query document.
 *
 *   id | block length | N    | H   | weak bits W
 *   3  | 3 s          | 2048 | 64  | 14
 *   4  | 3 s          | 2048 | 64  | 8
 *   5  | 6 s          | 4096 | 128 | 8
 *
 * Ids 3 and 4 produce the same sub-fingerprints and differ only in their
 * masks. The four registry operations take the state as an opaque pointer.
 */
#ifndef VOK_ALGO_STREAM_STREAM_H
#define VOK_ALGO_STREAM_STREAM_H

#include "query/query_element.h"
#include <vok/eng_types.h>

ENG_BEGIN_DECLS

/* --- Registry operations (AlgorithmEntry signatures) ---------------------- */

/* STRM_E_INVALID_ARG for a rate not in the input-rate table, a sample type
 * other than 1 to 4, a channel count other than 1 or 2, a null out pointer
 * or an id other than 3, 4, 5; STRM_E_NO_MEMORY, RFFT_E_NO_MEMORY when an
 * allocation fails. *state is written only on success; a failure leaves
 * nothing allocated. */
ResultCode strm_create(uint32_t algorithm_id, uint32_t sample_rate, SampleType sample_type,
                       uint32_t channels, void **state);
/* STRM_E_INVALID_ARG for null; otherwise releases everything, 0. */
ResultCode strm_destroy(void *state);
/* Adds interleaved frames (a trailing partial frame is ignored). *ready is
 * 1 once a block has been finished since creation. STRM_E_INVALID_ARG for a
 * null argument, STRM_E_NO_DATA for a state without a frame size. */
ResultCode strm_add_audio(void *state, const uint8_t *bytes, uint32_t byte_count, uint8_t *ready);
/* Builds the query document of every finished block; the caller owns the
 * root. The state is not changed. */
ResultCode strm_serialize(void *state, QueryElement **document);

ENG_END_DECLS

#endif /* VOK_ALGO_STREAM_STREAM_H */
