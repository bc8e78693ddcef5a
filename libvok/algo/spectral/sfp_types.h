/*
 * Constants shared by the parts of the spectral fingerprint.
 *
 * The family computes one fingerprint in two arithmetics, chosen by the
 * algorithm id at creation: FileFixed (id 1) in 32-bit integers, FileFloat
 * (id 2) in single-precision floats. Buffers of samples hold int32_t in the
 * first and float in the second; both are 4 bytes wide, so the framing can
 * move samples without knowing which.
 */
#ifndef VOK_ALGO_SPECTRAL_SFP_TYPES_H
#define VOK_ALGO_SPECTRAL_SFP_TYPES_H

#include <vok/eng_types.h>

ENG_BEGIN_DECLS

#define SFP_VARIANT_FIXED 1u /* FileFixed: 32-bit integer arithmetic */
#define SFP_VARIANT_FLOAT 2u /* FileFloat: single-precision arithmetic */

/* What differs between the two, chosen once at creation (sfp_variant.h). */
typedef struct SpectralVariant SpectralVariant;

/* Input frames converted per run into the state's scratch. */
#define SFP_SCRATCH_FRAMES 4096u

/* Bands the statistics support (the integer variant keeps per-band means in
 * a local array of this size). */
#define SFP_MAX_BANDS 15u

ENG_END_DECLS

#endif /* VOK_ALGO_SPECTRAL_SFP_TYPES_H */
