#include "vokid/index/lmdb/lmdb_copy.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include "vokid/index/index_error.h"
#include "vokid/index/lmdb/lmdb_environment.h"
#include "vokid/index/lmdb/lmdb_files.h"
#include "vokid/index/lmdb/lmdb_folder.h"
#include "vokid/index/lmdb/posting_layout.h"
#include "vokid/index/stored_form.h"
#include "vokid/index/track_info.h"
#include "vokid/index/track_print.h"

namespace vokid {

namespace {

// The bytes of a value that walk() has copied out of the map.
std::string_view bytesOf(const MDB_val &value)
{
    return std::string_view(static_cast<const char *>(value.mv_data), value.mv_size);
}

// The folder inside an index where compact and upgrade write their copy.
constexpr const char *kCopyFolder = "vokid-copy.tmp";
constexpr uint64_t kProgressEvery = 65536;

uint64_t fileBytes(const std::string &path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
}

uint64_t folderBytes(const std::string &folder)
{
    uint64_t bytes = 0;
    for (const char *name : {kHeaderFile, kDataFile, kLockFile, kReserveFile})
        bytes += fileBytes(folder + "/" + name);
    return bytes;
}

// Records copied, reported now and then.
class Tally {
public:
    Tally(const CopyProgress &progress, uint64_t total) : report(progress.step), all(total)
    {
        if (report)
            report(0, all);
    }
    void one()
    {
        if (++done % kProgressEvery == 0 && report)
            report(done, all);
    }
    void finish()
    {
        if (report)
            report(done, all);
    }

private:
    const std::function<void(uint64_t, uint64_t)> &report;
    uint64_t all;
    uint64_t done = 0;
};

uint64_t entries(MDB_txn *txn, MDB_dbi dbi)
{
    MDB_stat stat;
    checkedCall("measure a table", [&] { return mdb_stat(txn, dbi, &stat); });
    return stat.ms_entries;
}

// The most entries a walk of the store can meet: one per 4 bytes of its
// pages. More means pages that lead back.
uint64_t walkLimit(MDB_txn *txn)
{
    MDB_envinfo info;
    checkedCall("measure the store", [&] { return mdb_env_info(mdb_txn_env(txn), &info); });
    MDB_stat stat;
    checkedCall("measure the store", [&] { return mdb_env_stat(mdb_txn_env(txn), &stat); });
    return (uint64_t{info.me_last_pgno} + 1) * stat.ms_psize / 4 + 1024;
}

// Calls each(key, data) for every record of a table in order (each
// duplicate of a key on its own), with copies made out of the map under a
// fault guard: a damaged page is an IndexDamaged, never a fault.
template <class Each>
void walk(MDB_txn *txn, MDB_dbi dbi, Each each)
{
    const uint64_t limit = walkLimit(txn);
    LmdbCursor cursor(txn, dbi);
    MDB_val key, data;
    for (uint64_t taken = 0;; ++taken) {
        const int result =
            lmdbCall("read", [&] { return mdb_cursor_get(cursor.get(), &key, &data, MDB_NEXT); });
        if (result == MDB_NOTFOUND)
            return;
        checkLmdb(result, "read");
        if (taken >= limit)
            throw damaged("a walk of a table meets more entries than the data file holds");
        std::string keyBytes = copyOf(key, limit * 4, "a key");
        std::string dataBytes = copyOf(data, limit * 4, "a stored value");
        each(MDB_val{keyBytes.size(), keyBytes.data()},
             MDB_val{dataBytes.size(), dataBytes.data()});
    }
}

// Puts records into a table in its own order: each one after the last.
class Appender {
public:
    Appender(MDB_txn *txn, MDB_dbi dbi) : cursor(txn, dbi) {}
    void put(std::string_view key, std::string_view data, bool duplicate = false)
    {
        MDB_val k{key.size(), const_cast<char *>(key.data())};
        MDB_val d{data.size(), const_cast<char *>(data.data())};
        checkLmdb(mdb_cursor_put(cursor.get(), &k, &d, duplicate ? MDB_APPENDDUP : MDB_APPEND),
                  "write the copy");
    }

private:
    LmdbCursor cursor;
};

uint32_t trackKey(const MDB_val &key, const char *table)
{
    uint32_t id = 0;
    if (key.mv_size != sizeof id)
        throw damaged(std::string("a key of its ") + table + " has " + std::to_string(key.mv_size) +
                      " bytes");
    std::memcpy(&id, key.mv_data, sizeof id);
    return id;
}

// Track records and sequences, each checked, in the format this vokid
// writes: records of an older one written again (records before version
// 3 with no album and no values), sequences before version 4 packed.
void copyTracks(MDB_txn *from, const LmdbTables &source, uint32_t form, MDB_txn *to,
                const LmdbTables &target, Tally &tally)
{
    Appender tracks(to, target.tracks);
    walk(from, source.tracks, [&](const MDB_val &key, const MDB_val &data) {
        const uint32_t id = trackKey(key, "tracks");
        const TrackInfo track = decodeTrack(id, bytesOf(data), form);
        tracks.put(bytesOf(key), form >= 3 ? bytesOf(data) : encodeTrack(track));
        tally.one();
    });
    Appender sequences(to, target.sequences);
    walk(from, source.sequences, [&](const MDB_val &key, const MDB_val &data) {
        const uint32_t id = trackKey(key, "sequences");
        if (form == kStoredForm) {
            SequenceView(bytesOf(data), id, form); // checked
            sequences.put(bytesOf(key), bytesOf(data));
        } else {
            sequences.put(bytesOf(key),
                          encodeSequence(decodeSequence(bytesOf(data), id, form), id));
        }
        tally.one();
    });
}

// Paths, and postings of this vokid's layout: fixed-size keys and
// duplicates, copied as they are.
void copyDuplicates(MDB_txn *from, MDB_dbi source, MDB_txn *to, MDB_dbi target, size_t keyBytes,
                    size_t valueBytes, const char *table, Tally &tally)
{
    Appender out(to, target);
    std::string last;
    walk(from, source, [&](const MDB_val &key, const MDB_val &data) {
        if (key.mv_size != keyBytes || data.mv_size != valueBytes)
            throw damaged(std::string("an entry of its ") + table + " has a key of " +
                          std::to_string(key.mv_size) + " bytes and a value of " +
                          std::to_string(data.mv_size));
        const std::string_view now = bytesOf(key);
        out.put(now, bytesOf(data), !last.empty() && now == last);
        last = std::string(now);
        tally.one();
    });
}

// Postings of versions 1 to 3 (a word's key, a native 64-bit value) laid
// out in buckets (posting_layout.h). Their order, by word, then track and
// position, is the buckets' own, so that each is appended.
void copyWordPostings(MDB_txn *from, MDB_dbi source, MDB_txn *to, MDB_dbi target, Tally &tally)
{
    Appender out(to, target);
    bool any = false;
    uint32_t lastBucket = 0;
    walk(from, source, [&](const MDB_val &key, const MDB_val &data) {
        if (key.mv_size != 4 || data.mv_size != 8)
            throw damaged("an entry of its postings has a key of " + std::to_string(key.mv_size) +
                          " bytes and a value of " + std::to_string(data.mv_size));
        uint32_t word = 0;
        uint64_t value = 0;
        std::memcpy(&word, key.mv_data, sizeof word);
        std::memcpy(&value, data.mv_data, sizeof value);
        uint32_t bucket = bucketOf(word);
        const BucketItem item =
            bucketItem(word, static_cast<uint32_t>(value >> 32), static_cast<uint32_t>(value));
        out.put(std::string_view(reinterpret_cast<const char *>(&bucket), sizeof bucket),
                std::string_view(reinterpret_cast<const char *>(item.data()), item.size()),
                any && bucket == lastBucket);
        any = true;
        lastBucket = bucket;
        tally.one();
    });
}

// The store's records of itself: those of the source, the format this
// vokid writes, and `commits`.
void copyInfo(MDB_txn *from, const LmdbTables &source, MDB_txn *to, const LmdbTables &target,
              uint64_t commits)
{
    std::map<std::string, std::string> records;
    walk(from, source.info, [&](const MDB_val &key, const MDB_val &data) {
        records[std::string(bytesOf(key))] = std::string(bytesOf(data));
    });
    for (const auto &[key, data] : records) {
        MDB_val k{key.size(), const_cast<char *>(key.data())};
        MDB_val d{data.size(), const_cast<char *>(data.data())};
        checkLmdb(mdb_put(to, target.info, &k, &d, 0), "write the copy");
    }
    putForm(to, target, kStoredForm);
    putCommits(to, target, commits);
}

// Every record `from` reads into a new store in the empty folder `target`,
// in one transaction (its first: the new store has no free pages).
// Returns the tracks copied.
uint64_t copyStore(MDB_txn *from, const LmdbEnvironment &source, const std::string &target,
                   uint64_t commits, const CopyProgress &progress)
{
    const LmdbTables &tables = source.tables();
    Tally tally(progress, 2 * entries(from, tables.tracks) + entries(from, tables.postings) +
                              entries(from, tables.paths));
    std::unique_ptr<LmdbEnv> env;
    checkLmdb(openEnvironment(env, target, MDB_NOTLS | MDB_NORDAHEAD,
                              fileBytes(source.folder() + "/" + kDataFile)),
              "create the copy");
    LmdbTxn txn(env->get(), true);
    const LmdbTables copy = openTables(txn.get(), MDB_CREATE);
    copyTracks(from, tables, source.form(), txn.get(), copy, tally);
    if (tables.bucketed)
        copyDuplicates(from, tables.postings, txn.get(), copy.postings, 4, kBucketItemBytes,
                       "postings", tally);
    else
        copyWordPostings(from, tables.postings, txn.get(), copy.postings, tally);
    copyDuplicates(from, tables.paths, txn.get(), copy.paths, 8, 4, "paths", tally);
    copyInfo(from, tables, txn.get(), copy, commits);
    const uint64_t tracks = entries(txn.get(), copy.tracks);
    txn.commit();
    tally.finish();
    return tracks;
}

// A copy's folder and what a copy writes in it removed; anything else the
// folder holds is left, and the folder with it.
void removeCopyFolder(const std::string &folder)
{
    for (const char *name : {kDataFile, kLockFile, kHeaderFile, kNewHeaderFile})
        unlink((folder + "/" + name).c_str());
    rmdir(folder.c_str());
}

void makeCopyFolder(const std::string &folder)
{
    if (mkdir(folder.c_str(), 0755) != 0)
        throw IndexError("cannot create the folder of the copy (" + folder +
                         "): " + fileCause(errno));
}

// The meta pages of the copy's data file given the transaction id the
// index's lock file goes by.
void restamp(const std::string &path, uint64_t transaction)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        throw IndexError("cannot open the copy: " + fileCause(errno));
    std::string head(kDataHeadBytes, '\0');
    struct stat status;
    const ssize_t got = pread(fd, head.data(), head.size(), 0);
    bool written = got > 0 && fstat(fd, &status) == 0;
    if (written) {
        head.resize(static_cast<size_t>(got));
        const std::string pages =
            restampedHead(head, static_cast<uint64_t>(status.st_size), transaction);
        written = pwrite(fd, pages.data(), pages.size(), 0) == static_cast<ssize_t>(pages.size()) &&
                  fsync(fd) == 0;
    }
    const int cause = errno;
    close(fd);
    if (!written)
        throw IndexError("cannot write the copy: " + fileCause(cause));
}

// Room for a copy of the live pages beside the index, with a margin.
void requireRoom(const std::string &folder, MDB_txn *txn, const LmdbTables &tables)
{
    uint64_t pages = 2;
    uint64_t pageSize = 4096;
    for (MDB_dbi dbi : {tables.tracks, tables.sequences, tables.postings, tables.paths, tables.info,
                        tables.main}) {
        MDB_stat stat;
        checkedCall("measure a table", [&] { return mdb_stat(txn, dbi, &stat); });
        pages += stat.ms_branch_pages + stat.ms_leaf_pages + stat.ms_overflow_pages;
        pageSize = stat.ms_psize;
    }
    const uint64_t needed = pages * pageSize + pages * pageSize / 20 + (uint64_t{1} << 20);
    struct statvfs disk;
    if (statvfs(folder.c_str(), &disk) != 0)
        return;
    const uint64_t free = uint64_t{disk.f_bavail} * disk.f_frsize;
    if (free < needed) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "no room for a copy of the index beside it (it takes about %.1f MB, "
                      "%.1f MB are free)",
                      static_cast<double>(needed) / 1e6, static_cast<double>(free) / 1e6);
        throw NoSpaceError(text);
    }
}

