/*
 * The spectral fingerprint: about fourteen seconds of audio, from the first
 * non-silent sample on, summarised as 30 numbers (for each of 15 frequency
 * bands the share of the energy and the share of its variation over time).
 *
 * One family serves two registry ids, which compute the same fingerprint in
 * different arithmetic: FileFixed (id 1) in 32-bit integers and FileFloat
 * (id 2) in single precision. The four registry operations are sfp_create,
 * sfp_destroy, sfp_add_audio and sfp_serialize; create picks the variant
 * from the id.
 *
 * Audio is converted to mono, resampled to 11025 Hz, stripped of leading
 * silence and cut into frames of 32768 samples every 11264 samples; twelve
 * analysed frames complete the fingerprint, after which further audio is
 * ignored.
 *
 * This header holds the four operations the algorithm registry binds to
 * ids 1 and 2; the family's state and stages are in sfp_internal.h.
 */
#ifndef VOK_ALGO_SPECTRAL_SFP_FAMILY_H
#define VOK_ALGO_SPECTRAL_SFP_FAMILY_H

#include "engine/eng_document.h"
#include "query/query_element.h"
#include <vok/eng_types.h>

ENG_BEGIN_DECLS

/* The algorithm name its documents carry. */
#define SFP_ALGORITHM_NAME "Quorindavel"

/* --- Registry operations ------------------------------------------------ */

/* algorithm_id 1 makes a FileFixed state, 2 a FileFloat one; any other id,
 * a rate of 0, a type outside 1 to 4, a channel count other than 1 or 2 or
 * a null out-pointer is refused with SFP_E_INVALID_ARG. SFP_E_NO_MEMORY
 * when memory fails or FileFixed cannot resample the rate (it knows 8000,
 * 11025, 16000, 22050, 24000, 32000, 44100 and 48000 Hz). */
ResultCode sfp_create(uint32_t algorithm_id, uint32_t sample_rate, SampleType sample_type,
                      uint32_t channels, void **state);
ResultCode sfp_destroy(void *state);
/* Adds interleaved frames (the byte count must be a whole number of them).
 * *done becomes 1 once twelve frames are analysed; from then on audio is
 * ignored and the call answers 0 with *done set. */
ResultCode sfp_add_audio(void *state, const uint8_t *bytes, uint32_t byte_count, uint8_t *done);
/* The query document of a complete fingerprint; SFP_E_NOT_COMPLETE before
 * completion or when the fingerprint cannot be computed. */
ResultCode sfp_serialize(void *state, QueryElement **root);

/* The values a complete fingerprint's document carries (count of them, 30
 * for the 15 bands): SFP_E_NOT_COMPLETE as sfp_serialize answers it,
 * SFP_E_INVALID_ARG for a null argument or another count. */
ResultCode sfp_values(void *state, int16_t *values, uint32_t count);

/* Decodes the spectral document eng_read_document read (its head checked):
 * its one block of 30 values, written back as each value's bit pattern,
 * and its wrapping (QDV). ENG_E_BAD_DOCUMENT with the fault recorded;
 * values are written only on success. */
ResultCode sfp_decode_document(DocumentRead *read, int16_t *values);

ENG_END_DECLS

#endif /* VOK_ALGO_SPECTRAL_SFP_FAMILY_H */
