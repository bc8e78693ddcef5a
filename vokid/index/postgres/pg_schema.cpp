#include "vokid/index/postgres/pg_schema.h"

#include <cstring>
#include <stdexcept>
#include <vector>

#include "vokid/index/index_error.h"
#include "vokid/index/postings.h"
#include "vokid/index/stored_form.h"
#include "vokid/index/track_info.h"
#include "vokid/index/track_print.h"

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
    commits bigint NOT NULL,
    postings bigint NOT NULL,
    tracks bigint NOT NULL DEFAULT 0,
    seconds double precision NOT NULL DEFAULT 0,
    words bigint NOT NULL DEFAULT 0,
    track_postings bigint NOT NULL DEFAULT 0,
    with_values bigint NOT NULL DEFAULT 0);
CREATE SEQUENCE vokid.track_ids AS bigint MINVALUE 1 MAXVALUE 4294967295;
CREATE TABLE vokid.tracks (
    id integer PRIMARY KEY,
    path bytea NOT NULL,
    size bigint NOT NULL,
    modified bigint NOT NULL,
    record bytea NOT NULL);
CREATE UNIQUE INDEX tracks_file ON vokid.tracks (sha256(path), size, modified) WHERE size > 0;
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

// From version 1: the file's identity in columns of its own, with its
// unique key, the tracks' totals in the store row (the columns are filled
// from the records in between), and the next id from a sequence instead
// of the store row.
const char *const kToVersion2Columns = R"(
ALTER TABLE vokid.tracks ADD COLUMN size bigint, ADD COLUMN modified bigint;
ALTER TABLE vokid.store ADD COLUMN tracks bigint NOT NULL DEFAULT 0,
    ADD COLUMN seconds double precision NOT NULL DEFAULT 0,
    ADD COLUMN words bigint NOT NULL DEFAULT 0,
    ADD COLUMN track_postings bigint NOT NULL DEFAULT 0,
    ADD COLUMN with_values bigint NOT NULL DEFAULT 0;
)";
const char *const kToVersion2Keys = R"(
ALTER TABLE vokid.tracks ALTER COLUMN size SET NOT NULL, ALTER COLUMN modified SET NOT NULL;
CREATE UNIQUE INDEX tracks_file ON vokid.tracks (sha256(path), size, modified) WHERE size > 0;
CREATE SEQUENCE vokid.track_ids AS bigint MINVALUE 1 MAXVALUE 4294967295;
SELECT setval('vokid.track_ids', next_id, false) FROM vokid.store;
ALTER TABLE vokid.store DROP COLUMN next_id;
UPDATE vokid.store SET version = 2, commits = commits + 1;
)";

struct Statement {
    const char *name;
    const char *sql;
};

