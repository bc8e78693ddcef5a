#include "vokid/index/postgres/pg_shards.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <stdexcept>
#include <tuple>

#include "vokid/index/index_error.h"
#include "vokid/index/open_store.h"
#include "vokid/index/postgres/pg_schema.h"

namespace vokid {

namespace {

// A view waits this long for a shard; a batch writes a track's postings
// in one statement, which may take longer.
constexpr const char *kViewTimeout = "1s";
constexpr const char *kBatchTimeout = "10s";
constexpr const char *kSavepoint = "vokid_reads";

// Server options besides the place: the partitions are scanned together,
// a shard that does not answer fails within a second, and rows go in
// and come back in large batches.
constexpr const char *kServerOptions =
    "async_capable 'true', connect_timeout '1', fetch_size '10000', batch_size '1000'";

// The sequences and postings of a shard's database, and what the
// coordinator reads of its sizes.
const char *const kShardViews = R"(
CREATE VIEW vokid.sizes AS SELECT
    pg_total_relation_size('vokid.postings')::int8 AS postings,
    pg_total_relation_size('vokid.sequences')::int8 AS sequences,
    pg_database_size(current_database())::int8 AS database,
    (SELECT count(*) FROM vokid.sequences)::int8 AS tracks;
CREATE TABLE vokid.shard (number integer NOT NULL);
)";

const char *const kCoordinatorTables = R"(
CREATE EXTENSION IF NOT EXISTS postgres_fdw;
CREATE TABLE vokid.shards (
    number integer PRIMARY KEY,
    location text NOT NULL,
    server text NOT NULL);
CREATE TABLE vokid.sequences (
    track integer NOT NULL,
    print bytea NOT NULL) PARTITION BY HASH (track);
CREATE TABLE vokid.postings (
    word integer NOT NULL,
    track integer NOT NULL,
    position integer NOT NULL) PARTITION BY HASH (track);
)";

// The lookup is pushed down whole to each shard as one remote query (the
// word filter with it); counting and the limit are vokid's. A sequence is
// read from its track's partition alone (pruned at run time). A new
// track's sequence and postings have no rows yet (the old ones of a track
// put again are removed first): plain inserts, the postings in batches.
const struct {
    const char *name;
    const char *sql;
} kShardedStatements[] = {
    {"postings", "SELECT word, track, position FROM vokid.postings WHERE word = ANY($1::int4[])"},
    {"put_sequence", "INSERT INTO vokid.sequences (track, print) VALUES ($1::int4, $2::bytea)"},
    {"put_postings", R"(
INSERT INTO vokid.postings (word, track, position)
SELECT word, $2::int4, position FROM unnest($1::int4[], $3::int4[]) AS rows(word, position))"},
};

const char *shardedStatementText(const char *name)
{
    for (const auto &statement : kShardedStatements)
        if (std::strcmp(statement.name, name) == 0)
            return statement.sql;
    return statementText(name);
}

// A string as an SQL literal (standard_conforming_strings is on since
// PostgreSQL 9.1).
std::string literal(const std::string &text)
{
    std::string quoted = "'";
    for (char c : text) {
        quoted += c;
        if (c == '\'')
            quoted += '\'';
    }
    return quoted + "'";
}

std::string serverName(size_t number)
{
    return "vokid_shard_" + std::to_string(number);
}

std::string shardName(size_t number, const std::string &location)
{
    return "shard " + std::to_string(number) + " (" + shownLocation(location) + ")";
}

// The password a URI carries, if any.
std::string passwordOf(const std::string &location)
{
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(location.c_str(), &error);
    PQfreemem(error);
    if (!options)
        return "";
    std::string password;
    for (const PQconninfoOption *option = options; option->keyword; ++option)
        if (std::strcmp(option->keyword, "password") == 0 && option->val)
            password = option->val;
    PQconninfoFree(options);
    return password;
}

