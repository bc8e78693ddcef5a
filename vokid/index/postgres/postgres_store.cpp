#include "vokid/index/postgres/postgres_store.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "vokid/index/index_error.h"
#include "vokid/index/postgres/pg_connection.h"
#include "vokid/index/postgres/pg_schema.h"
#include "vokid/index/postgres/pg_shards.h"
#include "vokid/index/stored_form.h"

namespace vokid {

namespace {

// Connections kept between views and batches (a lookup server's threads
// each hold one while they search); more at once are opened, and closed
// when they end.
size_t idleConnections()
{
    static const size_t kept = std::max<size_t>(8, 2 * std::thread::hardware_concurrency());
    return kept;
}

struct Shared {
    std::string location;
    uint32_t step = kDefaultStep;
    bool writable = false;
    std::mutex mutex;
    std::vector<std::unique_ptr<PgConnection>> idle;
    std::unique_ptr<ShardSet> shards; // of a sharded index
};

std::unique_ptr<PgConnection> connect(const Shared &shared)
{
    auto connection = std::make_unique<PgConnection>(shared.location);
    if (shared.shards)
        useShards(*connection, *shared.shards);
    return connection;
}

std::unique_ptr<PgConnection> take(Shared &shared)
{
    {
        const std::lock_guard<std::mutex> lock(shared.mutex);
        if (!shared.idle.empty()) {
            std::unique_ptr<PgConnection> connection = std::move(shared.idle.back());
            shared.idle.pop_back();
            return connection;
        }
    }
    return connect(shared);
}

void giveBack(Shared &shared, std::unique_ptr<PgConnection> connection)
{
    connection->rollback();
    if (!connection->reusable())
        return;
    const std::lock_guard<std::mutex> lock(shared.mutex);
    if (shared.idle.size() < idleConnections())
        shared.idle.push_back(std::move(connection));
}

int32_t stored(uint32_t value)
{
    return static_cast<int32_t>(value);
}

uint32_t unsignedOf(int32_t value)
{
    return static_cast<uint32_t>(value);
}

// A stored record that does not read back is damage.
template <class Decode>
auto decodeStored(Decode &&decode)
{
    try {
        return decode();
    } catch (const IndexDamaged &) {
        throw;
    } catch (const IndexError &error) {
        throw damaged(error.what());
    }
}

std::vector<int32_t> storedAll(const std::vector<uint32_t> &values)
{
    std::vector<int32_t> all;
    all.reserve(values.size());
    for (uint32_t value : values)
        all.push_back(stored(value));
    return all;
}

// The words of a track's postings, each once, as stored.
std::vector<int32_t> wordsOf(const PrintPostings &postings)
{
    std::vector<uint32_t> words;
    words.reserve(postings.entries.size());
    for (const WordPosition &posting : postings.entries)
        words.push_back(posting.word);
    std::sort(words.begin(), words.end());
    words.erase(std::unique(words.begin(), words.end()), words.end());
    return storedAll(words);
}

// A view (REPEATABLE READ, READ ONLY) or a batch (READ COMMITTED) on a
// connection of its own, given back to the pool when it ends.
class PgTransaction final : public IndexBatch {
public:
    PgTransaction(std::shared_ptr<Shared> state, bool forWriting);
    ~PgTransaction() override { end(); }
    PgTransaction(const PgTransaction &) = delete;
    PgTransaction &operator=(const PgTransaction &) = delete;

    std::optional<TrackInfo> track(uint32_t id) override;
    std::optional<TrackInfo> trackAt(const std::string &path) override;
    std::vector<TrackInfo> tracks() override;
    void postings(const std::vector<uint32_t> &words, size_t limit, PostingLists &out) override;
    SubFingerprints sequence(uint32_t track, int64_t from, size_t length, int64_t &first) override;
    void sequences(const std::vector<StretchRequest> &asked, std::vector<Stretch> &out) override;
    std::optional<TrackPrint> print(uint32_t track) override;
    StoreStats stats() override;
    std::vector<std::string> shardsDown() override
    {
        return shardReads ? shardReads->down() : std::vector<std::string>();
    }
    size_t shardCount() override { return shardReads ? shardReads->count() : 0; }

    uint32_t put(TrackInfo info, const TrackPrint &print, const PrintPostings &postings) override;
    bool setValues(uint32_t id, const FileValues &values) override;
    bool remove(uint32_t id) override;
    void commit() override;

private:
    void begin();
    PgConnection &connection();
    void requireWrite();
    std::optional<std::string> storedSequence(uint32_t track);
    uint32_t newId();
    void keepId(uint32_t taken);
    void removeContents(uint32_t id);
    void takeAway(uint32_t id, const PgResult &old);
    void addPostings(uint32_t id, const PrintPostings &postings);
    std::vector<StoreFact> facts(const StoreRow &row, const PgResult &sizes);
    void end();

