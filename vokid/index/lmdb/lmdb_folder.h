// Opening an LMDB index folder: created on first use by a command that
// writes, and checked (its files, its header, its data file) before the
// store is opened or mapped. A folder that holds something else is never
// written to.
//
// Creation is one step to those who look: the header, written last, is
// what makes a folder an index. Creators take turns (a lock on the
// folder), so that any number of them at once all end with the one index;
// and what a creation that stopped midway left (the header's scratch file,
// which it writes first as its mark, the store's files) is cleared by the
// next creator. A folder whose header counts no commit and has no data
// file (left by vokid before 1.2) is such a creation too.
#ifndef VOKID_INDEX_LMDB_LMDB_FOLDER_H
#define VOKID_INDEX_LMDB_LMDB_FOLDER_H

#include <cstdint>
#include <memory>
#include <string>

#include "vokid/index/index_store.h"
#include "vokid/index/lmdb/lmdb_store.h"

namespace vokid {

// StoreAccess::Write creates the index where the folder is missing or
// empty. Throws IndexError with the cause in plain words ("no vokid index
// here", "not a vokid index: ...", "the index is damaged: ..."). The
// index it creates has `step`; when 0, the one an unfinished creation's
// header names, or kDefaultStep.
std::unique_ptr<IndexStore> openLmdbFolder(const std::string &folder, StoreAccess access,
                                           uint32_t step = 0);
// The same as the LMDB store itself; `upgrading` opens an index of an
// older format version for writing (vokid upgrade).
std::unique_ptr<LmdbStore> openLmdbStore(const std::string &folder, StoreAccess access,
                                         bool upgrading = false, uint32_t step = 0);

// Creates an empty index with `step` in a folder that is missing or empty
// (or holds what a stopped creation left). Throws IndexError when an
// index is there already or the folder holds other files,
// std::invalid_argument for a step outside 1 to kMaxStep.
void createLmdbFolder(const std::string &folder, uint32_t step);

// Throws IndexError unless `folder` holds an index whose store files are
// plain files and whose data file holds every page its meta pages name.
void checkLmdbFolder(const std::string &folder);

} // namespace vokid

#endif