// The server and user mapping of a shard, from where vokid's own
// connection to it went (the coordinator's server has neither vokid's
// environment nor its defaults).
std::string serverSql(size_t number, PgConnection &shard, const std::string &location)
{
    PGconn *conn = shard.native();
    const std::string name = serverName(number);
    std::string sql = "CREATE SERVER " + name + " FOREIGN DATA WRAPPER postgres_fdw OPTIONS (";
    const char *host = PQhost(conn);
    if (host && *host)
        sql += "host " + literal(host) + ", ";
    sql += "port " + literal(PQport(conn)) + ", dbname " + literal(PQdb(conn)) + ", " +
           kServerOptions + ");\n";
    sql += "CREATE USER MAPPING FOR CURRENT_USER SERVER " + name + " OPTIONS (user " +
           literal(PQuser(conn));
    const std::string password = passwordOf(location);
    if (!password.empty())
        sql += ", password " + literal(password);
    return sql + ");\n";
}

std::string partitionsSql(size_t number, size_t count, const std::string &location)
{
    const std::string n = std::to_string(number);
    const std::string bounds = " FOR VALUES WITH (MODULUS " + std::to_string(count) +
                               ", REMAINDER " + std::to_string(number - 1) + ") SERVER " +
                               serverName(number);
    std::string sql;
    for (const char *table : {"sequences", "postings"})
        sql += "CREATE FOREIGN TABLE vokid." + std::string(table) + "_" + n +
               " PARTITION OF vokid." + table + bounds +
               " OPTIONS (schema_name 'vokid', table_name '" + table + "');\n";
    sql += "CREATE FOREIGN TABLE vokid.shard_sizes_" + n +
           " (postings int8, sequences int8, database int8, tracks int8) SERVER " +
           serverName(number) + " OPTIONS (schema_name 'vokid', table_name 'sizes');\n";
    sql += "CREATE FOREIGN TABLE vokid.shard_" + n + " (number integer) SERVER " +
           serverName(number) + " OPTIONS (schema_name 'vokid', table_name 'shard');\n";
    sql += "INSERT INTO vokid.shards (number, location, server) VALUES (" + n + ", " +
           literal(shownLocation(location)) + ", " + literal(serverName(number)) + ");\n";
    return sql;
}

bool hasVokidSchema(PgConnection &connection)
{
    const PgResult result =
        connection.exec("SELECT to_regnamespace('vokid') IS NOT NULL", "read the shard's database");
    return result.rows() == 1 && result.boolean(0, 0);
}

// What init made on the shards, taken back when the coordinator's part
// fails.
void dropShardTables(std::vector<std::unique_ptr<PgConnection>> &made)
{
    for (const std::unique_ptr<PgConnection> &shard : made) {
        try {
            shard->exec("DROP SCHEMA vokid CASCADE", "take back the shard's tables");
        } catch (const IndexError &) {
        }
    }
}

} // namespace

ShardSet::ShardSet(std::vector<ShardInfo> all) : list(std::move(all)), downUntil(list.size())
{
}

bool ShardSet::knownDown(size_t i) const
{
    const std::lock_guard<std::mutex> lock(mutex);
    return std::chrono::steady_clock::now() < downUntil[i];
}

void ShardSet::markDown(size_t i)
{
    const std::lock_guard<std::mutex> lock(mutex);
    downUntil[i] = std::chrono::steady_clock::now() + kDownMemory;
}

std::string ShardSet::explain(const std::string &cause) const
{
    std::string text = cause;
    // The highest numbers first: vokid_shard_1 is the start of vokid_shard_12.
    for (auto shard = list.rbegin(); shard != list.rend(); ++shard) {
        const std::string named =
            "shard " + std::to_string(shard->number) + " (" + shard->shown + ")";
        for (const std::string &form :
             {"server \"" + shard->server + "\"", "\"" + shard->server + "\"", shard->server}) {
            for (size_t at = text.find(form); at != std::string::npos;
                 at = text.find(form, at + named.size()))
                text.replace(at, form.size(), named);
        }
    }
    return text;
}

