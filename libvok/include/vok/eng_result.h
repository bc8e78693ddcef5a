/*
 * Result codes of the fingerprint engine.
 *
 * Every engine operation answers an unsigned 32-bit code: 0 for success,
 * 0x90MMCCCC for a failure, where MM names the module that detected the
 * condition and CCCC the condition itself. Conditions mean the same in every
 * module, so a caller may test the low 16 bits alone.
 *
 * Plain C so that C and C++ programs can share it.
 */
#ifndef VOK_ENG_RESULT_H
#define VOK_ENG_RESULT_H

#include <stdint.h>

typedef uint32_t ResultCode;

#define ENG_OK 0u

/* Builds a failure code from a module and a condition. */
#define ENG_RESULT(module, condition) \
    ((ResultCode)(0x90000000u | ((uint32_t)(module) << 16) | (uint32_t)(condition)))

/* The condition part of a code (its low 16 bits). */
#define ENG_CONDITION(code) (((uint32_t)(code)) & 0xFFFFu)

/* Modules (bits 16 to 23). */
#define ENG_MODULE_QUERY     0x02u /* query document tree */
#define ENG_MODULE_TEXT      0x03u /* growable text buffer of the XML writer */
#define ENG_MODULE_MEMORY    0x04u /* memory layer */
#define ENG_MODULE_STARTUP   0x05u /* engine start-up */
#define ENG_MODULE_INTERFACE 0x08u /* handles and algorithm registry */
#define ENG_MODULE_BASE64    0x0bu /* BASE64 encoder and decoder of the streaming fingerprint */
#define ENG_MODULE_RFFT      0x0du /* real FFT plan of the streaming fingerprint */
#define ENG_MODULE_STREAM    0x0eu /* streaming fingerprint, ids 3 to 5 */
#define ENG_MODULE_SPECTRAL  0x0fu /* spectral fingerprint, ids 1 and 2 */

/* Conditions (bits 0 to 15). */
#define ENG_COND_NO_MEMORY       0x0001u /* out of memory */
#define ENG_COND_NOT_FOUND       0x0002u /* path element absent and not to be created */
#define ENG_COND_INVALID_ARG     0x0004u /* null pointer or value out of range */
#define ENG_COND_ALREADY_STARTED 0x0005u /* already initialised */
#define ENG_COND_NOT_STARTED     0x0006u /* not initialised */
#define ENG_COND_NO_DATA         0x0009u /* a count or state needed is still zero */
#define ENG_COND_NO_TEXT         0x000bu /* the fingerprint could not be turned into text */
#define ENG_COND_BAD_DOCUMENT    0x000cu /* the text is not a document the engine reads */
#define ENG_COND_UNKNOWN_ALGO    0x0606u /* unknown algorithm id */
#define ENG_COND_COMPLETE        0x0960u /* fingerprint complete (internal status) */
#define ENG_COND_NOT_COMPLETE    0x0961u /* fingerprint not complete, or not computable */
#define ENG_COND_NO_CONFIG       0x0990u /* start-up configuration missing */

/* Every code the engine produces. */
#define QE_E_NO_MEMORY    0x90020001u
#define QE_E_NOT_FOUND    0x90020002u
#define QE_E_INVALID_ARG  0x90020004u
#define QE_E_BAD_DOCUMENT 0x9002000cu /* internal: the XML reader refused the text */

#define TB_E_NO_MEMORY   0x90030001u
#define TB_E_INVALID_ARG 0x90030004u

#define MEM_E_ALREADY_STARTED 0x90040005u
#define MEM_E_NOT_STARTED     0x90040006u

#define ENG_E_NO_CONFIG 0x90050990u

#define ENG_E_NO_MEMORY         0x90080001u
#define ENG_E_INVALID_ARG       0x90080004u
#define ENG_E_NO_TEXT           0x9008000bu
#define ENG_E_BAD_DOCUMENT      0x9008000cu
#define ENG_E_UNKNOWN_ALGORITHM 0x90080606u

#define B64_E_NO_MEMORY    0x900b0001u
#define B64_E_INVALID_ARG  0x900b0004u
#define B64_E_BAD_DOCUMENT 0x900b000cu /* internal: not canonical BASE64 text */

#define RFFT_E_NO_MEMORY   0x900d0001u
#define RFFT_E_INVALID_ARG 0x900d0004u

#define STRM_E_NO_MEMORY    0x900e0001u
#define STRM_E_INVALID_ARG  0x900e0004u
#define STRM_E_NO_DATA      0x900e0009u
#define STRM_E_BAD_DOCUMENT 0x900e000cu /* internal: a block that breaks the byte code */

#define SFP_E_NO_MEMORY    0x900f0001u
#define SFP_E_INVALID_ARG  0x900f0004u
#define SFP_E_NO_DATA      0x900f0009u
#define SFP_S_COMPLETE     0x900f0960u /* internal: turned into a set done flag */
#define SFP_E_NOT_COMPLETE 0x900f0961u

#endif /* VOK_ENG_RESULT_H */
