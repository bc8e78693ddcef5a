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

#include "engine/eng_document.h"
#include "query/query_element.h"
#include <vok/vok_engine.h>

ENG_BEGIN_DECLS

/* The algorithm name its documents carry. */
#define STRM_ALGORITHM_NAME "Velmora"

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

/* --- A handle's frames (strm_frames.cpp) ------------------------------------ */

/* Every frame analysed since creation or the last discard, made on request
 * (see eng_stream_frames); the arrays are the state's. STRM_E_INVALID_ARG
 * for a null argument, STRM_E_NO_MEMORY, also when a finished block was
 * lost for lack of memory. */
ResultCode strm_frames(void *state, EngineFrames *frames);
/* Drops the oldest count frames, and the finished blocks all of whose
 * frames are dropped. STRM_E_INVALID_ARG beyond the frames held. */
ResultCode strm_discard(void *state, size_t count);

/* --- Documents and frames (strm_decode.cpp, strm_serialize.cpp) ----------- */

/* Decodes the document eng_read_document read (its head checked) into
 * frames: parameters, blocks, masks of one variant, the wrapping agreeing
 * with them, quiet frames and the grid; the arrays are one allocation
 * (strm_owns_frames), none for a document without blocks.
 * ENG_E_BAD_DOCUMENT with the fault recorded, ENG_E_NO_MEMORY; *frames is
 * written only on success. */
ResultCode strm_decode_document(DocumentRead *read, EngineFrames *frames);
/* 1 when the frames' arrays are the one allocation strm_decode_document
 * made, which eng_free(frames->words) releases. */
uint8_t strm_owns_frames(const EngineFrames *frames);

/* --- A document decoded a block at a time (strm_decode.cpp) ------------- */

/* The state of a streaming document whose blocks come one at a time, as the
 * engine's piecewise decoder reads them; the same checks as
 * strm_decode_document, block by block. */
typedef struct StreamBlockReader StreamBlockReader;

/* After the head of the document read has been checked (eng_check_head):
 * its parameters. The reader keeps read for its faults. *reader is
 * written only on success. */
ResultCode strm_block_reader_create(DocumentRead *read, StreamBlockReader **reader);
/* The next block, the child `element` of FP_BLOCKS (its ORD one more than
 * the blocks before it), into frames: 256 of them in arrays the reader
 * owns until its next call, each its nearest kept mask and quiet flag,
 * with the algorithm its masks tell and the grid. ENG_E_BAD_DOCUMENT with
 * the fault recorded, as strm_decode_document finds it. */
ResultCode strm_block_reader_next(StreamBlockReader *reader, const QueryElement *element,
                                  EngineFrames *frames);
/* After the last block: the wrapping agrees with a document without
 * blocks too; frames gets the document's algorithm (0 without blocks) and
 * grid, and no arrays. */
ResultCode strm_block_reader_end(StreamBlockReader *reader, EngineFrames *frames);
/* Null is accepted. */
void strm_block_reader_destroy(StreamBlockReader *reader);

/* The block length of frames to encode, from the algorithm, or for 0 (no
 * whole block) from frame_seconds. STRM_E_INVALID_ARG for frames that
 * cannot be encoded: another algorithm, complete beyond count or not whole
 * blocks, null arrays under whole blocks. */
ResultCode strm_frames_block_length(const EngineFrames *frames, int32_t *block_length);
/* The NUL-terminated BASE64 text of whole block number block (from 0) of
 * checked frames, as a handle encodes its blocks (released with eng_free). */
ResultCode strm_frames_block_text(const EngineFrames *frames, size_t block, char **text);
/* The query document of the whole blocks of checked frames. */
ResultCode strm_frames_document(const EngineFrames *frames, QueryElement **document);

ENG_END_DECLS

#endif /* VOK_ALGO_STREAM_STREAM_H */