// The copy's data file renamed over the index's, while the write lock
// is held: transaction ids go on from the last one committed.
uint64_t replaceDataFile(const std::string &folder, LmdbEnvironment &env, uint64_t commits,
                         const CopyProgress &progress)
{
    MDB_envinfo info;
    checkLmdb(mdb_env_info(env.get(), &info), "measure the store");
    const std::string copy = folder + "/" + kCopyFolder;
    removeCopyFolder(copy); // what an interrupted one left
    makeCopyFolder(copy);
    try {
        LmdbTxn snapshot(env.get(), false);
        const uint64_t tracks = copyStore(snapshot.get(), env, copy, commits, progress);
        restamp(copy + "/" + kDataFile, info.me_last_txnid);
        if (rename((copy + "/" + kDataFile).c_str(), (folder + "/" + kDataFile).c_str()) != 0)
            throw IndexError("cannot rename the copy in: " + fileCause(errno));
        syncFolder(folder);
        removeCopyFolder(copy);
        return tracks;
    } catch (const IndexError &) {
        removeCopyFolder(copy);
        throw;
    }
}

// The write lock, held on the folder's current data file.
LmdbTxn lockWriters(const std::string &folder, const LmdbEnvironment &env,
                    const CopyProgress &progress)
{
    std::atomic<bool> noticed{false};
    LmdbTxn lock = beginWrite(env.get(), progress.waiting, noticed);
    const std::optional<FileIdentity> now = dataFileIdentity(folder);
    if (!now || *now != env.dataFile())
        throw IndexError("its data file was replaced while this waited for the write lock "
                         "(another compact or upgrade): run it again");
    return lock;
}

} // namespace