    std::shared_ptr<Shared> shared;
    std::unique_ptr<PgConnection> conn;
    bool write;
    bool done = false;
    // What the batch changed, added to the store row's counts at its commit.
    int64_t postingsAdded = 0;
    TrackTotals totals;
    std::unique_ptr<ShardReads> shardReads; // of a sharded index
};

// A pooled connection the server has closed meanwhile (a restart, an
// idle timeout) fails at once: the transaction begins again on a new one.
PgTransaction::PgTransaction(std::shared_ptr<Shared> state, bool forWriting)
    : shared(std::move(state)), conn(take(*shared)), write(forWriting)
{
    if (shared->shards)
        shardReads = std::make_unique<ShardReads>(*shared->shards, !write);
    try {
        begin();
    } catch (const IndexError &) {
        if (!conn->broken())
            throw;
        conn = connect(*shared);
        begin();
    }
}

void PgTransaction::begin()
{
    const std::string sharded =
        shared->shards ? "; " + shardedBegin(write, shared->shards->shards().size()) : "";
    if (write)
        beginTransaction(*conn, ("BEGIN ISOLATION LEVEL READ COMMITTED" + sharded).c_str(),
                         "begin a batch");
    else
        beginTransaction(*conn,
                         ("BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY" + sharded).c_str(),
                         "begin a view");
}

void PgTransaction::end()
{
    if (conn)
        giveBack(*shared, std::move(conn));
}

PgConnection &PgTransaction::connection()
{
    if (done)
        throw std::logic_error("the batch has been committed");
    return *conn;
}

void PgTransaction::requireWrite()
{
    connection(); // refuses a committed batch
    if (!write)
        throw std::logic_error("a view of the index cannot change it");
}

std::optional<TrackInfo> PgTransaction::track(uint32_t id)
{
    const PgResult result =
        connection().run("track", PgParams().int4(stored(id)), "read a track");
    if (result.rows() == 0)
        return std::nullopt;
    return decodeStored([&] { return decodeTrack(id, result.bytes(0, 0)); });
}

// The path's rows are found by its hash index; the lowest id in unsigned
// order is the one.
std::optional<TrackInfo> PgTransaction::trackAt(const std::string &path)
{
    const PgResult result =
        connection().run("track_at", PgParams().bytes(path), "find a track by its path");
    std::optional<TrackInfo> lowest;
    for (int row = 0; row < result.rows(); ++row) {
        const uint32_t id = unsignedOf(result.int4(row, 0));
        if (!lowest || id < lowest->id)
            lowest = decodeStored([&] { return decodeTrack(id, result.bytes(row, 1)); });
    }
    return lowest;
}

std::vector<TrackInfo> PgTransaction::tracks()
{
    const PgResult result = connection().run("tracks", PgParams(), "read the tracks");
    std::vector<TrackInfo> all;
    all.reserve(static_cast<size_t>(result.rows()));
    for (int row = 0; row < result.rows(); ++row) {
        const uint32_t id = unsignedOf(result.int4(row, 0));
        all.push_back(decodeStored([&] { return decodeTrack(id, result.bytes(row, 1)); }));
    }
    std::sort(all.begin(), all.end(),
              [](const TrackInfo &a, const TrackInfo &b) { return a.id < b.id; });
    return all;
}

// The server orders a word's postings by the signed form of track and
// position; ids from 2^31 up come first there, and are put last here.
void unsignedOrder(std::vector<Posting> &list)
{
    const auto before = [](const Posting &a, const Posting &b) {
        return a.track != b.track ? a.track < b.track : a.position < b.position;
    };
    if (!std::is_sorted(list.begin(), list.end(), before))
        std::sort(list.begin(), list.end(), before);
}

// Each row names the word by its place in the list; a word with more
// rows than the limit counts limit + 1 (the statement reads no more).
void PgTransaction::postings(const std::vector<uint32_t> &words, size_t limit, PostingLists &out)
{
    requireAscending(words);
    out.clear();
    if (words.empty())
        return;
    if (shardReads) {
        shardReads->postings(connection(), words, limit, out);
        return;
    }
    const auto most = static_cast<size_t>(std::numeric_limits<int64_t>::max() - 1);
    const PgParams params = PgParams()
                                .int4Array(storedAll(words))
                                .int8(static_cast<int64_t>(std::min(limit, most) + 1));
    const PgResult result = connection().run("postings", params, "look up postings");
    // The rows by word: a counting sort on the place.
    std::vector<size_t> starts(words.size() + 1, 0);
    for (int row = 0; row < result.rows(); ++row) {
        const int64_t n = result.int8(row, 0);
        if (n < 1 || n > static_cast<int64_t>(words.size()))
            throw IndexError("the PostgreSQL server answered a lookup with a word not asked");
        ++starts[static_cast<size_t>(n)];
    }
    for (size_t i = 1; i <= words.size(); ++i)
        starts[i] += starts[i - 1];
    std::vector<Posting> list(static_cast<size_t>(result.rows()));
    std::vector<size_t> next(starts.begin(), starts.end() - 1);
    for (int row = 0; row < result.rows(); ++row)
        list[next[static_cast<size_t>(result.int8(row, 0)) - 1]++] =
            Posting{unsignedOf(result.int4(row, 1)), unsignedOf(result.int4(row, 2))};
    for (size_t i = 0; i < words.size(); ++i) {
        const auto first = list.begin() + static_cast<long>(starts[i]);
        const auto last = list.begin() + static_cast<long>(starts[i + 1]);
        const size_t count = starts[i + 1] - starts[i];
        if (count <= limit) {
            std::vector<Posting> word(first, last);
            unsignedOrder(word);
            for (const Posting &posting : word)
                out.add(posting);
        }
        out.close(count);
    }
}

std::optional<std::string> PgTransaction::storedSequence(uint32_t track)
{
    if (shardReads)
        return shardReads->sequence(connection(), track);
    const PgResult result =
        connection().run("sequence", PgParams().int4(stored(track)), "read a sequence");
    if (result.rows() == 0)
        return std::nullopt;
    return std::string(result.bytes(0, 0));
}

SubFingerprints PgTransaction::sequence(uint32_t track, int64_t from, size_t length,
                                        int64_t &first)
{
    first = 0;
    const std::optional<std::string> bytes = storedSequence(track);
    if (!bytes)
        return SubFingerprints();
    return decodeStored([&] { return SequenceView(*bytes, track).slice(from, length, first); });
}

// The prints of every track asked for in one statement, each sliced as
// sequence() does.
void PgTransaction::sequences(const std::vector<StretchRequest> &asked, std::vector<Stretch> &out)
{
    out.assign(asked.size(), Stretch());
    if (asked.empty())
        return;
    std::vector<uint32_t> tracks;
    for (const StretchRequest &request : asked)
        tracks.push_back(request.track);
    std::sort(tracks.begin(), tracks.end());
    tracks.erase(std::unique(tracks.begin(), tracks.end()), tracks.end());
    const auto slice = [&](uint32_t track, std::string_view bytes) {
        const SequenceView print = decodeStored([&] { return SequenceView(bytes, track); });
        for (size_t i = 0; i < asked.size(); ++i)
            if (asked[i].track == track)
                out[i].frames = print.slice(asked[i].from, asked[i].length, out[i].first);
    };
    if (shardReads) {
        for (const auto &[track, bytes] : shardReads->sequences(connection(), tracks))
            slice(track, bytes);
        return;
    }
    const PgResult result = connection().run(
        "sequences", PgParams().int4Array(storedAll(tracks)), "read sequences");
    for (int row = 0; row < result.rows(); ++row)
        slice(unsignedOf(result.int4(row, 0)), result.bytes(row, 1));
}

std::optional<TrackPrint> PgTransaction::print(uint32_t track)
{
    const std::optional<std::string> bytes = storedSequence(track);
    if (!bytes)
        return std::nullopt;
    return decodeStored([&] { return decodeSequence(*bytes, track); });
}

// The counts from the store row (with the batch's own changes), not from
// every track: a lookup server asks on each health check. The tables'
// sizes are counted with their indexes and out-of-line values; the
// database's own catalogs are a fact apart.
StoreStats PgTransaction::stats()
{
    const StoreRow row = readStoreRow(connection());
    const PgResult sizes = connection().run("sizes", PgParams(), "measure the index");
    const auto count = [](int64_t stored, int64_t added) {
        return static_cast<uint64_t>(std::max<int64_t>(0, stored + added));
    };
    StoreStats stats;
    stats.tracks = count(row.totals.tracks, totals.tracks);
    stats.tracksWithValues = count(row.totals.withValues, totals.withValues);
    stats.seconds = std::max(0.0, row.totals.seconds + totals.seconds);
    stats.words = count(row.totals.words, totals.words);
    stats.trackPostings = count(row.totals.trackPostings, totals.trackPostings);
    stats.postings = count(static_cast<int64_t>(row.postings), postingsAdded);
    stats.postingBytes = static_cast<uint64_t>(sizes.int8(0, 0));
    stats.sequenceBytes = static_cast<uint64_t>(sizes.int8(0, 1));
    stats.metadataBytes = static_cast<uint64_t>(sizes.int8(0, 2));
    stats.fileBytes = stats.postingBytes + stats.sequenceBytes + stats.metadataBytes;
    stats.step = shared->step;
    stats.kind = "postgresql";
    stats.facts = facts(row, sizes);
    if (shardReads)
        shardReads->addStats(connection(), stats);
    return stats;
}

std::vector<StoreFact> PgTransaction::facts(const StoreRow &row, const PgResult &sizes)
{
    return {
        {"commits", "commits", row.commits, ""},
        {"schema_version", "schema version", static_cast<uint64_t>(row.version), ""},
        {"format_version", "format version", kStoredForm, ""},
        {"next_id", "next track id", row.nextId, ""},
        {"database_bytes", "database", static_cast<uint64_t>(sizes.int8(0, 3)), "bytes"},
        {"server_version", "server version", static_cast<uint64_t>(conn->serverVersion()), ""},
    };
}

// Ids come from the sequence, which no rollback gives back; the last one
// (2^32 - 1) is not given, for 0 and it are no track's.
uint32_t PgTransaction::newId()
{
    const int64_t id =
        connection().run("next_id", PgParams(), "take a track id").int8(0, 0);
    if (id >= 0xFFFFFFFF)
        throw IndexError("the index has used every track id");
    return static_cast<uint32_t>(id);
}

// A track put under an id of its own (a copy keeps its tracks' ids): new
// ids are given above it from now on.
void PgTransaction::keepId(uint32_t taken)
{
    connection().run("keep_id", PgParams().int8(taken), "keep the next track id");
}

// The totals less a record replaced or removed; a record that does not
// read back (damage, which vokid check reports) takes its track alone.
void PgTransaction::takeAway(uint32_t id, const PgResult &old)
{
    if (old.rows() == 0)
        return;
    try {
        totals.add(decodeTrack(id, old.bytes(0, 0)), -1);
    } catch (const IndexError &) {
        --totals.tracks;
    }
}

// A track's postings are found again from its stored print by the rule
// they were made by (postings.h): the rows of its track under its words.
void PgTransaction::removeContents(uint32_t id)
{
    const std::optional<std::string> bytes = storedSequence(id);
    if (!bytes)
        return;
    const TrackPrint print = decodeStored([&] { return decodeSequence(*bytes, id); });
    const PgParams params =
        PgParams().int4Array(wordsOf(postingsOf(print, shared->step))).int4(stored(id));
    const uint64_t removed =
        connection().run("remove_postings", params, "remove postings").affected();
    postingsAdded -= static_cast<int64_t>(removed);
    connection().run("remove_sequence", PgParams().int4(stored(id)), "remove a sequence");
}

void PgTransaction::addPostings(uint32_t id, const PrintPostings &postings)
{
    if (shared->shards) {
        std::vector<int32_t> words, positions;
        for (const WordPosition &posting : postings.entries) {
            words.push_back(stored(posting.word));
            positions.push_back(stored(posting.position));
        }
        connection().run("put_postings",
                         PgParams().int4Array(words).int4(stored(id)).int4Array(positions),
                         "write postings");
    } else {
        PgCopyRows rows;
        for (const WordPosition &posting : postings.entries)
            rows.row({stored(posting.word), stored(id), stored(posting.position)});
        connection().copyIn(
            "COPY vokid.postings (word, track, position) FROM STDIN (FORMAT binary)",
            rows.rows(), "write postings");
    }
    postingsAdded += static_cast<int64_t>(postings.entries.size());
}

PgParams trackParams(const TrackInfo &info)
{
    return PgParams()
        .int4(stored(info.id))
        .bytes(info.path)
        .int8(static_cast<int64_t>(info.fileSize))
        .int8(info.modified)
        .bytes(encodeTrack(info));
}

// A new track whose file another batch has stored (or is storing: the
// insert waits for that batch to end) is no row, and puts nothing.
uint32_t PgTransaction::put(TrackInfo info, const TrackPrint &print,
                            const PrintPostings &postings)
{
    requireWrite();
    checkTrack(print, postings, shared->step);
    const bool known =
        info.id != 0 &&
        connection().run("track", PgParams().int4(stored(info.id)), "read a track").rows() > 0;
    info.words = static_cast<uint32_t>(print.size());
    info.postings = static_cast<uint32_t>(postings.entries.size());
    if (known) {
        removeContents(info.id);
        const PgResult old = connection().run("replace_track", trackParams(info), "write a track");
        takeAway(info.id, old);
    } else {
        if (info.id == 0)
            info.id = newId();
        else if (info.id == 0xFFFFFFFF)
            throw IndexError("the index has used every track id");
        else
            keepId(info.id);
        if (connection().run("new_track", trackParams(info), "write a track").affected() == 0)
            return 0;
    }
    connection().run("put_sequence",
                     PgParams().int4(stored(info.id)).bytes(encodeSequence(print, info.id)),
                     "write a sequence");
    addPostings(info.id, postings);
    totals.add(info, 1);
    return info.id;
}

// The record alone is written again: the sequence, postings and path
// stay as they are.
bool PgTransaction::setValues(uint32_t id, const FileValues &values)
{
    requireWrite();
    std::optional<TrackInfo> info = track(id);
    if (!info)
        return false;
    totals.withValues += info->values ? 0 : 1;
    info->values = values;
    connection().run("set_record", PgParams().int4(stored(id)).bytes(encodeTrack(*info)),
                     "write a track");
    return true;
}

// The record goes first: a track whose record is damaged can still be
// removed.
bool PgTransaction::remove(uint32_t id)
{
    requireWrite();
    const PgResult old = connection().run("remove_track", PgParams().int4(stored(id)), "remove a track");
    if (old.rows() == 0)
        return false;
    takeAway(id, old);
    removeContents(id);
    return true;
}

// A transaction that failed before (a statement refused) ends as a
// rollback, which the server answers to COMMIT without an error.
void PgTransaction::commit()
{
    requireWrite();
    connection().run("count_commit", totals.params(PgParams().int8(postingsAdded)),
                     "count the commit");
    const PgResult result = connection().exec("COMMIT", "commit");
    if (result.tag() != "COMMIT")
        throw IndexError("cannot commit: the batch failed before, and was rolled back");
    done = true;
    end();
}

class PostgresStore final : public IndexStore {
public:
    explicit PostgresStore(std::shared_ptr<Shared> state) : shared(std::move(state)) {}

