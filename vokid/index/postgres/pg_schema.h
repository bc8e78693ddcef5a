// The index's tables in a PostgreSQL database, all in the schema "vokid"
// (so that they stand apart from whatever else the database holds):
//
//   store      one row: the version of these tables (kSchemaVersion), the
//              index's step, vokid's own commit counter (every committed
//              batch counts one, as the LMDB store counts its commits),
//              the postings held and the tracks' totals (TrackTotals)
//   track_ids  the sequence of new tracks' ids: never given twice, also
//              when the batch that took one is rolled back, and taken by
//              batches at once without waiting for each other
//   tracks     id, path, size, modified, record: the track record in its
//              stored form (track_info.h), with its file's identity (path,
//              size and time) in columns of their own. The path is bytes
//              (a file name need not be valid UTF-8), with a hash index for
//              trackAt; the identity of a file (size above 0: not standard
//              input) has a unique key, on the path's SHA-256 (a b-tree
//              entry holds no path of any length), so that writers who
//              find the same file at once store it once
//   sequences  track, print: the whole print in its stored form
//              (track_print.h, packed), kept out of line and not
//              compressed again
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
#include "vokid/index/track_info.h"

namespace vokid {

// Version 1 kept the next id in the store row and the file's identity in
// the record alone; versions 1 and 2 keep the sequences in the plain form
// (kPlainSequenceForm), version 3 in the packed one (track_print.h).
constexpr int32_t kSchemaVersion = 3;
constexpr uint32_t kPlainSequenceForm = 3;

// The key of the transaction-level advisory lock taken to create the
// tables and to convert them, by one process at a time.
constexpr int64_t kBatchLockKey = 0x766F6B6964; // "vokid"

// The SQL of a statement the store prepares, by name; throws
// std::logic_error for a name it does not know.
const char *statementText(const char *name);

// The totals of the tracks, kept in the store row so that stats (and a
// lookup server's health check) need not read every track: each batch
// adds what it changed at its commit.
struct TrackTotals {
    int64_t tracks = 0;
    double seconds = 0;
    int64_t words = 0;
    int64_t trackPostings = 0;
    int64_t withValues = 0;

    // A track's record added (sign 1) or taken away (-1).
    void add(const TrackInfo &info, int sign);
    // The five as parameters, after `before`'s.
    PgParams params(PgParams before) const;
};

// What the store row says.
struct StoreRow {
    int32_t version = 0;
    uint32_t step = 0;
    uint64_t nextId = 0; // from the sequence
    uint64_t commits = 0;
    uint64_t postings = 0;
    TrackTotals totals;
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
// The store row, checked: throws OlderFormat for tables of an older
// version, IndexError for a newer one, and IndexDamaged for a step out of
// range or a missing row.
StoreRow readStoreRow(PgConnection &connection);
// Begins a transaction (`begin`: "BEGIN ISOLATION LEVEL ...") and reads the
// tables' version in the same round trip, which takes a REPEATABLE READ
// transaction's snapshot; throws as readStoreRow does.
void beginTransaction(PgConnection &connection, const char *begin, const char *doing);
// Converts tables of an older version to this one, in one transaction
// that waits for every other writer; the version they had (this one when
// there was nothing to do). `tracks` receives how many the index holds.
int32_t upgradeSchema(PgConnection &connection, uint64_t &tracks);

} // namespace vokid

#endif