CopyReport compactLmdbFolder(const std::string &folder, const CopyProgress &progress)
{
    const std::unique_ptr<LmdbStore> store = openLmdbStore(folder, StoreAccess::Update);
    const std::shared_ptr<LmdbEnvironment> env = store->environment();
    CopyReport report;
    report.bytesBefore = folderBytes(folder);
    {
        const LmdbTxn look(env->get(), false);
        requireRoom(folder, look.get(), env->tables());
    }
    const LmdbTxn lock = lockWriters(folder, *env, progress);
    {
        const LmdbTxn look(env->get(), false);
        report.commits = storedCommits(look.get(), env->tables());
    }
    report.tracks = replaceDataFile(folder, *env, report.commits, progress);
    report.bytesAfter = folderBytes(folder);
    return report;
}

CopyReport upgradeLmdbFolder(const std::string &folder, const CopyProgress &progress)
{
    const std::unique_ptr<LmdbStore> store = openLmdbStore(folder, StoreAccess::Update, true);
    const std::shared_ptr<LmdbEnvironment> env = store->environment();
    CopyReport report;
    report.bytesBefore = folderBytes(folder);
    if (env->form() >= kStoredForm) { // opening it brought its header up, if need be
        // What an upgrade stopped after its rename left beside the store.
        if (entryStatus(folder, kCopyFolder)) {
            const LmdbTxn lock = lockWriters(folder, *env, progress);
            removeCopyFolder(folder + "/" + kCopyFolder);
        }
        const LmdbTxn look(env->get(), false);
        report.commits = storedCommits(look.get(), env->tables());
        report.tracks = entries(look.get(), env->tables().tracks);
        report.bytesAfter = report.bytesBefore;
        report.done = false;
        return report;
    }
    {
        const LmdbTxn look(env->get(), false);
        requireRoom(folder, look.get(), env->tables());
    }
    const LmdbTxn lock = lockWriters(folder, *env, progress);
    {
        const LmdbTxn look(env->get(), false);
        report.commits = storedCommits(look.get(), env->tables()) + 1;
    }
    report.tracks = replaceDataFile(folder, *env, report.commits, progress);
    // From here the store is of this version: a header left older by an
    // interruption is brought up by the next command that writes.
    const FolderLock header(folder);
    IndexHeader written = readHeaderFile(folder);
    written.version = kStoredForm;
    written.commits = report.commits;
    writeHeaderFile(folder, written);
    keepReserve(folder); // the room an index of this version keeps for a removal
    report.bytesAfter = folderBytes(folder);
    return report;
}

