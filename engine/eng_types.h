/*
 * Types shared by every part of the fingerprint engine: the sample encodings
 * it accepts and the linkage markers that keep its headers usable from C.
 */
#ifndef VOK_ENGINE_ENG_TYPES_H
#define VOK_ENGINE_ENG_TYPES_H

#include <stddef.h>
#include <stdint.h>

#include "engine/eng_result.h"

#ifdef __cplusplus
#define ENG_BEGIN_DECLS extern "C" {
#define ENG_END_DECLS }
#else
#define ENG_BEGIN_DECLS
#define ENG_END_DECLS
#endif

ENG_BEGIN_DECLS

/* Encoding of one sample of the interleaved input. */
typedef int32_t SampleType;

#define SAMPLE_PCM_U8  1 /* linear PCM, 8-bit unsigned, silence at 128 */
#define SAMPLE_PCM_S16 2 /* linear PCM, 16-bit signed little-endian */
#define SAMPLE_ALAW    3 /* A-law companded, 8-bit */
#define SAMPLE_MULAW   4 /* mu-law companded, 8-bit */

/* Bits per sample of a sample type: 8 for 1, 3 and 4, 16 for 2, 0 otherwise.
 * Algorithms derive the bytes per frame as channels x bits / 8. */
uint32_t eng_sample_type_bits(SampleType type);

ENG_END_DECLS

#endif /* VOK_ENGINE_ENG_TYPES_H */
