/*
 * Expansion tables for the two 8-bit companded sample types. Both map the
 * unsigned byte of one sample to a signed 16-bit linear value.
 *
 *   A-law (SAMPLE_ALAW): the G.711 A-law expansion with its sign reversed,
 *                        so code 0 gives +5504 and code 0xD5 gives -8.
 *   mu-law (SAMPLE_MULAW): the G.711 mu-law expansion as published.
 *
 * The A-law sign is part of what stored fingerprints were computed with.
 */
#ifndef VOK_ENGINE_ENG_G711_H
#define VOK_ENGINE_ENG_G711_H

#include <vok/eng_types.h>

ENG_BEGIN_DECLS

/* 256 entries each, constant, valid for the whole process. */
const int16_t *eng_alaw_table(void);
const int16_t *eng_mulaw_table(void);

ENG_END_DECLS

#endif /* VOK_ENGINE_ENG_G711_H */
