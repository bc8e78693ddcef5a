// The index in memory, with the semantics of the stores that keep it
// elsewhere: views are snapshots that later commits leave as they were,
// one batch at a time (a second waits), nothing of a batch seen or kept
// before its commit, ids given as the LMDB store gives them. For tests,
// and for indexes built and searched in one process: a batch copies the
// index's tables on its first change, so a large index wants a store on
// disk.
#ifndef VOKID_INDEX_MEMORY_STORE_H
#define VOKID_INDEX_MEMORY_STORE_H

#include <cstdint>
#include <memory>

#include "vokid/index/index_store.h"
#include "vokid/index/postings.h"

namespace vokid {

class MemoryStore final : public IndexStore {
public:
    // Throws std::invalid_argument for a step outside 1 to kMaxStep.
    explicit MemoryStore(uint32_t step = kDefaultStep);
    ~MemoryStore() override;

    std::unique_ptr<IndexView> view() override;
    std::unique_ptr<IndexBatch> batch() override;
    uint32_t step() const override;

    struct State;
    struct Shared;

private:
    std::shared_ptr<Shared> shared; // with the batches, which may outlive the store
};

} // namespace vokid

#endif
