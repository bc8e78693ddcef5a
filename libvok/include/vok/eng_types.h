/*
 * Types shared by every part of the fingerprint engine: the sample encodings
 * it accepts, and the markers that keep its headers usable from C and C++
 * and that name the operations the shared library exports.
 */
#ifndef VOK_ENG_TYPES_H
#define VOK_ENG_TYPES_H

#include <stddef.h>
#include <stdint.h>

#include "eng_result.h"

#ifdef __cplusplus
#define ENG_BEGIN_DECLS extern "C" {
#define ENG_END_DECLS   }
#else
#define ENG_BEGIN_DECLS
#define ENG_END_DECLS
#endif

/* Marks the operations of the public interface: the shared library exports
 * these and nothing else. */
#if defined(__GNUC__) && __GNUC__ >= 4
#define VOK_API __attribute__((visibility("default")))
#else
#define VOK_API
#endif

ENG_BEGIN_DECLS

/* Encoding of one sample of the interleaved input. */
typedef int32_t SampleType;

#define SAMPLE_PCM_U8  1 /* linear PCM, 8-bit unsigned, silence at 128 */
#define SAMPLE_PCM_S16 2 /* linear PCM, 16-bit signed little-endian */
#define SAMPLE_ALAW    3 /* A-law companded, 8-bit */
#define SAMPLE_MULAW   4 /* mu-law companded, 8-bit */

/* A fingerprint being made: what eng_create hands out (opaque). */
typedef struct EngineHandle EngineHandle;

/* Bits per sample of a sample type: 8 for 1, 3 and 4, 16 for 2, 0 otherwise.
 * Algorithms derive the bytes per frame as channels x bits / 8. */
VOK_API uint32_t eng_sample_type_bits(SampleType type);

ENG_END_DECLS

#endif /* VOK_ENG_TYPES_H */
