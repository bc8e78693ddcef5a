#include "vokid/index/postgres/pg_schema.h"

#include <cstring>
#include <stdexcept>

#include "vokid/index/index_error.h"
#include "vokid/index/postings.h"
#include "vokid/index/stored_form.h"

namespace vokid {

namespace {

// The print is stored EXTERNAL: out of line without compression, which
// gains little on sub-fingerprints and would cost every read a pass.
const char *const kCreateTables = R"(
CREATE SCHEMA vokid;
CREATE TABLE vokid.store (
    only_row boolean PRIMARY KEY DEFAULT true CHECK (only_row),
    version integer NOT NULL,
    step integer NOT NULL,
    next_id bigint NOT NULL,
    commits bigint NOT NULL,
    postings bigint NOT NULL);
CREATE TABLE vokid.tracks (
    id integer PRIMARY KEY,
    path bytea NOT NULL,
    record bytea NOT NULL);
CREATE INDEX tracks_path ON vokid.tracks USING hash (path);
)";

// The tracks' contents, in this database (a sharded index puts other
// tables in their place: pg_shards.h).
const char *const kCreateContents = R"(
CREATE TABLE vokid.sequences (
    track integer PRIMARY KEY,
    print bytea NOT NULL);
ALTER TABLE vokid.sequences ALTER COLUMN print SET STORAGE EXTERNAL;
CREATE TABLE vokid.postings (
    word integer NOT NULL,
    track integer NOT NULL,
    position integer NOT NULL);
CREATE INDEX postings_word ON vokid.postings (word, track, position);
)";

struct Statement {
    const char *name;
    const char *sql;
};

// A lookup is one statement for all its words: each word's count (read
// from the b-tree alone, once: the counts are MATERIALIZED), then the
// postings of the words within the limit; a word with none, or with too
// many (whose postings are then not read at all), gives one row of nulls.
// Rows come in the order of the words asked, then of track and position.
const Statement kStatements[] = {
    {"store_row", "SELECT version, step, next_id, commits, postings FROM vokid.store"},
    {"track", "SELECT record FROM vokid.tracks WHERE id = $1::int4"},
    {"track_at", "SELECT id, record FROM vokid.tracks WHERE path = $1::bytea"},
    {"tracks", "SELECT id, record FROM vokid.tracks"},
    {"sequence", "SELECT print FROM vokid.sequences WHERE track = $1::int4"},
    {"postings", R"(
WITH asked AS (
    SELECT word, n FROM unnest($1::int4[]) WITH ORDINALITY AS asked(word, n)),
counted AS MATERIALIZED (
    SELECT n, word, (SELECT count(*) FROM vokid.postings p WHERE p.word = asked.word) AS count
    FROM asked)
SELECT n, count, NULL::int4, NULL::int4 FROM counted
WHERE count = 0 OR count > $2::int8
UNION ALL
SELECT counted.n, counted.count, p.track, p.position
FROM counted JOIN vokid.postings p ON p.word = counted.word
WHERE counted.count BETWEEN 1 AND $2::int8
ORDER BY 1, 3, 4)"},
    {"put_track", R"(
INSERT INTO vokid.tracks (id, path, record) VALUES ($1::int4, $2::bytea, $3::bytea)
ON CONFLICT (id) DO UPDATE SET path = EXCLUDED.path, record = EXCLUDED.record)"},
    {"put_sequence", R"(
INSERT INTO vokid.sequences (track, print) VALUES ($1::int4, $2::bytea)
ON CONFLICT (track) DO UPDATE SET print = EXCLUDED.print)"},
    {"set_record", "UPDATE vokid.tracks SET record = $2::bytea WHERE id = $1::int4"},
    {"remove_postings",
     "DELETE FROM vokid.postings WHERE word = ANY($1::int4[]) AND track = $2::int4"},
    {"remove_sequence", "DELETE FROM vokid.sequences WHERE track = $1::int4"},
    {"remove_track", "DELETE FROM vokid.tracks WHERE id = $1::int4"},
    {"try_lock", "SELECT pg_try_advisory_xact_lock($1::int8)"},
    {"lock", "SELECT pg_advisory_xact_lock($1::int8)"},
    {"set_next_id", "UPDATE vokid.store SET next_id = $1::int8"},
    {"add_postings", "UPDATE vokid.store SET postings = postings + $1::int8"},
    {"count_commit", "UPDATE vokid.store SET commits = commits + 1"},
    {"sizes", R"(
SELECT pg_total_relation_size('vokid.postings'), pg_total_relation_size('vokid.sequences'),
       pg_total_relation_size('vokid.tracks') + pg_total_relation_size('vokid.store'),
       pg_database_size(current_database()))"},
};

} // namespace

const char *statementText(const char *name)
{
    for (const Statement &statement : kStatements)
        if (std::strcmp(statement.name, name) == 0)
            return statement.sql;
    throw std::logic_error(std::string("no statement ") + name);
}

const char *contentsTables()
{
    return kCreateContents;
}

bool hasIndex(PgConnection &connection)
{
    const PgResult result =
        connection.exec("SELECT to_regclass('vokid.store') IS NOT NULL", "read the database");
    return result.rows() == 1 && result.boolean(0, 0);
}

void createIndex(PgConnection &connection, uint32_t step, const std::string &contents)
{
    if (step < 1 || step > kMaxStep)
        throw std::invalid_argument("an index step must be 1 to " + std::to_string(kMaxStep));
    try {
        connection.exec("BEGIN; SELECT pg_advisory_xact_lock(" + std::to_string(kBatchLockKey) +
                            ")",
                        "create the index");
        if (!hasIndex(connection)) {
            connection.exec(kCreateTables, "create the index");
            connection.exec(contents.empty() ? kCreateContents : contents, "create the index");
            // The creation counts as the first commit, as the LMDB store's does.
            connection.exec("INSERT INTO vokid.store (version, step, next_id, commits, postings) "
                            "VALUES (" +
                                std::to_string(kSchemaVersion) + ", " + std::to_string(step) +
                                ", 1, 1, 0)",
                            "create the index");
        }
        connection.exec("COMMIT", "create the index");
    } catch (const IndexError &) {
        connection.rollback();
        throw;
    }
}

StoreRow readStoreRow(PgConnection &connection)
{
    const PgResult result = connection.run("store_row", PgParams(), "read the index");
    if (result.rows() != 1)
        throw damaged("its store table has " + std::to_string(result.rows()) + " rows, not 1");
    StoreRow row;
    row.version = result.int4(0, 0);
    if (row.version != kSchemaVersion)
        throw IndexError("the index's tables have version " + std::to_string(row.version) +
                         ", this vokid reads version " + std::to_string(kSchemaVersion));
    const int32_t step = result.int4(0, 1);
    if (step < 1 || step > static_cast<int32_t>(kMaxStep))
        throw damaged("its step is " + std::to_string(step));
    row.step = static_cast<uint32_t>(step);
    row.nextId = static_cast<uint64_t>(result.int8(0, 2));
    row.commits = static_cast<uint64_t>(result.int8(0, 3));
    row.postings = static_cast<uint64_t>(result.int8(0, 4));
    return row;
}

} // namespace vokid