// A lookup is one statement for all its words: each word's postings read
// from the b-tree alone, in order of track and position, up to one past
// the limit (a word that common is no evidence, and is not read whole).
// Rows carry the word's place in the list asked.
const Statement kStatements[] = {
    {"store_row", R"(
SELECT version, step, commits, postings,
       CASE WHEN is_called THEN last_value + 1 ELSE last_value END,
       tracks, seconds, words, track_postings, with_values
FROM vokid.store, vokid.track_ids)"},
    {"track", "SELECT record FROM vokid.tracks WHERE id = $1::int4"},
    {"track_at", "SELECT id, record FROM vokid.tracks WHERE path = $1::bytea"},
    {"tracks", "SELECT id, record FROM vokid.tracks"},
    {"sequence", "SELECT print FROM vokid.sequences WHERE track = $1::int4"},
    {"sequences", "SELECT track, print FROM vokid.sequences WHERE track = ANY($1::int4[])"},
    {"postings", R"(
SELECT asked.n, p.track, p.position
FROM unnest($1::int4[]) WITH ORDINALITY AS asked(word, n)
CROSS JOIN LATERAL (
    SELECT track, position FROM vokid.postings p WHERE p.word = asked.word LIMIT $2::int8) p)"},
    // A new track of a file that is stored already (by another writer,
    // whose batch this one may have waited for) is no row.
    {"new_track", R"(
INSERT INTO vokid.tracks (id, path, size, modified, record)
VALUES ($1::int4, $2::bytea, $3::int8, $4::int8, $5::bytea)
ON CONFLICT (sha256(path), size, modified) WHERE size > 0 DO NOTHING)"},
    // The record replaced, for the totals.
    {"replace_track", R"(
WITH old AS (SELECT id, record FROM vokid.tracks WHERE id = $1::int4 FOR UPDATE)
UPDATE vokid.tracks SET path = $2::bytea, size = $3::int8, modified = $4::int8, record = $5::bytea
FROM old WHERE tracks.id = old.id RETURNING old.record)"},
    {"put_sequence", R"(
INSERT INTO vokid.sequences (track, print) VALUES ($1::int4, $2::bytea)
ON CONFLICT (track) DO UPDATE SET print = EXCLUDED.print)"},
    {"set_record", "UPDATE vokid.tracks SET record = $2::bytea WHERE id = $1::int4"},
    {"remove_postings",
     "DELETE FROM vokid.postings WHERE word = ANY($1::int4[]) AND track = $2::int4"},
    {"remove_sequence", "DELETE FROM vokid.sequences WHERE track = $1::int4"},
    {"remove_track", "DELETE FROM vokid.tracks WHERE id = $1::int4 RETURNING record"},
    {"next_id", "SELECT nextval('vokid.track_ids')"},
    {"keep_id", R"(
SELECT setval('vokid.track_ids', greatest($1::int8, CASE WHEN is_called THEN last_value ELSE 0 END))
FROM vokid.track_ids)"},
    {"count_commit", R"(
UPDATE vokid.store SET commits = commits + 1, postings = postings + $1::int8,
    tracks = tracks + $2::int8, seconds = seconds + $3::float8, words = words + $4::int8,
    track_postings = track_postings + $5::int8, with_values = with_values + $6::int8)"},
    {"set_totals", R"(
UPDATE vokid.store SET postings = postings + $1::int8,
    tracks = $2::int8, seconds = $3::float8, words = $4::int8,
    track_postings = $5::int8, with_values = $6::int8)"},
    {"set_identities", R"(
UPDATE vokid.tracks SET size = given.size, modified = given.modified
FROM unnest($1::int4[], $2::int8[], $3::int8[]) AS given(id, size, modified)
WHERE tracks.id = given.id)"},
    {"sizes", R"(
SELECT pg_total_relation_size('vokid.postings'), pg_total_relation_size('vokid.sequences'),
       pg_total_relation_size('vokid.tracks') + pg_total_relation_size('vokid.store'),
       pg_database_size(current_database()))"},
};

} // namespace

void TrackTotals::add(const TrackInfo &info, int sign)
{
    tracks += sign;
    seconds += sign * info.duration;
    words += sign * static_cast<int64_t>(info.words);
    trackPostings += sign * static_cast<int64_t>(info.postings);
    withValues += info.values ? sign : 0;
}

PgParams TrackTotals::params(PgParams before) const
{
    return before.int8(tracks).float8(seconds).int8(words).int8(trackPostings).int8(withValues);
}

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
            connection.exec("INSERT INTO vokid.store (version, step, commits, postings) "
                            "VALUES (" +
                                std::to_string(kSchemaVersion) + ", " + std::to_string(step) +
                                ", 1, 0)",
                            "create the index");
        }
        connection.exec("COMMIT", "create the index");
    } catch (const IndexError &) {
        connection.rollback();
        throw;
    }
}