namespace {

std::string parentOf(const std::string &path)
{
    const size_t slash = path.find_last_not_of('/') == std::string::npos
                             ? std::string::npos
                             : path.rfind('/', path.find_last_not_of('/'));
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseOf(const std::string &path)
{
    const size_t end = path.find_last_not_of('/');
    if (end == std::string::npos)
        return path;
    const size_t slash = path.rfind('/', end);
    return path.substr(slash == std::string::npos ? 0 : slash + 1,
                       slash == std::string::npos ? end + 1 : end - slash);
}

// ".NAME.vokid-partial.": the copy of a new index NAME is written in a
// folder beside it named by this and its process id, then renamed to NAME.
std::string partialPrefix(const std::string &destination)
{
    return "." + baseOf(destination) + ".vokid-partial.";
}

// The partial copies of processes that ended before they finished.
void clearStalePartials(const std::string &destination)
{
    const std::string parent = parentOf(destination);
    const std::string prefix = partialPrefix(destination);
    DIR *dir = opendir(parent.c_str());
    if (!dir)
        return;
    while (const dirent *entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
        if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            removeCopyFolder(parent + "/" + name);
    }
    closedir(dir);
}

// Renames the finished copy to its name, unless something has taken the
// name meanwhile.
void renameToNew(const std::string &from, const std::string &to)
{
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return;
    int cause = errno;
    if (cause == EINVAL || cause == ENOSYS) { // a file system without it
        struct stat status;
        cause = lstat(to.c_str(), &status) == 0         ? EEXIST
                : rename(from.c_str(), to.c_str()) == 0 ? 0
                                                        : errno;
        if (cause == 0)
            return;
    }
    throw IndexError("cannot name the copy " + to + ": " +
                     (cause == EEXIST || cause == ENOTEMPTY ? "it exists" : fileCause(cause)));
}

// The copy as a new index at `destination`: a snapshot of the index, or,
// holding the write lock, its last state.
CopyReport copyToNew(const std::string &folder, const std::string &destination,
                     const CopyProgress &progress, bool holdWriters)
{
    struct stat status;
    if (lstat(destination.c_str(), &status) == 0)
        throw IndexError(destination + " exists (the copy is written to a new folder)");
    const std::unique_ptr<LmdbStore> store =
        openLmdbStore(folder, holdWriters ? StoreAccess::Update : StoreAccess::Read);
    const std::shared_ptr<LmdbEnvironment> env = store->environment();
    std::optional<LmdbTxn> lock;
    if (holdWriters)
        lock.emplace(lockWriters(folder, *env, progress));
    clearStalePartials(destination);
    const std::string partial =
        parentOf(destination) + "/" + partialPrefix(destination) + std::to_string(getpid());
    CopyReport report;
    report.bytesBefore = folderBytes(folder);
    makeCopyFolder(partial);
    try {
        const LmdbTxn snapshot(env->get(), false);
        report.commits = storedCommits(snapshot.get(), env->tables());
        report.tracks = copyStore(snapshot.get(), *env, partial, report.commits, progress);
        MDB_envinfo info;
        if (env->unlocked() && (mdb_env_info(env->get(), &info) != MDB_SUCCESS ||
                                info.me_last_txnid > mdb_txn_id(snapshot.get()) + 1))
            throw IndexError("the index changed while it was copied (this user reads it "
                             "without its lock file, unseen by those who write): run it again");
        unlink((partial + "/" + kLockFile).c_str());
        IndexHeader header;
        header.step = store->step();
        header.commits = report.commits;
        writeHeaderFile(partial, header);
        renameToNew(partial, destination);
        syncFolder(parentOf(destination));
    } catch (const IndexError &) {
        removeCopyFolder(partial);
        throw;
    }
    report.bytesAfter = folderBytes(destination);
    return report;
}

} // namespace

CopyReport backupLmdbFolder(const std::string &folder, const std::string &destination,
                            const CopyProgress &progress)
{
    return copyToNew(folder, destination, progress, false);
}

CopyReport compactLmdbFolderInto(const std::string &folder, const std::string &into,
                                 const CopyProgress &progress)
{
    return copyToNew(folder, into, progress, true);
}

} // namespace vokid
