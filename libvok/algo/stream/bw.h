/*
 * Bit writer of the streaming fingerprint's block encoder.
 *
 * A run of 32-bit words is written as the first word raw (32 bits, least
 * significant first) followed, for each further word, by the byte codes of
 * the four bytes of (previous word XOR word), least significant byte first.
 * Each byte code is emitted least significant bit first; the 256 codes form
 * a complete prefix code in which a zero byte costs one bit.
 */
#ifndef VOK_ALGO_STREAM_BW_H
#define VOK_ALGO_STREAM_BW_H

#include <vok/eng_types.h>

ENG_BEGIN_DECLS

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

ENG_END_DECLS

#endif /* VOK_ALGO_STREAM_BW_H */
