#include "vokid/index/lmdb/lmdb_environment.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "vokid/index/index_error.h"
#include "vokid/index/lmdb/posting_layout.h"
#include "vokid/index/stored_form.h"

namespace vokid {

namespace {

constexpr uint64_t kMapBytes[] = {uint64_t{256} << 30, uint64_t{32} << 30, uint64_t{4} << 30,
                                  uint64_t{1} << 30};
constexpr int kMaxTables = 8;
const std::string kCommitsKey = "commits";
const std::string kFormatKey = "format";

// An info record's value, when it has one of `size` bytes; throws
// IndexError for one of another size.
template <class T>
std::optional<T> infoValue(MDB_txn *txn, const LmdbTables &tables, const std::string &name)
{
    MDB_val key{name.size(), const_cast<char *>(name.data())};
    MDB_val data;
    const int result = lmdbCall("read", [&] { return mdb_get(txn, tables.info, &key, &data); });
    if (result == MDB_NOTFOUND)
        return std::nullopt;
    checkLmdb(result, "read");
    if (data.mv_size != sizeof(T))
        throw damaged("its record of " + name + " has " + std::to_string(data.mv_size) + " bytes");
    T value;
    if (!guardFaults([&] { std::memcpy(&value, data.mv_data, sizeof value); }))
        throwFault("read");
    return value;
}

template <class T>
void putInfo(MDB_txn *txn, const LmdbTables &tables, const std::string &name, T value)
{
    MDB_val key{name.size(), const_cast<char *>(name.data())};
    MDB_val data = valueOf(value);
    checkedCall("write", [&] { return mdb_put(txn, tables.info, &key, &data, 0); });
}

uint64_t fileBytes(const std::string &path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
}

int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A write transaction that has waited this long for another process's
// says so.
constexpr auto kWaitNoticeAfter = std::chrono::milliseconds(300);

// Calls the notice, from a thread of its own, unless it ends first.
class WaitWatch {
public:
    WaitWatch(const std::function<void()> &notice, std::atomic<bool> &noticed)
    {
        if (!notice || noticed)
            return;
        watcher = std::thread([this, &notice, &noticed] {
            std::unique_lock<std::mutex> lock(mutex);
            if (!done.wait_for(lock, kWaitNoticeAfter, [this] { return finished; }) &&
                !noticed.exchange(true))
                notice();
        });
    }
    ~WaitWatch()
    {
        if (!watcher.joinable())
            return;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            finished = true;
        }
        done.notify_all();
        watcher.join();
    }
    WaitWatch(const WaitWatch &) = delete;
    WaitWatch &operator=(const WaitWatch &) = delete;

private:
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::thread watcher;
};

} // namespace

LmdbTxn beginWrite(MDB_env *env, const std::function<void()> &notice, std::atomic<bool> &noticed)
{
    const WaitWatch watch(notice, noticed);
    return LmdbTxn(env, true);
}

uint64_t storedCommits(MDB_txn *txn, const LmdbTables &tables)
{
    return infoValue<uint64_t>(txn, tables, kCommitsKey).value_or(0);
}

void putCommits(MDB_txn *txn, const LmdbTables &tables, uint64_t commits)
{
    putInfo(txn, tables, kCommitsKey, commits);
}

uint32_t storedForm(MDB_txn *txn, const LmdbTables &tables)
{
    return infoValue<uint32_t>(txn, tables, kFormatKey).value_or(1);
}

int openEnvironment(std::unique_ptr<LmdbEnv> &env, const std::string &folder, unsigned flags,
                    uint64_t dataBytes)
{
    int result = MDB_SUCCESS;
    for (uint64_t map : kMapBytes) {
        env = std::make_unique<LmdbEnv>();
        checkLmdb(mdb_env_set_maxdbs(env->get(), kMaxTables), "start");
        checkLmdb(mdb_env_set_mapsize(env->get(), std::max(map, 2 * dataBytes)), "start");
        result = lmdbCall("open the index",
                          [&] { return mdb_env_open(env->get(), folder.c_str(), flags, 0644); });
        if (result != EINVAL && result != ENOMEM)
            break;
    }
    return result;
}

LmdbEnvironment::LmdbEnvironment(const std::string &folder, Mode mode) : path(folder)
{
    open(mode);
    loadTables(mode);
}

int LmdbEnvironment::tryOpen(unsigned flags)
{
    return openEnvironment(env, path, flags, fileBytes(path + "/" + kDataFile));
}

// Views are handed from thread to thread (MDB_NOTLS); lookups jump about
// the file, where reading ahead only fills memory (MDB_NORDAHEAD). A
// reader who may not write the lock file (another user's index, a
// read-only file system) reads without it.
void LmdbEnvironment::open(Mode mode)
{
    // A compact or upgrade that renames a new data file in between the look
    // and the opening is met by opening again (a few times at most).
    for (int attempt = 0; attempt < 3; ++attempt) {
        openOnce(mode);
        int fd = -1;
        struct stat data;
        checkLmdb(mdb_env_get_fd(env->get(), &fd), "open the index");
        if (fstat(fd, &data) != 0 || !S_ISREG(data.st_mode) || !lookedAt ||
            identityOf(data) == identityOf(*lookedAt))
            break;
        env.reset();
    }
    checkOpenedFiles(lookedAt);
    clearStaleReaders(true);
}

