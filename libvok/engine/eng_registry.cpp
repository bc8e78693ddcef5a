#include "engine/eng_registry.h"

#include "algo/spectral/sfp_family.h"
#include "algo/stream/stream.h"

#include <atomic>

namespace {

const uint32_t kAlgorithmCount = 5;

// Row order is part of the engine's definition: lookups take the first match.
const AlgorithmEntry kRegistry[kAlgorithmCount] = {
    {3, strm_create, strm_destroy, strm_add_audio, strm_serialize}, // Stream1
    {4, strm_create, strm_destroy, strm_add_audio, strm_serialize}, // Stream4
    {5, strm_create, strm_destroy, strm_add_audio, strm_serialize}, // streaming, 6-second blocks
    // The spectral family picks its arithmetic from the id given to create.
    {1, sfp_create, sfp_destroy, sfp_add_audio, sfp_serialize}, // FileFixed
    {2, sfp_create, sfp_destroy, sfp_add_audio, sfp_serialize}, // FileFloat
};

std::atomic<const AlgorithmEntry *> g_rows{kRegistry};

} // namespace

uint32_t eng_algorithm_count(void)
{
    return kAlgorithmCount;
}

const AlgorithmEntry *eng_registry_find(uint32_t algorithm_id)
{
    const AlgorithmEntry *rows = g_rows.load(std::memory_order_acquire);
    for (uint32_t i = 0; i < eng_algorithm_count(); ++i) {
        // A row whose family is not built in offers nothing.
        if (rows[i].id == algorithm_id && rows[i].create)
            return &rows[i];
    }
    return nullptr;
}

void eng_registry_override(const AlgorithmEntry *rows)
{
    g_rows.store(rows ? rows : kRegistry, std::memory_order_release);
}
