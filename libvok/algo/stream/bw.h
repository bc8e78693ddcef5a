/*
 * Bit writer of the streaming fingerprint's block encoder, and the reader
 * of whole blocks.
 *
 * A run of 32-bit words is written as the first word raw (32 bits, least
 * significant first) followed, for each further word, by the byte codes of
 * the four bytes of (previous word XOR word), least significant byte first.
 * Each byte code is emitted least significant bit first; the 256 codes form
 * a complete prefix code in which a zero byte costs one bit.
 */
#ifndef VOK_ALGO_STREAM_BW_H
#define VOK_ALGO_STREAM_BW_H

#include <vok/eng_frames.h>

ENG_BEGIN_DECLS

/* A block is two runs: its ENG_BLOCK_FRAMES sub-fingerprints, then the
 * masks it keeps, of sub-fingerprints 0, 3, ..., 255, from the bit where
 * the first run ended; zero bits pad the last byte. */
#define BW_KEPT_MASKS ((ENG_BLOCK_FRAMES - 1) / ENG_MASK_STRIDE + 1) /* 86 */

typedef struct ByteCode {
    uint16_t code;  /* bits emitted least significant first */
    uint8_t length; /* 1 to 16 */
} ByteCode;

typedef struct BitWriter {
    uint8_t *base;         /* byte where the current run started */
    int32_t byte_index;    /* from the base */
    int32_t bit_position;  /* 0 to 7 within the current byte */
    uint8_t first;         /* the next word of the run is written raw */
    uint32_t previous;     /* previous word of the run */
    const ByteCode *codes; /* borrowed, 256 entries */
} BitWriter;

/* The fixed byte-code table, 256 entries indexed by byte value. */
const ByteCode *bw_byte_codes(void);

/* Starts a new run: the next word is written raw. */
void bw_reset(BitWriter *writer);

/* Writes count words at bit offset offset of buffer and answers the number
 * of bits written. Bits of the byte at the offset below it are kept; the
 * rest of that byte and every byte touched after it are overwritten. */
int32_t bw_encode_words(BitWriter *writer, const uint32_t *words, int32_t count, uint8_t *buffer,
                        int32_t offset);

/* Appends the low n bits of value (0 <= n <= 32; no bits above n set). */
void bw_put_bits(BitWriter *writer, uint32_t value, int32_t n);

/* Appends the code of one byte value. */
void bw_put_byte_code(BitWriter *writer, uint8_t byte);

/* --- Reading blocks back (bw_reader.cpp) ---------------------------------- */

/* Where a block breaks the code. */
#define BW_FAULT_ENDS_IN_WORD 1 /* the bytes end inside sub-fingerprint fault_index */
#define BW_FAULT_ENDS_IN_MASK 2 /* ... inside kept mask fault_index (of sub-fingerprint 3k) */
#define BW_FAULT_TRAILING     3 /* fault_index bytes follow the last code */
#define BW_FAULT_PADDING      4 /* a bit after the last code is set */

typedef struct BlockRead {
    uint32_t words[ENG_BLOCK_FRAMES];
    uint32_t kept[BW_KEPT_MASKS];
    uint32_t kept_offsets[BW_KEPT_MASKS]; /* byte where each kept mask's bits begin */
    uint8_t fault;                        /* BW_FAULT_*, 0 when the block reads */
    uint32_t fault_offset;                /* byte offset where the block breaks */
    uint32_t fault_index;
} BlockRead;

/* Reads a block of size bytes that must hold exactly the codes of one
 * block: no byte more or less, and zero bits after the last code.
 * STRM_E_BAD_DOCUMENT otherwise, with the fault in *read;
 * STRM_E_INVALID_ARG for a null argument. The code is looked up in a table
 * built from bw_byte_codes() on first use (safe on any thread). */
ResultCode bw_read_block(const uint8_t *bytes, uint32_t size, BlockRead *read);

/* The same, answering the 256 sub-fingerprints and 86 kept masks, or the
 * byte offset where the block breaks (fault_offset may be null). */
ResultCode bw_decode_block(const uint8_t *bytes, uint32_t size, uint32_t words[256],
                           uint32_t kept[86], uint32_t *fault_offset);

ENG_END_DECLS

#endif /* VOK_ALGO_STREAM_BW_H */
