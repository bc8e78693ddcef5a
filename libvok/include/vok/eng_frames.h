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

/* --- Documents read a piece at a time ------------------------------------
 *
 * A text too long to hold whole (a day of fingerprints takes about 25 MB,
 * a text may hold any number of documents) is decoded as it comes: fed in
 * chunks of any size, the decoder hands out each block's frames as soon as
 * it has read the block, and each document's end once it has checked the
 * document whole. It holds the element it is reading and what has been fed
 * since, whatever the length of the text. It reads one document after
 * another, of either family, raw or wrapped in a server query, as
 * eng_decode_stream_xml and eng_decode_spectral_xml read the first one,
 * and gives the same frames and values; and refuses what they refuse, and
 * also ALGORITHM after FP_BLOCKS (every writer puts it first: a block is
 * read with its parameters) and a tag or element longer than
 * ENG_DECODER_LONGEST_ELEMENT bytes.
 *
 *     EngineDecoder *decoder = NULL;
 *     EnginePiece piece;
 *     eng_decoder_create(&decoder);
 *     for (;;) {
 *         result = eng_decoder_next(decoder, &piece);
 *         if (result != ENG_OK || piece.kind == ENG_PIECE_DONE)
 *             break;                     (eng_decode_problem() tells a fault)
 *         if (piece.kind == ENG_PIECE_MORE) {
 *             n = fread(chunk, 1, sizeof chunk, file);
 *             if (n > 0) eng_decoder_feed(decoder, chunk, n);
 *             else eng_decoder_end(decoder);
 *         }
 *         (ENG_PIECE_BLOCK: piece.frames; ENG_PIECE_END: the document)
 *     }
 *     eng_decoder_destroy(&decoder);
 *
 * A block handed out belongs to a document that may still prove damaged
 * further on: only its ENG_PIECE_END says that it is whole. */

/* A document decoder (opaque). One thread at a time may use it. */
typedef struct EngineDecoder EngineDecoder;

/* The longest tag or element (a block, the ALGORITHM head) it holds. */
#define ENG_DECODER_LONGEST_ELEMENT 1048576u

/* What eng_decoder_next hands out. */
#define ENG_PIECE_MORE  0u /* nothing until more text is fed, or its end told */
#define ENG_PIECE_BLOCK 1u /* the next block of a streaming document */
#define ENG_PIECE_END   2u /* a document, checked whole, has ended */
#define ENG_PIECE_DONE  3u /* the text has ended after its last document */

/* How a document came: raw, or in a server query of either type. */
#define ENG_WRAPPED_NONE  0u
#define ENG_WRAPPED_ZUVOK 1u
#define ENG_WRAPPED_QDV   2u

typedef struct EnginePiece {
    uint32_t kind;     /* ENG_PIECE_* */
    uint32_t document; /* of the text, from 1 (BLOCK, END) */
    uint32_t spectral; /* 1 for a spectral document, 0 for a streaming one */
    uint32_t wrapping; /* ENG_WRAPPED_* */
    /* BLOCK: its ORD, from 1. END: the blocks of the document. */
    uint32_t block;
    /* BLOCK: the block's ENG_BLOCK_FRAMES frames (count and complete), as
     * eng_decode_stream_xml gives them, with the algorithm and the grid;
     * the arrays are the decoder's until its next call. END of a streaming
     * document: its algorithm (0 without blocks) and grid, no arrays. */
    EngineFrames frames;
    int16_t values[30]; /* END of a spectral document: its values */
    /* In the text fed: just after what was read for the piece, or where a
     * fault lies; for a block of a document in a server query, or a fault
     * in that document, where its FPDATA element begins. */
    size_t offset;
} EnginePiece;

/* A new decoder. ENG_E_INVALID_ARG for a null pointer, ENG_E_NO_MEMORY;
 * *decoder is written only on success. */
VOK_API ResultCode eng_decoder_create(EngineDecoder **decoder);

/* Gives the decoder the next bytes of the text (copied; any length, even
 * cutting a character). Feed after eng_decoder_next has answered
 * ENG_PIECE_MORE, so that the decoder holds no more than one element and
 * one chunk. ENG_E_INVALID_ARG for a null decoder, null text with bytes,
 * or text after eng_decoder_end; ENG_E_NO_MEMORY. */
VOK_API ResultCode eng_decoder_feed(EngineDecoder *decoder, const char *text, size_t length);

/* Tells the decoder that the text has ended. ENG_E_INVALID_ARG for null. */
VOK_API ResultCode eng_decoder_end(EngineDecoder *decoder);

/* The next piece: ENG_OK with *piece filled in (ENG_PIECE_MORE when the
 * text fed so far holds no more). A damaged or foreign document answers
 * ENG_E_BAD_DOCUMENT, with eng_decode_problem saying what is wrong and
 * where ("document" positions are lines and columns of the text, or of the
 * document FPDATA holds) and piece->offset; ENG_E_NO_MEMORY. After a
 * failure the decoder answers the same failure again. ENG_E_INVALID_ARG
 * for a null argument. */
VOK_API ResultCode eng_decoder_next(EngineDecoder *decoder, EnginePiece *piece);

/* Releases the decoder and clears the pointer; null is accepted. */
VOK_API ResultCode eng_decoder_destroy(EngineDecoder **decoder);

ENG_END_DECLS

#endif /* VOK_ENG_FRAMES_H */
