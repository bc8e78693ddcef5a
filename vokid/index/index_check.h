// The whole index read back and cross-checked (`vokid check`): every track
// record, its stored sequence (its size as the record counts it, whole
// blocks), its path (found again by it), and its postings (every indexed
// position of the sequence has its posting under the word stored there,
// and the track has no other postings under those words); then the
// counts: the postings the table holds are exactly those the tracks
// account for, so that none points at a word or a track that is not
// there.
#ifndef VOKID_INDEX_INDEX_CHECK_H
#define VOKID_INDEX_INDEX_CHECK_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "vokid/index/index_store.h"

namespace vokid {

struct TrackProblem {
    uint32_t id = 0;
    std::string path;
    std::string problem;
};

struct CheckReport {
    uint64_t tracks = 0;               // track records read
    std::vector<TrackProblem> damaged; // tracks that do not read back whole, by id
    std::vector<std::string> problems; // of the index as a whole

    bool ok() const { return damaged.empty() && problems.empty(); }
};

// `progress(done, total)` is called before each track. Damage found is
// reported, not thrown; what is not damage (the store failing to open a
// view: a lock table full, memory) throws as it would elsewhere.
CheckReport checkIndex(IndexStore &store,
                       const std::function<void(size_t done, size_t total)> &progress = {});

} // namespace vokid

#endif