    std::unique_ptr<IndexView> view() override
    {
        return std::make_unique<PgTransaction>(shared, false);
    }
    std::unique_ptr<IndexBatch> batch() override
    {
        if (!shared->writable)
            throw std::logic_error("the index was opened for reading");
        return std::make_unique<PgTransaction>(shared, true);
    }
    uint32_t step() const override { return shared->step; }
    bool concurrentBatches() const override { return true; }

private:
    std::shared_ptr<Shared> shared; // with the views and batches, which may outlive the store
};

} // namespace

void createPostgresIndex(const std::string &location, uint32_t step,
                         const std::vector<std::string> &shards)
{
    PgConnection connection(location);
    if (!shards.empty())
        return createShardedIndex(connection, shards, step);
    if (step < 1 || step > kMaxStep)
        throw std::invalid_argument("an index step must be 1 to " + std::to_string(kMaxStep));
    if (hasIndex(connection))
        throw IndexError("an index is there already");
    createIndex(connection, step);
}

std::unique_ptr<IndexStore> openPostgresStore(const std::string &location, StoreAccess access,
                                              uint32_t step)
{
    auto connection = std::make_unique<PgConnection>(location);
    if (!hasIndex(*connection)) {
        if (access != StoreAccess::Write)
            throw IndexError("no vokid index in this database (vokid add creates one)");
        createIndex(*connection, step);
    }
    const StoreRow row = readStoreRow(*connection);
    auto shared = std::make_shared<Shared>();
    if (isSharded(*connection)) {
        shared->shards = std::make_unique<ShardSet>(readShards(*connection));
        useShards(*connection, *shared->shards);
    }
    shared->location = location;
    shared->step = row.step;
    shared->writable = access != StoreAccess::Read;
    shared->idle.push_back(std::move(connection));
    return std::make_unique<PostgresStore>(std::move(shared));
}

int32_t upgradePostgresTables(const std::string &location, uint64_t &tracks)
{
    PgConnection connection(location);
    if (!hasIndex(connection))
        throw IndexError("no vokid index in this database (vokid add creates one)");
    return upgradeSchema(connection, tracks);
}

} // namespace vokid
