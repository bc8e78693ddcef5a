// An index copied into another store, of any kind: an index folder into a
// PostgreSQL database, a database into a folder, a database into another.
// Each track keeps its id, record, FileFloat values and print; its
// postings are made again by the destination's step.
#ifndef VOKID_INDEX_STORE_COPY_H
#define VOKID_INDEX_STORE_COPY_H

#include <cstdint>
#include <functional>

#include "vokid/index/index_store.h"

namespace vokid {

struct StoreCopyReport {
    uint64_t copied = 0;  // tracks put into the destination
    uint64_t present = 0; // there already, the same file under the same id
};

// Copies one state of `from` (a view) into `to`, `perBatch` tracks per
// transaction, calling `step(done, total)` now and then. A track the
// destination holds already (the same id and file) is left as it is, so
// that a copy stopped part way is completed by running it again; a
// destination that holds another file under a track's id, or the track's
// file under another id, is refused (IndexError naming the track) before
// that track's batch commits. Throws IndexDamaged for a track of `from`
// whose print does not read back; the batches committed before are kept,
// and `report` counts them, also when it throws.
void copyStore(IndexStore &from, IndexStore &to, size_t perBatch,
               const std::function<void(uint64_t done, uint64_t total)> &step,
               StoreCopyReport &report);

} // namespace vokid

#endif
