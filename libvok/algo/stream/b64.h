/*
 * BASE64 text of the streaming fingerprint's encoded blocks: the standard
 * alphabet with "=" padding and no line breaks.
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

ENG_END_DECLS

#endif /* VOK_ALGO_STREAM_B64_H */
