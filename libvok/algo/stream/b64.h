/*
 * BASE64 text of the streaming fingerprint's encoded blocks: the standard
 * alphabet with "=" padding and no line breaks, written and read back.
 */
#ifndef VOK_ALGO_STREAM_B64_H
#define VOK_ALGO_STREAM_B64_H

#include <vok/eng_types.h>

ENG_BEGIN_DECLS

/* The allocation size for the text of byte_count bytes:
 * (4 byte_count + 8) / 3, plus 1 when terminate is set. B64_E_INVALID_ARG
 * for a null out pointer or a size beyond the 32-bit range. */
ResultCode b64_encoded_size(uint32_t byte_count, uint32_t *size, uint8_t terminate);

/* Encodes byte_count bytes into a new text (released with eng_free), with
 * a NUL after it when terminate is set. *length is the number of characters
 * written, the NUL included. B64_E_INVALID_ARG for a null argument,
 * B64_E_NO_MEMORY when the text cannot be allocated; the out variables are
 * written only on success. An empty input gives an empty text. */
ResultCode b64_encode(const uint8_t *bytes, uint32_t byte_count, char **text, uint32_t *length,
                      uint8_t terminate);

/* Why a text is not the canonical BASE64 text of some bytes. */
#define B64_FAULT_LENGTH      1 /* not a multiple of 4 characters */
#define B64_FAULT_CHARACTER   2 /* a character outside the alphabet, or misplaced "=" */
#define B64_FAULT_UNUSED_BITS 3 /* the last character sets bits that no byte uses */

typedef struct B64Fault {
    uint8_t kind;    /* B64_FAULT_* */
    uint32_t offset; /* of the character at fault; the length for B64_FAULT_LENGTH */
} B64Fault;

/* Decodes a text that is exactly what b64_encode writes for some bytes
 * (standard alphabet, "=" padding to a multiple of four, no line breaks,
 * zero bits in the unused part of the last character) into new bytes
 * (released with eng_free; an empty text gives an empty block).
 * B64_E_BAD_DOCUMENT for any other text, with *fault saying why and where;
 * B64_E_INVALID_ARG for a null argument; B64_E_NO_MEMORY. The out
 * variables other than *fault are written only on success. */
ResultCode b64_decode(const char *text, uint32_t length, uint8_t **bytes, uint32_t *size,
                      B64Fault *fault);

ENG_END_DECLS

#endif /* VOK_ALGO_STREAM_B64_H */
