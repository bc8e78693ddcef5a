// The index in a PostgreSQL database (tables: pg_schema.h), named by a
// libpq connection URI ("postgresql://user@host:5432/music"), which is
// handed to libpq as it is: passwords come from ~/.pgpass or PGPASSWORD as
// libpq reads them.
//
// A view is a REPEATABLE READ, READ ONLY transaction on a connection of
// its own, begun when the view is made: one consistent state, whatever is
// committed meanwhile. A batch is one READ COMMITTED transaction; batches
// of any number of processes write at once (concurrentBatches()), each
// track's rows locked by the batch that writes them, a file's identity
// kept once by its unique key, ids taken from a sequence. Connections are
// kept in a small pool between views and batches.
#ifndef VOKID_INDEX_POSTGRES_POSTGRES_STORE_H
#define VOKID_INDEX_POSTGRES_POSTGRES_STORE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vokid/index/index_store.h"
#include "vokid/index/postings.h"

namespace vokid {

// StoreAccess::Write creates the index's tables in a database that has
// none, with `step`. Throws IndexError: no connection ("cannot connect to
// the PostgreSQL server: ..."), no index in the database for Read and
// Update, tables of another version; std::invalid_argument for a step
// outside 1 to kMaxStep.
std::unique_ptr<IndexStore> openPostgresStore(const std::string &location, StoreAccess access,
                                              uint32_t step = kDefaultStep);

// Converts the index's tables of an older schema version (pg_schema.h);
// the version they had. `tracks` receives how many the index holds.
int32_t upgradePostgresTables(const std::string &location, uint64_t &tracks);
// A new, empty index in the database (and its shards, when there are any:
// pg_shards.h). Throws IndexError when an index is there already.
void createPostgresIndex(const std::string &location, uint32_t step,
                         const std::vector<std::string> &shards);

} // namespace vokid

#endif
