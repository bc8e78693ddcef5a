/*
 * vok fingerprint engine: the public interface.
 *
 * A plain procedural library, usable from C and C++. Start the engine once,
 * then for each fingerprint: create a handle for an algorithm and a sample
 * format, add blocks of interleaved audio, serialise the fingerprint into
 * XML text (as often as wanted), destroy the handle. Every text is released
 * with eng_free_text. Every operation answers a ResultCode (eng_result.h);
 * eng_result_text describes one in words.
 *
 * Algorithm ids (ENG_ALG_* in eng_frames.h): 1 FileFixed, 2 FileFloat
 * (spectral fingerprint, integer and floating-point arithmetic), 3 Stream1,
 * 4 Stream4, 5 (streaming fingerprint with 6-second blocks).
 *
 * Besides the document, a handle gives its fingerprint as numbers, and
 * documents decode back into them (eng_frames.h).
 *
 * Threads: once eng_initialize has returned, different handles may be used
 * from different threads at the same time. One handle must not be used from
 * two threads at once.
 */
#ifndef VOK_VOK_ENGINE_H
#define VOK_VOK_ENGINE_H

#include "eng_types.h"
#include "eng_frames.h"

ENG_BEGIN_DECLS

/* Start-up record. The two numbers reach the memory layer, which does not
 * use them; a record of zeros is the usual choice. */
typedef struct EngineConfig {
    const char *number_text; /* decimal number or null */
    uint32_t number;
    uint8_t use_text; /* 1 when number_text is given */
} EngineConfig;

/* ENG_E_NO_CONFIG for a null record; otherwise starts the memory layer and
 * answers 0, also when it was started before. */
VOK_API ResultCode eng_initialize(const EngineConfig *config);

/* Number of rows of the algorithm registry (5). */
VOK_API uint32_t eng_algorithm_count(void);

/* Creates a handle. Note the order: sample type before sample rate.
 * ENG_E_INVALID_ARG for a null out-pointer, ENG_E_UNKNOWN_ALGORITHM for an id
 * no registry row offers, ENG_E_NO_MEMORY, or the algorithm's own refusal.
 * *handle is written only on success. */
VOK_API ResultCode eng_create(uint32_t algorithm_id, SampleType sample_type, uint32_t sample_rate,
                              uint32_t channels, EngineHandle **handle);

/* Adds interleaved frames. *done is set on success: 1 once the fingerprint
 * can be serialised. ENG_E_INVALID_ARG for a null handle, samples or done. */
VOK_API ResultCode eng_add_audio(EngineHandle *handle, const uint8_t *samples, uint32_t byte_count,
                                 uint8_t *done);

/* Serialises the fingerprint into a new NUL-terminated XML text. *text is
 * null on entry to the algorithm and stays null on failure. A streaming
 * handle without a whole block yet serialises successfully, into a
 * document whose FP_BLOCKS is empty. */
VOK_API ResultCode eng_serialize_xml(EngineHandle *handle, char **text);

/* Releases a text from eng_serialize_xml and clears the variable. */
VOK_API ResultCode eng_free_text(char **text);

/* Destroys the handle behind *handle, if any, and clears the variable. */
VOK_API ResultCode eng_destroy(EngineHandle **handle);

/* A constant English description of a result code, for messages: the
 * meaning of every code the engine produces, "success" for 0, and a
 * generic text for any other value. Never null. */
VOK_API const char *eng_result_text(ResultCode code);

/* The library's version, "MAJOR.MINOR.PATCH". */
VOK_API const char *eng_version(void);

ENG_END_DECLS

#endif /* VOK_VOK_ENGINE_H */