void LmdbEnvironment::openOnce(Mode mode)
{
    const std::optional<struct stat> before = entryStatus(path, kDataFile);
    lookedAt = before;
    if (!before && mode != Mode::Create)
        throw damaged("it has no data file (" + std::string(kDataFile) + ")");
    unsigned flags = MDB_NOTLS | MDB_NORDAHEAD;
    if (mode == Mode::Read)
        flags |= MDB_RDONLY;
    int result = tryOpen(flags);
    if (mode == Mode::Read && (result == EACCES || result == EPERM || result == EROFS)) {
        withoutLock = true;
        result = tryOpen(flags | MDB_NOLOCK);
    }
    if (result == EACCES || result == EPERM)
        throw IndexError("permission denied (this user may not " +
                         std::string(mode == Mode::Read ? "read" : "write") + " the index)");
    checkLmdb(result, "open the index");
}

// The files the store opened by name are the ones judged before: no link
// or FIFO put in their place meanwhile.
void LmdbEnvironment::checkOpenedFiles(const std::optional<struct stat> &before)
{
    int fd = -1;
    checkLmdb(mdb_env_get_fd(env->get(), &fd), "open the index");
    struct stat data;
    if (fstat(fd, &data) != 0)
        throw IndexError("cannot look at its data file: " + fileCause(errno));
    identity = identityOf(data);
    if (!S_ISREG(data.st_mode) || (before && identity != identityOf(*before)))
        throw IndexError(std::string("its ") + kDataFile +
                         " changed while it was opened (vokid opens only plain files in an "
                         "index folder)");
    const std::optional<struct stat> lock = entryStatus(path, kLockFile);
    if (!withoutLock && (!lock || !S_ISREG(lock->st_mode)))
        throw IndexError(std::string("its ") + kLockFile +
                         " changed while it was opened (vokid opens only plain files in an "
                         "index folder)");
}

LmdbTables openTables(MDB_txn *txn, unsigned create)
{
    const auto table = [&](const char *name, unsigned flags) {
        MDB_dbi dbi = 0;
        const int result =
            lmdbCall("open a table", [&] { return mdb_dbi_open(txn, name, flags | create, &dbi); });
        if (result == MDB_NOTFOUND)
            throw damaged(std::string("its store has no table of ") + name);
        checkLmdb(result, "open a table");
        return dbi;
    };
    LmdbTables tables;
    tables.tracks = table("tracks", MDB_INTEGERKEY);
    tables.sequences = table("sequences", MDB_INTEGERKEY);
    tables.paths = table("paths", MDB_INTEGERKEY | MDB_DUPSORT | MDB_DUPFIXED | MDB_INTEGERDUP);
    tables.info = table("info", 0);
    checkedCall("open a table", [&] { return mdb_dbi_open(txn, nullptr, 0, &tables.main); });
    // The postings' layout goes by the format: a store being made (none
    // recorded yet) is made in this vokid's.
    const std::optional<uint32_t> form = infoValue<uint32_t>(txn, tables, kFormatKey);
    tables.bucketed = form ? *form >= kBucketedForm : create != 0;
    tables.postings = tables.bucketed
                          ? table(kBucketTable, MDB_INTEGERKEY | MDB_DUPSORT | MDB_DUPFIXED)
                          : table(kWordTable, MDB_INTEGERKEY | MDB_DUPSORT | MDB_DUPFIXED |
                                                  MDB_INTEGERDUP);
    return tables;
}

void putForm(MDB_txn *txn, const LmdbTables &tables, uint32_t form)
{
    putInfo(txn, tables, kFormatKey, form);
}

// Only a creation writes here: a writer that opens an index another
// process is writing to waits at its first batch, which says so.
void LmdbEnvironment::loadTables(Mode mode)
{
    LmdbTxn txn(env->get(), mode == Mode::Create);
    opened = vokid::openTables(txn.get(), mode == Mode::Create ? MDB_CREATE : 0);
    if (mode == Mode::Create && !infoValue<uint32_t>(txn.get(), opened, kFormatKey))
        putForm(txn.get(), opened, kStoredForm);
    recordForm = storedForm(txn.get(), opened);
    txn.commit();
}

void LmdbEnvironment::clearStaleReaders(bool now)
{
    if (withoutLock)
        return;
    const int64_t at = nowMs();
    if (!now && at - lastReaderCheck.load() < 1000)
        return;
    lastReaderCheck = at;
    int dead = 0;
    mdb_reader_check(env->get(), &dead);
}

const std::vector<StoreMap::Region> &LmdbEnvironment::mapRegions() const
{
    std::call_once(regionsRead, [this] { regions = mappedRegions(env->get()); });
    return regions;
}

void LmdbEnvironment::soundPages(uint64_t bytes, int64_t modifiedNs, StoreMap &map) const
{
    const std::lock_guard<std::mutex> lock(leavesMutex);
    if (!leaves || bytes != leavesBytes || modifiedNs != leavesModified) {
        MDB_stat stat;
        if (mdb_env_stat(env->get(), &stat) != MDB_SUCCESS || stat.ms_psize == 0)
            return;
        leaves = std::make_shared<PageSet>(bytes / stat.ms_psize + 1);
        records = std::make_shared<PageIds>(bytes / stat.ms_psize + 1);
        leavesBytes = bytes;
        leavesModified = modifiedNs;
    }
    map.soundLeaves = leaves;
    map.soundRecords = records;
}

} // namespace vokid
