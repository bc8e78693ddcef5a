// The index in LMDB, a memory-mapped B+-tree: one environment in the index
// folder with a database per table. Postings are sorted fixed-size
// duplicates under their word (MDB_DUPSORT | MDB_DUPFIXED), so that a
// lookup is one descent of the tree and the postings of a word lie side by
// side on their pages. Readers never wait: each view is a snapshot.
//
// Every commit counts itself in the store (vokid's commit counter) and
// then in the folder's header: a store that opens older than its header
// says (a meta page rolled back, an older data file put in its place) is
// refused, and no batch begins on it. A data file renamed in by compact
// or upgrade is opened at the next view or batch, once the views of the
// old one have ended.
#ifndef VOKID_INDEX_LMDB_LMDB_STORE_H
#define VOKID_INDEX_LMDB_LMDB_STORE_H

#include <cstdint>
#include <memory>
#include <string>

#include "vokid/index/index_store.h"
#include "vokid/index/lmdb/index_header.h"
#include "vokid/index/lmdb/lmdb_environment.h"

namespace vokid {

class LmdbStore final : public IndexStore {
public:
    // Opens the store of a folder whose header and store files have been
    // checked. Throws IndexError: for writing, an index of format version
    // 1 (vokid upgrade converts it); and an index older than its header.
    // `upgrading` opens one of version 1 for writing, for vokid upgrade.
    LmdbStore(const std::string &folder, const IndexHeader &header, bool writable,
              bool upgrading = false);
    ~LmdbStore() override;

    std::unique_ptr<IndexView> view() override;
    std::unique_ptr<IndexBatch> batch() override;
    uint32_t step() const override;
    void setWaitNotice(std::function<void()> notice) override;
    bool releaseReserve() override;

    // The opening of the current data file, for the work on the whole
    // store (copies): views of it may go on while it is held.
    std::shared_ptr<LmdbEnvironment> environment();

    struct Shared;

private:
    std::shared_ptr<Shared> shared; // with the views and batches
};

// The refusal of a store that holds fewer commits than its header counts.
IndexError olderThanItsHeader(const std::string &folder, uint64_t stored, uint64_t header);

} // namespace vokid

#endif