bool isSharded(PgConnection &connection)
{
    const PgResult result =
        connection.exec("SELECT to_regclass('vokid.shards') IS NOT NULL", "read the index");
    return result.rows() == 1 && result.boolean(0, 0);
}

std::vector<ShardInfo> readShards(PgConnection &connection)
{
    const PgResult result = connection.exec(
        "SELECT number, location, server FROM vokid.shards ORDER BY number", "read the shards");
    std::vector<ShardInfo> shards;
    for (int row = 0; row < result.rows(); ++row) {
        ShardInfo shard;
        // A text result: the number as digits.
        const std::string_view number = result.bytes(row, 0);
        shard.number = static_cast<uint32_t>(std::stoul(std::string(number)));
        if (shard.number != shards.size() + 1)
            throw damaged("its shards table skips shard " + std::to_string(shards.size() + 1));
        shard.shown = std::string(result.bytes(row, 1));
        shard.server = std::string(result.bytes(row, 2));
        shards.push_back(std::move(shard));
    }
    if (shards.empty())
        throw damaged("its shards table is empty");
    return shards;
}

void useShards(PgConnection &connection, const ShardSet &shards)
{
    connection.useStatements(shardedStatementText);
    connection.explainCauses([&shards](const std::string &cause) { return shards.explain(cause); });
}

std::string shardedBegin(bool write, size_t shards)
{
    // Generic plans: the words go to the shards as a parameter, not
    // spelled out in each remote query, and a sequence's partition is
    // found at run time, not planned again each time.
    const std::string generic = "SET LOCAL plan_cache_mode = force_generic_plan; ";
    // A batch asks every shard first (within a view's wait), so that it
    // fails whole, naming the shard, whichever shards its tracks go to.
    if (write) {
        std::string every;
        for (size_t i = 1; i <= shards; ++i)
            every += std::string(i == 1 ? "" : " UNION ALL ") + "SELECT number FROM vokid.shard_" +
                     std::to_string(i);
        return generic + "SET LOCAL statement_timeout = '" + kViewTimeout + "'; " + every +
               "; SET LOCAL statement_timeout = '" + kBatchTimeout + "'";
    }
    return generic + "SET LOCAL statement_timeout = '" + kViewTimeout + "'; SAVEPOINT " +
           kSavepoint;
}

void createShardedIndex(PgConnection &coordinator, const std::vector<std::string> &shards,
                        uint32_t step)
{
    if (step < 1 || step > kMaxStep)
        throw std::invalid_argument("an index step must be 1 to " + std::to_string(kMaxStep));
    if (hasIndex(coordinator))
        throw IndexError("an index is there already");
    std::vector<std::unique_ptr<PgConnection>> connections;
    std::set<std::string> seen;
    for (size_t i = 0; i < shards.size(); ++i) {
        const std::string name = shardName(i + 1, shards[i]);
        if (!seen.insert(shownLocation(shards[i])).second)
            throw IndexError(name + " is named twice");
        try {
            connections.push_back(std::make_unique<PgConnection>(shards[i]));
            if (hasVokidSchema(*connections.back()))
                throw IndexError("its database has vokid's tables already");
        } catch (const IndexError &error) {
            throw IndexError(name + ": " + error.what());
        }
    }
    std::vector<std::unique_ptr<PgConnection>> made;
    std::string coordinatorSql = kCoordinatorTables;
    try {
        for (size_t i = 0; i < shards.size(); ++i) {
            PgConnection &shard = *connections[i];
            try {
                shard.exec(std::string("BEGIN; CREATE SCHEMA vokid;") + contentsTables() +
                               kShardViews + "INSERT INTO vokid.shard (number) VALUES (" +
                               std::to_string(i + 1) + "); COMMIT",
                           "create the shard's tables");
            } catch (const IndexError &error) {
                shard.rollback();
                throw IndexError(shardName(i + 1, shards[i]) + ": " + error.what());
            }
            made.push_back(std::move(connections[i]));
            coordinatorSql += serverSql(i + 1, *made.back(), shards[i]) +
                              partitionsSql(i + 1, shards.size(), shards[i]);
        }
        createIndex(coordinator, step, coordinatorSql);
    } catch (...) {
        dropShardTables(made);
        throw;
    }
}

