/*
 * The fingerprints as numbers: the sub-fingerprints of a streaming handle,
 * the 30 values of a spectral one, and the decoders and encoder of their
 * documents. A program built on the engine works on these rather than on
 * the XML text, which it needs only to write or read a document.
 *
 * Included by vok_engine.h. Like every engine operation, these answer a
 * ResultCode and need eng_initialize first.
 *
 * The streaming grid. Audio is resampled to 5512.5 Hz; every hop of H
 * samples (64, or 128 for id 5) the last N samples (2048, or 4096) are
 * analysed into a sub-fingerprint: a 32-bit word and a weak-bit mask that
 * marks the bits likeliest to flip. The very first window only primes the
 * analysis. Every ENG_BLOCK_FRAMES sub-fingerprints form a block, which a
 * document keeps as its words and the masks of every ENG_MASK_STRIDE-th
 * one (0, 3, ..., 255); frame i of a block takes the kept mask nearest to
 * it, (i + 1) / 3, so that a handle's frames and its decoded document
 * agree. A frame too quiet to carry information holds the next word of a
 * fixed pseudo-random generator instead, the same words in the same order
 * in every fingerprint; such frames are marked quiet and are no evidence
 * when fingerprints are compared.
 */
#ifndef VOK_ENG_FRAMES_H
#define VOK_ENG_FRAMES_H

#include "eng_types.h"

ENG_BEGIN_DECLS

/* Algorithm ids, as eng_create takes them. */
#define ENG_ALG_FILE_FIXED 1u /* spectral fingerprint, integer arithmetic */
#define ENG_ALG_FILE_FLOAT 2u /* spectral fingerprint, floating point */
#define ENG_ALG_STREAM1    3u /* streaming fingerprint, 14 weak bits per mask */
#define ENG_ALG_STREAM4    4u /* streaming fingerprint, 8 weak bits per mask */
#define ENG_ALG_STREAM6    5u /* streaming fingerprint, 6-second blocks, 8 weak bits */

/* Sub-fingerprints per block, and the stride of the masks a block keeps. */
#define ENG_BLOCK_FRAMES 256u
#define ENG_MASK_STRIDE  3u

/* Values of a spectral fingerprint. */
#define ENG_SPECTRAL_VALUES 30u

/* A streaming fingerprint's sub-fingerprints, oldest first. */
typedef struct EngineFrames {
    /* ENG_ALG_STREAM1, ENG_ALG_STREAM4 or ENG_ALG_STREAM6; 0 for a
     * document without blocks, whose masks cannot tell the variant. */
    uint32_t algorithm;
    /* Sub-fingerprints held: of a handle, every one analysed so far (the
     * block in progress included), less those discarded. */
    size_t count;
    /* Of them, those in whole blocks: exactly what eng_serialize_xml
     * encodes. A multiple of ENG_BLOCK_FRAMES. */
    size_t complete;
    /* Seconds from one sub-fingerprint to the next (H / 5512.5). */
    double frame_seconds;
    /* Seconds of audio from the start of the input to the end of the
     * first sub-fingerprint's analysis window: sub-fingerprint i has heard
     * the audio up to first_offset_seconds + i * frame_seconds. A handle's
     * first one needs (N + H) / 5512.5 s, so one block needs
     * first_offset_seconds + 255 * frame_seconds. */
    double first_offset_seconds;
    const uint32_t *words; /* count sub-fingerprints */
    /* count masks: for each frame, the mask its block keeps nearest to it.
     * The last frame of a block in progress, whose nearest kept mask is
     * not analysed yet, takes the one before it until then. */
    const uint32_t *masks;
    const uint8_t *quiet; /* count flags: 1 where the frame was quiet */
} EngineFrames;

/* The frames of a streaming handle (ids 3 to 5). The arrays belong to the
 * handle and stay valid until the next call on it. ENG_E_INVALID_ARG for a
 * null argument or a spectral handle; ENG_E_NO_MEMORY. A handle that has
 * been given no audio has count 0 and its grid. */
VOK_API ResultCode eng_stream_frames(EngineHandle *handle, EngineFrames *frames);

/* Drops the oldest count frames of a streaming handle, once a caller has
 * taken them, and the whole blocks among them, so that a handle can run
 * for days in flat memory. Its documents then begin with the first block
 * kept. ENG_E_INVALID_ARG for a null or spectral handle or a count beyond
 * what it holds. */
VOK_API ResultCode eng_stream_discard(EngineHandle *handle, size_t count);

/* Decodes the first streaming document (ids 3 to 5) in the text, as
 * eng_serialize_xml writes it, or escaped inside a lookup-server query as
 * vok -om zuserver writes it; white space may come before it. *consumed is
 * then the bytes used, white space after the document included, so that
 * a caller steps through several documents one after another. count
 * equals complete, and the arrays are released with eng_free_frames.
 * Damaged or foreign text (a spectral document among them) answers
 * ENG_E_BAD_DOCUMENT with *consumed the offset of the fault, and
 * eng_decode_problem tells what is wrong. ENG_E_INVALID_ARG for a null
 * text, frames or consumed; ENG_E_NO_MEMORY. */
VOK_API ResultCode eng_decode_stream_xml(const char *text, size_t length, EngineFrames *frames,
                                         size_t *consumed);

/* Releases what eng_decode_stream_xml gave and clears the record; frames of
 * a handle are left alone. Null arrays are accepted. */
VOK_API ResultCode eng_free_frames(EngineFrames *frames);

/* Writes the whole blocks of the frames (complete of them) as the
 * document eng_serialize_xml writes: a document decoded and encoded again
 * gives the same bytes. The text is released with eng_free_text.
 * ENG_E_INVALID_ARG for a null argument, an algorithm other than 3 to 5
 * (0 is taken when there is no whole block: the block length then follows
 * from frame_seconds), complete beyond count or not whole blocks. */
VOK_API ResultCode eng_encode_stream_xml(const EngineFrames *frames, char **text);

/* The BASE64 text of whole block number block (from 0) of the frames, as
 * its FP_BLOCK element carries it; released with eng_free_text. */
VOK_API ResultCode eng_encode_stream_block(const EngineFrames *frames, size_t block, char **text);

/* The 30 values of a spectral handle (ids 1 and 2) once its fingerprint is
 * complete, as its document writes them (each an unsigned 16-bit number
 * kept in a signed one). SFP_E_NOT_COMPLETE when there is too little
 * audio or a steady signal, as eng_serialize_xml answers;
 * ENG_E_INVALID_ARG for a null argument or a streaming handle. */
VOK_API ResultCode eng_spectral_values(EngineHandle *handle, int16_t values[30]);

/* Decodes the first spectral document in the text, as eng_decode_stream_xml
 * does the streaming ones. */
VOK_API ResultCode eng_decode_spectral_xml(const char *text, size_t length, int16_t values[30],
                                           size_t *consumed);

/* Why the last decode of this thread answered ENG_E_BAD_DOCUMENT, in
 * words ("block 2: the block ends inside sub-fingerprint 17"); empty after
 * a success. The text stays valid until the next decode on the thread. */
VOK_API const char *eng_decode_problem(void);

ENG_END_DECLS

#endif /* VOK_ENG_FRAMES_H */