namespace {

int32_t versionOf(PgConnection &connection)
{
    const PgResult result = connection.exec("SELECT version FROM vokid.store", "read the index");
    if (result.rows() != 1)
        throw damaged("its store table has " + std::to_string(result.rows()) + " rows, not 1");
    return std::stoi(std::string(PQgetvalue(result.get(), 0, 0)));
}

void requireVersion(int32_t version)
{
    if (version > kSchemaVersion)
        throw IndexError("the index's tables have schema version " + std::to_string(version) +
                         ", this vokid reads version " + std::to_string(kSchemaVersion) +
                         " (a newer vokid made them)");
    if (version < kSchemaVersion)
        throw OlderFormat("the index's tables have schema version " + std::to_string(version) +
                          ": vokid upgrade converts them to version " +
                          std::to_string(kSchemaVersion));
}

// The file's size and time of each track, from its record; a record that
// does not read back gives its track an identity no file has (size 0),
// for vokid check to report.
void fillIdentities(PgConnection &connection)
{
    const PgResult result = connection.run("tracks", PgParams(), "read the tracks");
    std::vector<int32_t> ids;
    std::vector<int64_t> sizes, times;
    TrackTotals totals;
    for (int row = 0; row < result.rows(); ++row) {
        const int32_t id = result.int4(row, 0);
        TrackInfo info;
        try {
            info = decodeTrack(static_cast<uint32_t>(id), result.bytes(row, 1));
            totals.add(info, 1);
        } catch (const IndexError &) {
            ++totals.tracks;
        }
        ids.push_back(id);
        sizes.push_back(static_cast<int64_t>(info.fileSize));
        times.push_back(info.modified);
    }
    connection.run("set_identities", PgParams().int4Array(ids).int8Array(sizes).int8Array(times),
                   "keep the tracks' files");
    connection.run("set_totals", totals.params(PgParams().int8(0)), "keep the tracks' totals");
}

// From version 2: each sequence in the packed form, a few hundred
// tracks read at a time. One that does not read back (damaged before) is
// left as it is, for vokid check to name.
void packSequences(PgConnection &connection)
{
    constexpr int kChunk = 256;
    int64_t after = -1; // tracks in unsigned order, by their 64-bit value
    for (;;) {
        const PgResult result = connection.runText(
            "SELECT track, print FROM vokid.sequences WHERE track::int8 & 4294967295 > $1 "
            "ORDER BY track::int8 & 4294967295 LIMIT " +
                std::to_string(kChunk),
            PgParams().int8(after), "read the sequences");
        for (int row = 0; row < result.rows(); ++row) {
            const auto id = static_cast<uint32_t>(result.int4(row, 0));
            after = int64_t{id};
            std::string packed;
            try {
                packed = encodeSequence(decodeSequence(result.bytes(row, 1), id, kPlainSequenceForm),
                                        id, kStoredForm);
            } catch (const IndexError &) {
                continue;
            }
            connection.runText("UPDATE vokid.sequences SET print = $2 WHERE track = $1",
                               PgParams().int4(static_cast<int32_t>(id)).bytes(packed),
                               "pack the sequences");
        }
        if (result.rows() < kChunk)
            return;
    }
}

} // namespace

void beginTransaction(PgConnection &connection, const char *begin, const char *doing)
{
    const PgResult result =
        connection.exec(std::string(begin) + "; SELECT version FROM vokid.store", doing);
    if (result.rows() != 1)
        throw damaged("its store table has " + std::to_string(result.rows()) + " rows, not 1");
    requireVersion(std::stoi(std::string(PQgetvalue(result.get(), 0, 0))));
}

StoreRow readStoreRow(PgConnection &connection)
{
    // The version first, by a statement every version answers.
    const int32_t version = versionOf(connection);
    requireVersion(version);
    const PgResult result = connection.run("store_row", PgParams(), "read the index");
    if (result.rows() != 1)
        throw damaged("its store table has " + std::to_string(result.rows()) + " rows, not 1");
    StoreRow row;
    row.version = result.int4(0, 0);
    requireVersion(row.version);
    const int32_t step = result.int4(0, 1);
    if (step < 1 || step > static_cast<int32_t>(kMaxStep))
        throw damaged("its step is " + std::to_string(step));
    row.step = static_cast<uint32_t>(step);
    row.commits = static_cast<uint64_t>(result.int8(0, 2));
    row.postings = static_cast<uint64_t>(result.int8(0, 3));
    row.nextId = static_cast<uint64_t>(result.int8(0, 4));
    row.totals.tracks = result.int8(0, 5);
    row.totals.seconds = result.float8(0, 6);
    row.totals.words = result.int8(0, 7);
    row.totals.trackPostings = result.int8(0, 8);
    row.totals.withValues = result.int8(0, 9);
    return row;
}

int32_t upgradeSchema(PgConnection &connection, uint64_t &tracks)
{
    try {
        connection.exec("BEGIN; SELECT pg_advisory_xact_lock(" + std::to_string(kBatchLockKey) +
                            "); LOCK TABLE vokid.store, vokid.tracks IN ACCESS EXCLUSIVE MODE",
                        "upgrade the index");
        const int32_t version = versionOf(connection);
        if (version > kSchemaVersion)
            requireVersion(version);
        if (version == 1) {
            connection.exec(kToVersion2Columns, "upgrade the index");
            fillIdentities(connection);
            connection.exec(kToVersion2Keys, "upgrade the index");
        }
        if (version <= 2) {
            packSequences(connection);
            connection.exec("UPDATE vokid.store SET version = 3" +
                                std::string(version == 2 ? ", commits = commits + 1" : ""),
                            "upgrade the index");
        }
        tracks = static_cast<uint64_t>(
            std::stoll(PQgetvalue(connection.exec("SELECT count(*) FROM vokid.tracks",
                                                  "count the tracks")
                                      .get(),
                                  0, 0)));
        connection.exec("COMMIT", "upgrade the index");
        return version;
    } catch (const IndexError &) {
        connection.rollback();
        throw;
    }
}

} // namespace vokid
