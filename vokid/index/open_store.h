// The store an index location names, as the user gives it for DB: a path
// is an LMDB index folder (vokid/index/lmdb/), and a location that starts
// with a URI scheme and "://" is a store elsewhere, each scheme a store of
// its own: "postgresql://" (or "postgres://") is an index in a PostgreSQL
// database (vokid/index/postgres/), the location a libpq connection URI;
// another scheme is refused by its name. A folder whose name starts like
// a URI is written with "./" before it.
#ifndef VOKID_INDEX_OPEN_STORE_H
#define VOKID_INDEX_OPEN_STORE_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vokid/index/index_store.h"

namespace vokid {

// The scheme of a location, as written: "postgresql" for
// "postgresql://host/db"; empty for a path. A scheme is a letter, then
// letters, digits, "+", "-" or ".".
std::string_view schemeOf(std::string_view location);
// Whether a location names an index in PostgreSQL (postgresql:// or
// postgres://).
bool isPostgresLocation(std::string_view location);

// Throws IndexError with the cause in plain words: the store's own
// refusals, or "vokid+tcp:// indexes are not supported yet ...". An index
// that StoreAccess::Write creates has `step` (kDefaultStep when 0).
std::unique_ptr<IndexStore> openStore(const std::string &location, StoreAccess access,
                                      uint32_t step = 0);

// Creates an empty index with `step` (1 to kMaxStep) at the location: an
// LMDB folder, or the tables in a PostgreSQL database; with `shards`
// (libpq URIs: PostgreSQL only), a sharded index whose location is the
// coordinator (pg_shards.h). Throws IndexError when an index is there
// already, std::invalid_argument for a step out of range or shards for a
// folder.
void createIndexAt(const std::string &location, uint32_t step,
                   const std::vector<std::string> &shards);

// A location as messages name it: a URI without its password (the one
// of "user:password@", and a "password=" parameter). A path as it is.
std::string shownLocation(const std::string &location);

// The work on a whole index: a copy of it, written record by record (a
// store's every page full, its records checked as they are read).
struct CopyProgress {
    // Records copied of all; called now and then, and at the end.
    std::function<void(uint64_t done, uint64_t total)> step;
    // Called once when the work waits for another process's batch to end.
    std::function<void()> waiting;
};

struct CopyReport {
    uint64_t tracks = 0;
    uint64_t commits = 0;     // the commits the copy counts
    uint64_t bytesBefore = 0; // the store's files before
    uint64_t bytesAfter = 0;  // the copy's
    bool done = true;         // upgrade: false when there was nothing to do
    std::string version;      // upgrade: what the index is now ("format version 3")
};

// A consistent copy of the index as a new index at `destination`, which
// must not exist, while others read and write it; it opens as it is.
CopyReport backupIndex(const std::string &location, const std::string &destination,
                       const CopyProgress &progress);
// The index rewritten with no free pages, taking the write lock: in place
// (the copy renamed in over its store, which needs room for it beside the
// index), or, with `into`, as a new index there, the index itself left
// as it is. Throws NoSpaceError when there is no room.
CopyReport compactIndex(const std::string &location, const std::string &into,
                        const CopyProgress &progress);
// An index of an older format version converted in place, taking the
// write lock; an interruption leaves it as it was. In PostgreSQL, its
// tables of an older schema version, in one transaction.
CopyReport upgradeIndex(const std::string &location, const CopyProgress &progress);

} // namespace vokid

#endif
