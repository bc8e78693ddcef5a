// A sharded index in PostgreSQL: the coordinator's database holds the
// store row, the track records and the list of shards; the sequences and
// postings are hash-partitioned by track, each partition a postgres_fdw
// foreign table on one shard's database (its own vokid.sequences and
// vokid.postings), so that one statement on the coordinator asks every
// shard at once (async_capable: the partitions are scanned together).
//
// On the coordinator, besides the store and tracks tables (pg_schema.h):
//   shards           number, location (as shown: without its password),
//                    server (the foreign server's name, vokid_shard_N)
//   sequences        PARTITION BY HASH (track): sequences_N on shard N
//   postings         PARTITION BY HASH (track): postings_N on shard N
//   shard_sizes_N    the sizes of shard N's tables (its view vokid.sizes)
//   shard_N          the shard's number, as the shard keeps it (vokid.shard)
// Shard N's partition has remainder N - 1 of the modulus the shard count.
//
// A view reads at most one second from a shard (statement_timeout); a
// lookup that fails because a shard gives no answer asks the partitions
// one by one, skipping those that fail, and the view then tells which
// shards were down: its answer is partial. A batch that meets a shard
// down fails whole, naming the shard; nothing of it is kept.
#ifndef VOKID_INDEX_POSTGRES_PG_SHARDS_H
#define VOKID_INDEX_POSTGRES_PG_SHARDS_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "vokid/index/index_store.h"
#include "vokid/index/postgres/pg_connection.h"

namespace vokid {

struct ShardInfo {
    uint32_t number = 0; // from 1
    std::string shown;   // the location without its password
    std::string server;  // the foreign server on the coordinator
};

// The shards of an index, and those found down lately: a shard that did
// not answer is not asked again for a moment (kDownMemory), so that a
// lookup after a failed one waits for no shard.
class ShardSet {
public:
    static constexpr std::chrono::milliseconds kDownMemory{3000};

    explicit ShardSet(std::vector<ShardInfo> all);
    const std::vector<ShardInfo> &shards() const { return list; }
    bool knownDown(size_t i) const;
    void markDown(size_t i);
    // A cause with the shards' server names replaced by "shard N (LOCATION)".
    std::string explain(const std::string &cause) const;

private:
    std::vector<ShardInfo> list;
    mutable std::mutex mutex;
    std::vector<std::chrono::steady_clock::time_point> downUntil;
};

// Whether the index in this database is sharded (it has a shards table).
bool isSharded(PgConnection &connection);
// The coordinator's list, in order of number.
std::vector<ShardInfo> readShards(PgConnection &connection);
// A connection to the coordinator made ready for the sharded index: its
// own statements, and causes that name shards by their location.
void useShards(PgConnection &connection, const ShardSet &shards);
// What a transaction on the coordinator begins with besides BEGIN: the
// statement timeout; for a view the savepoint its reads go back to when a
// shard fails, for a batch a statement that every shard answers.
std::string shardedBegin(bool write, size_t shards);

// Creates a sharded index: on each shard (a libpq URI) the tables of its
// contents, then on the coordinator, in one transaction, the store, the
// tracks, the shards table, a foreign server and user mapping per shard
// and the partitions. Throws IndexError when an index (or vokid's tables
// on a shard) is there already, or a shard cannot be used, naming it;
// std::invalid_argument for a step out of range.
void createShardedIndex(PgConnection &coordinator, const std::vector<std::string> &shards,
                        uint32_t step);

// The reads of one view or batch on a sharded index. A view's reads go on
// without the shards that fail (tolerant), a batch's fail.
class ShardReads {
public:
    ShardReads(ShardSet &shards, bool tolerant);

    void postings(PgConnection &connection, const std::vector<uint32_t> &words, size_t limit,
                  PostingLists &out);
    // A track's stored print; none when its shard is down.
    std::optional<std::string> sequence(PgConnection &connection, uint32_t track);
    // The stored prints of `tracks` (ascending) in one statement that asks
    // their shards at once, as (track, print); those on a shard that is
    // down left out.
    std::vector<std::pair<uint32_t, std::string>> sequences(PgConnection &connection,
                                                            const std::vector<uint32_t> &tracks);
    // The shards' sizes into `stats`, and a fact per shard.
    void addStats(PgConnection &connection, StoreStats &stats);

    std::vector<std::string> down() const;
    size_t count() const { return set.shards().size(); }

private:
    void failed(PgConnection &connection, size_t i);
    size_t shardOf(PgConnection &connection, uint32_t track);

    ShardSet &set;
    bool tolerant;
    std::vector<bool> isDown;
};

} // namespace vokid

#endif
