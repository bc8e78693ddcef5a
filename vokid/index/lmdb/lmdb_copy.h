// Copies of an LMDB index folder, record by record: each table appended in
// order into a new store (so that its pages are full, where the store's
// own copy keeps each page as full as it was), every record checked as it
// is read, records of format version 1 written in version 2.
//
// A copy that replaces the folder's data file (compact, upgrade) is
// written beside it and renamed over it while the write lock is held, its
// meta pages given the transaction id the folder's lock file goes by, so
// that the processes that share the lock file read and write it as they
// expect; each of them opens it at its next view or batch (lmdb_store.h).
#ifndef VOKID_INDEX_LMDB_LMDB_COPY_H
#define VOKID_INDEX_LMDB_LMDB_COPY_H

#include <string>

#include "vokid/index/open_store.h"

namespace vokid {

CopyReport backupLmdbFolder(const std::string &folder, const std::string &destination,
                            const CopyProgress &progress);
CopyReport compactLmdbFolder(const std::string &folder, const CopyProgress &progress);
CopyReport compactLmdbFolderInto(const std::string &folder, const std::string &into,
                                 const CopyProgress &progress);
CopyReport upgradeLmdbFolder(const std::string &folder, const CopyProgress &progress);

} // namespace vokid

#endif