ShardReads::ShardReads(ShardSet &shards, bool tolerantOfDown)
    : set(shards), tolerant(tolerantOfDown), isDown(shards.shards().size(), false)
{
}

// Back to the view's savepoint: the failed statement is undone, the
// view's snapshot kept.
void ShardReads::failed(PgConnection &connection, size_t i)
{
    connection.exec(std::string("ROLLBACK TO SAVEPOINT ") + kSavepoint, "read the shards");
    isDown[i] = true;
    set.markDown(i);
}

std::vector<std::string> ShardReads::down() const
{
    std::vector<std::string> shown;
    for (size_t i = 0; i < isDown.size(); ++i)
        if (isDown[i])
            shown.push_back(set.shards()[i].shown);
    return shown;
}

// Every shard at once; when that fails, the partitions one by one, each
// failing one left out. Rows come in any order: put in order of word,
// track and position (unsigned), then counted per word.
void ShardReads::postings(PgConnection &connection, const std::vector<uint32_t> &words,
                          size_t limit, PostingLists &out)
{
    out.clear();
    if (words.empty())
        return;
    std::vector<int32_t> stored(words.begin(), words.end());
    const PgParams params = PgParams().int4Array(stored);
    std::vector<std::tuple<uint32_t, uint32_t, uint32_t>> rows;
    const auto take = [&rows](const PgResult &result) {
        for (int row = 0; row < result.rows(); ++row)
            rows.emplace_back(static_cast<uint32_t>(result.int4(row, 0)),
                              static_cast<uint32_t>(result.int4(row, 1)),
                              static_cast<uint32_t>(result.int4(row, 2)));
    };
    // A batch asks every shard whatever was found before.
    bool allUp = true;
    for (size_t i = 0; tolerant && i < isDown.size(); ++i) {
        if (set.knownDown(i))
            isDown[i] = true;
        allUp = allUp && !isDown[i];
    }
    bool whole = false;
    if (allUp) {
        try {
            take(connection.run("postings", params, "look up postings"));
            whole = true;
        } catch (const IndexError &) {
            if (!tolerant || connection.broken())
                throw;
            connection.exec(std::string("ROLLBACK TO SAVEPOINT ") + kSavepoint, "read the shards");
            rows.clear();
        }
    }
    if (!whole) {
        for (size_t i = 0; i < isDown.size(); ++i) {
            if (isDown[i])
                continue;
            const size_t before = rows.size();
            try {
                take(connection.runText("SELECT word, track, position FROM vokid.postings_" +
                                            std::to_string(i + 1) + " WHERE word = ANY($1::int4[])",
                                        params, "look up postings"));
            } catch (const IndexError &) {
                if (connection.broken())
                    throw;
                rows.resize(before);
                failed(connection, i);
            }
        }
    }
    std::sort(rows.begin(), rows.end());
    size_t row = 0;
    for (uint32_t word : words) {
        while (row < rows.size() && std::get<0>(rows[row]) < word)
            ++row; // a word not asked: none is sent, but none is trusted either
        size_t end = row;
        while (end < rows.size() && std::get<0>(rows[end]) == word)
            ++end;
        const size_t count = end - row;
        if (count <= limit)
            for (size_t k = row; k < end; ++k)
                out.add(Posting{std::get<1>(rows[k]), std::get<2>(rows[k])});
        out.close(count);
        row = end;
    }
}

// Found on the coordinator alone: the partition that holds the track.
size_t ShardReads::shardOf(PgConnection &connection, uint32_t track)
{
    const std::string count = std::to_string(isDown.size());
    const PgResult result = connection.runText(
        "SELECT remainder FROM generate_series(0, " + count +
            " - 1) AS remainder WHERE satisfies_hash_partition('vokid.sequences'::regclass, " +
            count + ", remainder, $1::int4)",
        PgParams().int4(static_cast<int32_t>(track)), "find a track's shard");
    if (result.rows() != 1)
        throw IndexError("no shard holds track " + std::to_string(track));
    return static_cast<size_t>(result.int4(0, 0));
}

