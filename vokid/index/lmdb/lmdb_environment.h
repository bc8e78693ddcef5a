// One opening of an index folder's LMDB store: the environment over its
// data file, the tables, and what the store records of itself (the format
// version of its records, vokid's commit counter, the next track id).
//
// A process opens a folder's store once at a time: LMDB's lock file is
// shared through locks that belong to the process, and closing a second
// opening of it would drop them (LmdbStore closes the old opening before
// it opens a data file that compact or upgrade renamed in).
#ifndef VOKID_INDEX_LMDB_LMDB_ENVIRONMENT_H
#define VOKID_INDEX_LMDB_LMDB_ENVIRONMENT_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "vokid/index/lmdb/lmdb_files.h"
#include "vokid/index/lmdb/lmdb_handles.h"
#include "vokid/index/lmdb/page_check.h"

namespace vokid {

struct LmdbTables {
    MDB_dbi tracks = 0;
    MDB_dbi sequences = 0;
    MDB_dbi postings = 0;
    bool bucketed = false; // postings by word bucket (posting_layout.h)
    MDB_dbi paths = 0;
    MDB_dbi info = 0;
    MDB_dbi main = 0; // the store's table of tables
};

class LmdbEnvironment {
public:
    enum class Mode {
        Read,   // read-only; without the lock file where it may not be written
        Write,  // the tables must exist
        Create, // an empty folder: the data file, the tables, the records of its format
    };

    // Opens the store of a folder whose store files requirePlainFiles has
    // passed. Throws IndexError.
    LmdbEnvironment(const std::string &folder, Mode mode);

    MDB_env *get() const { return env->get(); }
    const LmdbTables &tables() const { return opened; }
    // The format version of the records: the store's own record, or 1 for
    // a store made before there was one.
    uint32_t form() const { return recordForm; }
    // Opened without the lock file (a reader who may not write it): views
    // check that no writer reused their pages while they read.
    bool unlocked() const { return withoutLock; }
    const FileIdentity &dataFile() const { return identity; }
    const std::string &folder() const { return path; }

    // Frees the reader slots of processes that ended without freeing them
    // (killed mid-read), whose snapshots keep freed pages from being
    // reused: now, or when a second has passed since the last time.
    void clearStaleReaders(bool now = false);

    // Where this process maps the data file (page_check.h), read the first
    // time it is asked for: the map stays where it is while this is open.
    const std::vector<StoreMap::Region> &mapRegions() const;
    // The leaves and stored values read transactions have found sound
    // (page_check.h), for a data file of this size and modification time:
    // new sets when either changed.
    void soundPages(uint64_t bytes, int64_t modifiedNs, StoreMap &map) const;

private:
    void open(Mode mode);
    void openOnce(Mode mode);
    int tryOpen(unsigned flags);
    void checkOpenedFiles(const std::optional<struct stat> &before);
    void loadTables(Mode mode);

    std::string path;
    std::unique_ptr<LmdbEnv> env;
    LmdbTables opened;
    uint32_t recordForm = 1;
    bool withoutLock = false;
    FileIdentity identity;
    mutable std::once_flag regionsRead;
    mutable std::vector<StoreMap::Region> regions;
    mutable std::mutex leavesMutex;
    mutable std::shared_ptr<PageSet> leaves;
    mutable std::shared_ptr<PageIds> records;
    mutable uint64_t leavesBytes = 0;
    mutable int64_t leavesModified = 0;
    std::optional<struct stat> lookedAt;     // the data file as looked at before it was opened
    std::atomic<int64_t> lastReaderCheck{0}; // steady clock, milliseconds
};

// The tables, as a transaction sees them; `create` (MDB_CREATE or 0) makes
// those missing. Throws IndexError for a missing one.
LmdbTables openTables(MDB_txn *txn, unsigned create);

// The store's records of itself, in its info table.
uint64_t storedCommits(MDB_txn *txn, const LmdbTables &tables);
void putCommits(MDB_txn *txn, const LmdbTables &tables, uint64_t commits);
uint32_t storedForm(MDB_txn *txn, const LmdbTables &tables);
void putForm(MDB_txn *txn, const LmdbTables &tables, uint32_t form);

// A write transaction begun; when it has waited a moment for another
// process's to end, `notice` is called (from another thread) unless
// `noticed` was set, which it sets.
LmdbTxn beginWrite(MDB_env *env, const std::function<void()> &notice, std::atomic<bool> &noticed);

// The map is address space, not memory or disk: 256 GB hold the index of
// some 40,000 hours of audio. Where the process may not map that much (a
// limit on its address space, a memory checker), smaller maps are tried,
// down to twice the data file. Returns the result of the last try; `env`
// is the environment of that try (a failed open leaves one unusable).
int openEnvironment(std::unique_ptr<LmdbEnv> &env, const std::string &folder, unsigned flags,
                    uint64_t dataBytes);

} // namespace vokid

#endif
