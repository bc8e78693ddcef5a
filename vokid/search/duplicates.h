// Tracks of an index that are the same recording: a copy, a re-encoding,
// an excerpt. Stretches of each track are searched in the index like
// clips (the track itself left out); tracks whose matches the acceptance
// rule takes are grouped, and for each pair the overlapping stretch where
// they agree is measured.
#ifndef VOKID_SEARCH_DUPLICATES_H
#define VOKID_SEARCH_DUPLICATES_H

#include <cstdint>
#include <vector>

#include "vokid/index/index_store.h"
#include "vokid/search/worker_pool.h"

namespace vokid {

struct DuplicatePair {
    uint32_t a = 0; // a < b
    uint32_t b = 0;
    double aStart = 0; // seconds: the stretch starts here in a ...
    double bStart = 0; // ... and here in b
    double seconds = 0;
    double ber = 0;
    uint64_t pairs = 0; // sub-fingerprint pairs without quiet frames
};

struct DuplicateGroup {
    std::vector<uint32_t> tracks; // ascending
    std::vector<DuplicatePair> pairs;
};

// Groups in order of their first track.
std::vector<DuplicateGroup> findDuplicates(IndexStore &store, WorkerPool &pool);

} // namespace vokid

#endif