std::optional<std::string> ShardReads::sequence(PgConnection &connection, uint32_t track)
{
    if (tolerant) {
        bool anyDown = false;
        for (size_t i = 0; i < isDown.size(); ++i) {
            if (set.knownDown(i))
                isDown[i] = true;
            anyDown = anyDown || isDown[i];
        }
        if (anyDown && isDown[shardOf(connection, track)])
            return std::nullopt;
    }
    try {
        const PgResult result = connection.run(
            "sequence", PgParams().int4(static_cast<int32_t>(track)), "read a sequence");
        if (result.rows() == 0)
            return std::nullopt;
        return std::string(result.bytes(0, 0));
    } catch (const IndexError &) {
        if (!tolerant || connection.broken())
            throw;
        connection.exec(std::string("ROLLBACK TO SAVEPOINT ") + kSavepoint, "read the shards");
        const size_t i = shardOf(connection, track);
        isDown[i] = true;
        set.markDown(i);
        return std::nullopt;
    }
}

std::vector<std::pair<uint32_t, std::string>>
ShardReads::sequences(PgConnection &connection, const std::vector<uint32_t> &tracks)
{
    std::vector<std::pair<uint32_t, std::string>> found;
    bool allUp = true;
    for (size_t i = 0; tolerant && i < isDown.size(); ++i) {
        if (set.knownDown(i))
            isDown[i] = true;
        allUp = allUp && !isDown[i];
    }
    if (allUp) {
        try {
            const std::vector<int32_t> asked(tracks.begin(), tracks.end());
            const PgResult result =
                connection.run("sequences", PgParams().int4Array(asked), "read sequences");
            for (int row = 0; row < result.rows(); ++row)
                found.emplace_back(static_cast<uint32_t>(result.int4(row, 0)),
                                   std::string(result.bytes(row, 1)));
            return found;
        } catch (const IndexError &) {
            if (!tolerant || connection.broken())
                throw;
            connection.exec(std::string("ROLLBACK TO SAVEPOINT ") + kSavepoint, "read the shards");
        }
    }
    // One at a time, each shard that fails found down.
    for (uint32_t track : tracks)
        if (std::optional<std::string> print = sequence(connection, track))
            found.emplace_back(track, std::move(*print));
    return found;
}

void ShardReads::addStats(PgConnection &connection, StoreStats &stats)
{
    stats.postingBytes = 0;
    stats.sequenceBytes = 0;
    stats.facts.push_back({"shards", "shards", count(), ""});
    for (size_t i = 0; i < isDown.size(); ++i) {
        const ShardInfo &shard = set.shards()[i];
        const std::string key = "shard_" + std::to_string(shard.number);
        const std::string label = "shard " + std::to_string(shard.number) + " " + shard.shown;
        try {
            const PgResult sizes = connection.runText(
                "SELECT postings, sequences, database, tracks FROM vokid.shard_sizes_" +
                    std::to_string(shard.number),
                PgParams(), "measure a shard");
            if (sizes.rows() != 1)
                throw IndexError("no sizes");
            const auto postings = static_cast<uint64_t>(sizes.int8(0, 0));
            const auto sequences = static_cast<uint64_t>(sizes.int8(0, 1));
            stats.postingBytes += postings;
            stats.sequenceBytes += sequences;
            stats.facts.push_back(
                {key + "_tracks", label + " tracks", static_cast<uint64_t>(sizes.int8(0, 3)), ""});
            stats.facts.push_back(
                {key + "_bytes", label + " index", postings + sequences, "bytes"});
        } catch (const IndexError &) {
            if (!tolerant || connection.broken())
                throw;
            failed(connection, i);
            stats.facts.push_back({key + "_down", label + " down", 1, ""});
        }
    }
    stats.fileBytes = stats.postingBytes + stats.sequenceBytes + stats.metadataBytes;
}

} // namespace vokid
