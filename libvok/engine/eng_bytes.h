/*
 * Little-endian fields and samples, read byte by byte so that neither the
 * host's byte order nor the alignment of the data matters (compilers turn
 * these into single loads where they may).
 */
#ifndef VOK_ENGINE_ENG_BYTES_H
#define VOK_ENGINE_ENG_BYTES_H

#include <vok/eng_types.h>

ENG_BEGIN_DECLS

static inline uint32_t eng_le_u16(const uint8_t *bytes)
{
    return (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8;
}

/* A 16-bit signed sample. */
static inline int32_t eng_le_s16(const uint8_t *bytes)
{
    return (int32_t)(int16_t)(uint16_t)eng_le_u16(bytes);
}

static inline uint32_t eng_le_u32(const uint8_t *bytes)
{
    return (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8 | (uint32_t)bytes[2] << 16 |
           (uint32_t)bytes[3] << 24;
}

ENG_END_DECLS

#endif /* VOK_ENGINE_ENG_BYTES_H */
