/*
 * The algorithm registry: a constant table of five rows that binds an
 * algorithm id to the four operations of an algorithm family. The streaming
 * family serves ids 3, 4 and 5; the spectral family ids 1 and 2.
 */
#ifndef VOK_ENGINE_ENG_REGISTRY_H
#define VOK_ENGINE_ENG_REGISTRY_H

#include "query/query_element.h"
#include <vok/vok_engine.h>

ENG_BEGIN_DECLS

typedef ResultCode (*AlgorithmCreate)(uint32_t algorithm_id, uint32_t sample_rate,
                                      SampleType sample_type, uint32_t channels, void **state);
typedef ResultCode (*AlgorithmDestroy)(void *state);
typedef ResultCode (*AlgorithmAddAudio)(void *state, const uint8_t *samples, uint32_t byte_count,
                                        uint8_t *done);
typedef ResultCode (*AlgorithmSerialize)(void *state, QueryElement **root);

typedef struct AlgorithmEntry {
    uint32_t id;
    AlgorithmCreate create;
    AlgorithmDestroy destroy;
    AlgorithmAddAudio add_audio;
    AlgorithmSerialize serialize;
} AlgorithmEntry;

struct EngineHandle {
    const AlgorithmEntry *entry; /* the registry row that matched */
    void *state;                 /* the algorithm's state */
};

/* The row offering an id, or null. Rows are searched in table order and
 * never beyond eng_algorithm_count(). */
const AlgorithmEntry *eng_registry_find(uint32_t algorithm_id);

/* For tests of the interface: replaces the table by one of
 * eng_algorithm_count() rows; null puts the built-in table back. */
void eng_registry_override(const AlgorithmEntry *rows);

ENG_END_DECLS

#endif /* VOK_ENGINE_ENG_REGISTRY_H */
