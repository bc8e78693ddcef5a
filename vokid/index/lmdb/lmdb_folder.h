// Opening an LMDB index folder: created on first use by a command that
// writes, and checked (its header, its data file) before the store is
// opened or mapped. A folder that holds something else is never written to.
#ifndef VOKID_INDEX_LMDB_LMDB_FOLDER_H
#define VOKID_INDEX_LMDB_LMDB_FOLDER_H

#include <memory>
#include <string>

#include "vokid/index/index_store.h"

namespace vokid {

// StoreAccess::Write creates the index where the folder is missing or
// empty. Throws IndexError with the cause in plain words ("no vokid index
// here", "not a vokid index: ...", "the data file is truncated: ...").
std::unique_ptr<IndexStore> openLmdbFolder(const std::string &folder, StoreAccess access);

} // namespace vokid

#endif
