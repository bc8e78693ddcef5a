// The index's tables in a PostgreSQL database, all in the schema "vokid"
// (so that they stand apart from whatever else the database holds):
//
//   store      one row: the version of these tables (kSchemaVersion), the
//              index's step, the id the next new track gets, vokid's own
//              commit counter (every committed batch counts one, as the
//              LMDB store counts its commits), and the postings held
//   tracks     id, path, record: the track record in its stored form
//              (track_info.h); the path (as bytes: a file name need not be
//              valid UTF-8) with a hash index, for trackAt
//   sequences  track, print: the whole print in its stored form
//              (track_print.h), kept out of line and uncompressed
//   postings   word, track, position: one row per posting, with a b-tree
//              on all three, so that a word's postings are read from the
//              index alone, in order of track and position
//
// Words, ids and positions are 32-bit unsigned: each is kept in an integer
// column with the same bit pattern (static_cast<int32_t>), and put back in
// unsigned order where the order matters.
#ifndef VOKID_INDEX_POSTGRES_PG_SCHEMA_H
#define VOKID_INDEX_POSTGRES_PG_SCHEMA_H

#include <cstdint>
#include <string>

#include "vokid/index/postgres/pg_connection.h"

namespace vokid {

constexpr int32_t kSchemaVersion = 1;

// The key of the transaction-level advisory lock a batch holds: one batch
// at a time on the database's index, whichever process opens it.
constexpr int64_t kBatchLockKey = 0x766F6B6964; // "vokid"

// The SQL of a statement the store prepares, by name; throws
// std::logic_error for a name it does not know.
const char *statementText(const char *name);

// What the store row says.
struct StoreRow {
    int32_t version = 0;
    uint32_t step = 0;
    uint64_t nextId = 0;
    uint64_t commits = 0;
    uint64_t postings = 0;
};

// The SQL that makes the sequences and postings tables in the schema.
const char *contentsTables();

// Whether the database holds the index's tables.
bool hasIndex(PgConnection &connection);
// Creates the tables, in one transaction that holds the batch lock, unless
// another process made them meanwhile. Throws IndexError when the
// database has a schema "vokid" of something else. `contents`, when not
// empty, is the SQL that makes the sequences and postings in place of
// the tables here (a sharded index's: pg_shards.h).
void createIndex(PgConnection &connection, uint32_t step, const std::string &contents = "");
// The store row, checked: throws IndexError for another schema version,
// and IndexDamaged for a step out of range or a missing row.
StoreRow readStoreRow(PgConnection &connection);

} // namespace vokid

#endif
