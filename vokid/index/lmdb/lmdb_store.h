// The index in LMDB, a memory-mapped B+-tree: one environment in the index
// folder with a database per table. Postings are sorted fixed-size
// duplicates under their word (MDB_DUPSORT | MDB_DUPFIXED), so that a
// lookup is one descent of the tree and the postings of a word lie side by
// side on their pages. Readers never wait: each view is a snapshot.
#ifndef VOKID_INDEX_LMDB_LMDB_STORE_H
#define VOKID_INDEX_LMDB_LMDB_STORE_H

#include <cstdint>
#include <memory>
#include <string>

#include "vokid/index/index_store.h"
#include "vokid/index/lmdb/lmdb_handles.h"

namespace vokid {

class LmdbStore final : public IndexStore {
public:
    // Opens (for writing: creates) the store in a folder whose header and
    // data file have been checked.
    LmdbStore(const std::string &folder, bool writable, uint32_t step);

    std::unique_ptr<IndexView> view() override;
    std::unique_ptr<IndexBatch> batch() override;
    uint32_t step() const override { return indexStep; }

    struct Tables {
        MDB_dbi tracks = 0;
        MDB_dbi sequences = 0;
        MDB_dbi postings = 0;
        MDB_dbi paths = 0;
        MDB_dbi info = 0;
        MDB_dbi main = 0; // the store's table of tables
    };

private:
    void openEnvironment(bool writable);
    void openTables(bool writable);

    std::unique_ptr<LmdbEnv> env;
    Tables tables;
    uint32_t indexStep;
    std::string folder;
    bool writable;
};

} // namespace vokid

#endif
