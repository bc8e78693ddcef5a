// The whole index read back (`vokid check`'s walk) on a real LMDB index,
// each case changing one thing through LMDB directly, in the tables'
// layout as written here: a posting gone, one too many, one for no track,
// a sequence changed or gone, a path gone. Each is found, and named for
// the track it belongs to; the undamaged index checks as whole.
#include <gtest/gtest.h>

#include <lmdb.h>

#include <functional>
#include <string>

#include "tests/support/wav_writer.h"
#include "vokid/index/index_check.h"
#include "vokid/index/open_store.h"
#include "vokid/index/postings.h"

namespace {

using vokid::TrackPrint;

TrackPrint printOf(uint32_t seed)
{
    TrackPrint print;
    uint32_t state = seed;
    for (size_t i = 0; i < 2 * vokid::kBlockWords; ++i) {
        state = state * 1664525u + 1013904223u;
        print.words.push_back(state);
        print.quiet.push_back(i % 50 == 0 ? 1 : 0);
    }
    print.masks.assign(2 * vokid::kKeptMasks, 0xFFFC0000u);
    return print;
}

// Changes the index through LMDB itself, in one write transaction.
void change(const std::string &folder, const std::function<void(MDB_txn *, MDB_dbi)> &work,
            const char *table)
{
    MDB_env *env = nullptr;
    ASSERT_EQ(0, mdb_env_create(&env));
    ASSERT_EQ(0, mdb_env_set_maxdbs(env, 8));
    ASSERT_EQ(0, mdb_env_open(env, folder.c_str(), 0, 0644));
    MDB_txn *txn = nullptr;
    ASSERT_EQ(0, mdb_txn_begin(env, nullptr, 0, &txn));
    // Paths are sorted fixed-size integer duplicates, postings sorted
    // fixed-size duplicates under their word's bucket.
    const std::string name = table;
    const unsigned flags = name == "info"              ? 0
                           : name == "posting_buckets" ? MDB_INTEGERKEY | MDB_DUPSORT | MDB_DUPFIXED
                           : name == "paths"
                               ? MDB_INTEGERKEY | MDB_DUPSORT | MDB_DUPFIXED | MDB_INTEGERDUP
                               : MDB_INTEGERKEY;
    MDB_dbi dbi = 0;
    ASSERT_EQ(0, mdb_dbi_open(txn, table, flags, &dbi));
    work(txn, dbi);
    ASSERT_EQ(0, mdb_txn_commit(txn));
    mdb_env_close(env);
}

template <class Key, class Value>
void put(MDB_txn *txn, MDB_dbi dbi, Key key, Value value, bool remove)
{
    MDB_val k{sizeof key, &key}, v{sizeof value, &value};
    ASSERT_EQ(0, remove ? mdb_del(txn, dbi, &k, &v) : mdb_put(txn, dbi, &k, &v, 0));
}

// A posting as the store keeps it: under the word's upper 8 bits, the
// lower 24, the track and the position, big-endian.
void putPosting(MDB_txn *txn, MDB_dbi dbi, uint32_t word, uint32_t track, uint32_t position,
                bool remove)
{
    uint32_t bucket = word >> 24;
    std::string item;
    for (int shift : {16, 8, 0})
        item += static_cast<char>(word >> shift & 0xFF);
    for (uint32_t field : {track, position})
        for (int shift : {24, 16, 8, 0})
            item += static_cast<char>(field >> shift & 0xFF);
    MDB_val k{sizeof bucket, &bucket}, v{item.size(), item.data()};
    ASSERT_EQ(0, remove ? mdb_del(txn, dbi, &k, &v) : mdb_put(txn, dbi, &k, &v, 0));
}

uint64_t pathHash(const std::string &path) // FNV-1a, 64 bits
{
    uint64_t hash = 14695981039346656037u;
    for (char c : path)
        hash = (hash ^ static_cast<uint8_t>(c)) * 1099511628211u;
    return hash;
}

TEST(VokidIndexCheck, FindsEachChangeAndTheTrackItBelongsTo)
{
    // Track 2's first indexed position, and one of its positions not indexed.
    const TrackPrint second = printOf(2);
    const vokid::PrintPostings indexed = vokid::postingsOf(second, vokid::kDefaultStep);
    const uint32_t word = indexed.entries[0].word, position = indexed.entries[0].position;
    const struct {
        const char *name;
        const char *table;
        std::function<void(MDB_txn *, MDB_dbi)> work;
        uint32_t track; // the track named; 0: a problem of the whole
        std::string problem;
    } cases[] = {
        {"undamaged", "info", [](MDB_txn *, MDB_dbi) {}, 0, ""},
        {"a posting gone", "posting_buckets",
         [&](MDB_txn *txn, MDB_dbi dbi) { putPosting(txn, dbi, word, 2, position, true); },
         2, "position " + std::to_string(position) + " has no posting"},
        {"a posting at a position not indexed", "posting_buckets",
         [&](MDB_txn *txn, MDB_dbi dbi) { putPosting(txn, dbi, word, 2, position + 1, false); },
         2, "its postings under word " + std::to_string(word) + " do not match its sequence"},
        {"a posting of no track", "posting_buckets",
         [&](MDB_txn *txn, MDB_dbi dbi) { putPosting(txn, dbi, word, 9, 0, false); }, 0,
         "the postings table holds " + std::to_string(3 * indexed.entries.size() + 1) +
             " postings, the tracks account for " + std::to_string(3 * indexed.entries.size())},
        {"a sequence gone", "sequences",
         [](MDB_txn *txn, MDB_dbi dbi) {
             uint32_t id = 3;
             MDB_val key{sizeof id, &id};
             ASSERT_EQ(0, mdb_del(txn, dbi, &key, nullptr));
         },
         3, "it has no stored sequence"},
        {"a sequence of another track", "sequences",
         [](MDB_txn *txn, MDB_dbi dbi) {
             uint32_t id = 1;
             std::string bytes = vokid::encodeSequence(printOf(7), id);
             MDB_val key{sizeof id, &id}, value{bytes.size(), bytes.data()};
             ASSERT_EQ(0, mdb_put(txn, dbi, &key, &value, 0));
         },
         1, ""},
        {"a path gone", "paths",
         [](MDB_txn *txn, MDB_dbi dbi) {
             put(txn, dbi, pathHash("/music/3.flac"), uint32_t{3}, true);
         },
         3, "its path does not lead to it"},
    };
    for (const auto &c : cases) {
        vok_test::TempDir dir;
        const std::string folder = dir.file("index");
        {
            const auto store = vokid::openStore(folder, vokid::StoreAccess::Write);
            const auto batch = store->batch();
            for (uint32_t i = 1; i <= 3; ++i) {
                vokid::TrackInfo info;
                info.path = "/music/" + std::to_string(i) + ".flac";
                info.algorithm = "Stream1";
                batch->put(info, printOf(i), vokid::postingsOf(printOf(i), store->step()));
            }
            batch->commit();
        }
        change(folder, c.work, c.table);
        const auto store = vokid::openStore(folder, vokid::StoreAccess::Read);
        size_t calls = 0;
        const vokid::CheckReport report = vokid::checkIndex(*store, [&](size_t done, size_t total) {
            EXPECT_EQ(calls++, done) << c.name;
            EXPECT_EQ(3u, total) << c.name;
        });
        EXPECT_EQ(3u, report.tracks) << c.name;
        EXPECT_EQ(3u, calls) << c.name;
        if (c.track == 0 && c.problem.empty()) {
            EXPECT_TRUE(report.ok()) << c.name;
        } else if (c.track == 0) {
            EXPECT_TRUE(report.damaged.empty()) << c.name;
            EXPECT_EQ(std::vector<std::string>{c.problem}, report.problems) << c.name;
        } else {
            ASSERT_EQ(1u, report.damaged.size()) << c.name;
            EXPECT_EQ(c.track, report.damaged[0].id) << c.name;
            EXPECT_EQ("/music/" + std::to_string(c.track) + ".flac", report.damaged[0].path);
            if (!c.problem.empty()) {
                EXPECT_EQ(c.problem, report.damaged[0].problem) << c.name;
            }
        }
    }
}

} // namespace
