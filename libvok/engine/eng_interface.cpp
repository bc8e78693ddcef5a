// The engine's handle interface: start-up, creation, feeding, serialisation
// and destruction of fingerprint handles.
#include "engine/eng_memory.h"
#include "engine/eng_registry.h"
#include "engine/eng_support.h"
#include "query/qe_xml_writer.h"
#include <vok/vok_engine.h>

ResultCode eng_initialize(const EngineConfig *config)
{
    if (!config)
        return ENG_E_NO_CONFIG;
    const uint32_t converted = config->use_text == 1 && config->number_text
                                   ? static_cast<uint32_t>(eng_atoi(config->number_text))
                                   : 0;
    const uint32_t number = config->use_text == 1 ? config->number : 0;
    const ResultCode result = eng_mem_initialize(number, converted);
    if (result == ENG_OK || ENG_CONDITION(result) == ENG_COND_ALREADY_STARTED)
        return ENG_OK;
    return result;
}

ResultCode eng_create(uint32_t algorithm_id, SampleType sample_type, uint32_t sample_rate,
                      uint32_t channels, EngineHandle **handle)
{
    if (!handle)
        return ENG_E_INVALID_ARG;
    const AlgorithmEntry *entry = eng_registry_find(algorithm_id);
    if (!entry)
        return ENG_E_UNKNOWN_ALGORITHM;
    auto *created = static_cast<EngineHandle *>(eng_malloc(sizeof(EngineHandle)));
    if (!created)
        return ENG_E_NO_MEMORY;
    eng_memset(created, 0, sizeof(EngineHandle));
    created->entry = entry;
    const ResultCode result =
        entry->create(algorithm_id, sample_rate, sample_type, channels, &created->state);
    if (result != ENG_OK) {
        eng_free(created);
        return result;
    }
    *handle = created;
    return ENG_OK;
}

ResultCode eng_add_audio(EngineHandle *handle, const uint8_t *samples, uint32_t byte_count,
                         uint8_t *done)
{
    if (!handle || !samples || !done)
        return ENG_E_INVALID_ARG;
    return handle->entry->add_audio(handle->state, samples, byte_count, done);
}

ResultCode eng_serialize_xml(EngineHandle *handle, char **text)
{
    if (!handle || !text)
        return ENG_E_INVALID_ARG;
    *text = nullptr;
    QueryElement *root = nullptr;
    ResultCode result = handle->entry->serialize(handle->state, &root);
    if (result == ENG_OK) {
        *text = qe_write_xml(root, 1, 1, 1);
        if (!*text)
            result = ENG_E_NO_TEXT;
    }
    qe_destroy(&root);
    return result;
}

ResultCode eng_free_text(char **text)
{
    if (!text)
        return ENG_E_INVALID_ARG;
    if (*text) {
        eng_free(*text);
        *text = nullptr;
    }
    return ENG_OK;
}

ResultCode eng_destroy(EngineHandle **handle)
{
    if (!handle)
        return ENG_E_INVALID_ARG;
    EngineHandle *doomed = *handle;
    *handle = nullptr;
    if (!doomed)
        return ENG_OK;
    // The handle is released even when its algorithm left no state behind.
    ResultCode result = ENG_OK;
    if (doomed->entry && doomed->state)
        result = doomed->entry->destroy(doomed->state);
    eng_free(doomed);
    return result;
}
