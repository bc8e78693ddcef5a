#include "vokid/index/lmdb/lmdb_store.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "vokid/index/lmdb/index_header.h"
#include "vokid/index/lmdb/page_check.h"
#include "vokid/index/lmdb/posting_layout.h"
#include "vokid/index/postings.h"
#include "vokid/index/stored_form.h"

namespace vokid {

struct LmdbStore::Shared {
    std::string folder;
    uint32_t step = kDefaultStep;
    bool writable = false;
    bool upgrading = false; // a store of an older format opened for writing
    std::mutex mutex;
    std::condition_variable idle;
    size_t live = 0; // views and batches open, of whichever opening
    std::shared_ptr<LmdbEnvironment> env;
    std::function<void()> waitNotice;
    std::atomic<bool> noticed{false};
};

IndexError olderThanItsHeader(const std::string &folder, uint64_t stored, uint64_t header)
{
    return IndexError("the index is older than its last commit (its store holds " +
                      std::to_string(stored) + " commits, its header counts " +
                      std::to_string(header) +
                      "): it was rolled back or replaced by an older "
                      "copy; vokid check " +
                      folder + " examines it, and a backup restores it");
}

namespace {

using Shared = LmdbStore::Shared;

// How long a new view waits for the views of a replaced data file to end
// before it reads the old one (a snapshot of it, as consistent as ever),
// and how long a batch waits before it gives up (it must not write to the
// old one).
constexpr auto kViewDrain = std::chrono::seconds(2);
constexpr auto kBatchDrain = std::chrono::seconds(60);
const std::string kNextIdKey = "next_id";

// An opening of the store, counted open while a view or batch holds it:
// the store opens a replaced data file only when none is held.
class Held {
public:
    Held(std::shared_ptr<Shared> state, std::shared_ptr<LmdbEnvironment> opening)
        : shared(std::move(state)), env(std::move(opening))
    {
    }
    ~Held()
    {
        const std::lock_guard<std::mutex> lock(shared->mutex);
        --shared->live;
        shared->idle.notify_all();
    }
    Held(const Held &) = delete;
    Held &operator=(const Held &) = delete;
    LmdbEnvironment &operator*() const { return *env; }
    LmdbEnvironment *operator->() const { return env.get(); }

private:
    std::shared_ptr<Shared> shared;
    std::shared_ptr<LmdbEnvironment> env;
};

// The header and the store agree on the format; the store holds at least
// the commits the header counts. A header left at version 1 by an upgrade
// that stopped after renaming its store in is brought up by a writer.
void checkAgainstHeader(const Shared &shared, LmdbEnvironment &env)
{
    IndexHeader header = readHeaderFile(shared.folder);
    // A store that reads as older than its header (its record of its format
    // lost with a damaged page) is damaged, not one to upgrade.
    if (header.version > env.form())
        throw damaged("its header has format version " + std::to_string(header.version) +
                      ", its store version " + std::to_string(env.form()));
    if (env.form() > kStoredForm)
        throw IndexError("the index's store has format version " + std::to_string(env.form()) +
                         ", this vokid reads versions " + std::to_string(kOldestForm) + " to " +
                         std::to_string(kStoredForm) + " (a newer vokid made it)");
    if (shared.writable && !shared.upgrading && env.form() < kStoredForm)
        throw OlderFormat("the index has format version " + std::to_string(env.form()) +
                          ", which this vokid only reads: vokid upgrade " + shared.folder +
                          " converts it");
    LmdbTxn txn(env.get(), false);
    const uint64_t stored = storedCommits(txn.get(), env.tables());
    if (stored < header.commits)
        throw olderThanItsHeader(shared.folder, stored, header.commits);
    if (header.version < env.form() && shared.writable) {
        const FolderLock lock(shared.folder);
        header.version = env.form();
        header.commits = stored;
        writeHeaderFile(shared.folder, header);
    }
}

std::shared_ptr<LmdbEnvironment> openChecked(const Shared &shared)
{
    auto env = std::make_shared<LmdbEnvironment>(shared.folder, shared.writable
                                                                    ? LmdbEnvironment::Mode::Write
                                                                    : LmdbEnvironment::Mode::Read);
    checkAgainstHeader(shared, *env);
    return env;
}

// The opening to read or write with, held: a data file renamed in since
// the last one is opened once the views of the old one have ended (the
// old opening closed first).
std::unique_ptr<Held> holdCurrent(const std::shared_ptr<Shared> &shared, bool forWrite)
{
    std::unique_lock<std::mutex> lock(shared->mutex);
    const std::optional<FileIdentity> now =
        shared->env ? dataFileIdentity(shared->folder) : std::nullopt;
    if (now && *now != shared->env->dataFile()) {
        const FileIdentity old = shared->env->dataFile();
        const auto ready = [&] {
            return shared->live == 0 || !shared->env || shared->env->dataFile() != old;
        };
        if (shared->idle.wait_for(lock, forWrite ? kBatchDrain : kViewDrain, ready)) {
            if (shared->env && shared->env->dataFile() == old)
                shared->env.reset();
        } else if (forWrite) {
            throw IndexError("its data file was replaced (by compact or upgrade) while this "
                             "process kept views of the old one open");
        }
    }
    if (!shared->env)
        shared->env = openChecked(*shared);
    shared->env->clearStaleReaders(forWrite);
    ++shared->live;
    return std::make_unique<Held>(shared, shared->env);
}

LmdbTxn beginTxn(LmdbEnvironment &env, Shared &shared, bool write)
{
    if (!write)
        return LmdbTxn(env.get(), false);
    return beginWrite(env.get(), shared.waitNotice, shared.noticed);
}

uint64_t fileBytes(const std::string &path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
}

// The store reports a write cut short by a full disk as an I/O error
// (only a write that gets no byte in says ENOSPC): one whose disk has less
// than 1 MB left for this user was cut short by it.
bool diskFull(const std::string &folder)
{
    struct statvfs disk;
    return statvfs(folder.c_str(), &disk) == 0 &&
           uint64_t{disk.f_bavail} * disk.f_frsize < (uint64_t{1} << 20);
}

// Paths are found by a 64-bit hash of their bytes (FNV-1a): a key holds at
// most 511 bytes, a path may hold more. Equal hashes of different paths
// are told apart by the paths in the track records.
uint64_t pathKey(const std::string &path)
{
    uint64_t hash = 14695981039346656037u;
    for (char c : path) {
        hash ^= static_cast<uint8_t>(c);
        hash *= 1099511628211u;
    }
    return hash;
}

// A posting of versions 1 to 3 as stored (posting_layout.h).
Posting postingOf(const char *bytes)
{
    uint64_t value = 0;
    std::memcpy(&value, bytes, sizeof value); // duplicates lie 2-byte aligned
    return Posting{static_cast<uint32_t>(value >> 32), static_cast<uint32_t>(value)};
}

MDB_val itemValue(const BucketItem &item)
{
    return MDB_val{item.size(), const_cast<unsigned char *>(item.data())};
}

// A stored record that does not read back (cut short, a value out of
// range, a checksum that does not match) is damage.
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

// A 32-bit key or value read out of the map, its size checked first.
uint32_t read32(const MDB_val &value, const char *what)
{
    if (value.mv_size != sizeof(uint32_t))
        throw damaged(std::string(what) + " of " + std::to_string(value.mv_size) + " bytes");
    uint32_t number = 0;
    if (!guardFaults([&] { std::memcpy(&number, value.mv_data, sizeof number); }))
        throwFault("read");
    return number;
}

// A key not found must not be so because the page the search ended on is
// not the one it was sent to: the entry the search ends beside (the first
// above the key, else the table's last) is checked on its page, and a
// table whose record counts entries must have a last one.
void checkAbsent(MDB_cursor *cursor, MDB_val key, StoreMap &map)
{
    MDB_val data;
    int result =
        lmdbCall("read", [&] { return mdb_cursor_get(cursor, &key, &data, MDB_SET_RANGE); });
    if (result == MDB_NOTFOUND)
        result = lmdbCall("read", [&] { return mdb_cursor_get(cursor, &key, &data, MDB_LAST); });
    if (result == MDB_NOTFOUND) {
        MDB_stat stat;
        checkedCall("measure a table", [&] {
            return mdb_stat(mdb_cursor_txn(cursor), mdb_cursor_dbi(cursor), &stat);
        });
        if (stat.ms_entries != 0)
            throw damaged("a table counts " + std::to_string(stat.ms_entries) +
                          " entries, and its pages hold none");
        return;
    }
    checkLmdb(result, "read");
    checkOnPage(map, key, "a key");
    checkOnPage(map, data, "a stored value");
}

// No walk of a table in a file of `bytes` can take more steps than the
// file has room for entries of 4 bytes: more means pages that lead back.
uint64_t walkLimit(uint64_t bytes)
{
    return bytes / 4 + 1024;
}

class LmdbTransaction final : public IndexBatch {
public:
    LmdbTransaction(std::unique_ptr<Held> opening, std::shared_ptr<Shared> state, bool forWriting)
        : held(std::move(opening)), shared(std::move(state)), env((*held)->get()),
          tables((*held)->tables()), form((*held)->form()), unlocked((*held)->unlocked()),
          txn(beginTxn(**held, *shared, forWriting)), write(forWriting), step(shared->step),
          snapshot(mdb_txn_id(txn.get())),
          maxValue(forWriting ? UINT64_MAX : fileBytes(shared->folder + "/" + kDataFile)),
          steps(walkLimit(fileBytes(shared->folder + "/" + kDataFile))),
          map(storeMap(env, (*held)->mapRegions()))
    {
        // Readers share the pages found sound while the file is unchanged.
        mdb_filehandle_t fd = -1;
        struct stat file;
        if (!forWriting && mdb_env_get_fd(env, &fd) == MDB_SUCCESS && fstat(fd, &file) == 0)
            (*held)->soundPages(static_cast<uint64_t>(file.st_size),
                                int64_t{file.st_mtim.tv_sec} * 1000000000 + file.st_mtim.tv_nsec,
                                map);
    }

    std::optional<TrackInfo> track(uint32_t id) override;
    std::optional<TrackInfo> trackAt(const std::string &path) override;
    std::vector<TrackInfo> tracks() override;
    void postings(const std::vector<uint32_t> &words, size_t limit, PostingLists &out) override;
    SubFingerprints sequence(uint32_t track, int64_t from, size_t length, int64_t &first) override;
    std::optional<TrackPrint> print(uint32_t track) override;
    StoreStats stats() override;

    uint32_t put(TrackInfo info, const TrackPrint &print, const PrintPostings &postings) override;
    bool setValues(uint32_t id, const FileValues &values) override;
    bool remove(uint32_t id) override;
    void commit() override;

    // For a batch just begun: whether it writes to the folder's data file
    // (not one that compact or upgrade replaced while it waited for the
    // lock), and that the store holds the commits its header counts.
    bool onCurrentDataFile() const;
    void checkNotOlder();

private:
    struct Pending {
        uint32_t word;
        uint32_t track;
        uint32_t position;
    };

    template <class Read>
    auto guarded(Read read) -> decltype(read());
    bool unchangedSinceSnapshot() const;
    // `page`, when given, receives the page the value starts on.
    std::optional<std::string> get(MDB_dbi dbi, MDB_val key,
                                   std::optional<uint64_t> *page = nullptr);
    std::optional<std::string> storedSequence(uint32_t track,
                                              std::optional<uint64_t> *page = nullptr);
    // The next entry of a walk; false at the end.
    bool next(MDB_cursor *cursor, MDB_val &key, MDB_val &data, MDB_cursor_op op, uint64_t &taken);
    std::optional<TrackInfo> trackRecord(uint32_t id);
    std::vector<TrackInfo> allTracks();
    void requireWrite() const;
    void requireBuckets() const;
    void checkLeavesAt(MDB_cursor *cursor, MDB_val key, const MDB_val *value);
    void checkLeavesFor(MDB_dbi dbi, MDB_val key);
    bool removeEntry(MDB_cursor *cursor, MDB_val key, const MDB_val *value, const char *doing);
    uint32_t nextId(uint32_t taken = 0);
    void removeContents(const TrackInfo &old);
    void flushPending();
    size_t bucketPostings(MDB_cursor *cursor, uint32_t word, size_t limit, PostingLists &out);
    void afterCommit(uint64_t commits) const;
    StoreStats measure();
    uint64_t tableBytes(MDB_dbi dbi, uint64_t *entries = nullptr);
    uint64_t freePages();
    uint64_t activeReaders();
    std::vector<StoreFact> facts();

    std::unique_ptr<Held> held;
    std::shared_ptr<Shared> shared;
    MDB_env *env;
    LmdbTables tables; // a copy: the opening may be closed once the batch is committed
    uint32_t form;     // of the records
    bool unlocked;     // read without the lock file
    LmdbTxn txn;
    bool write;
    uint32_t step;
    uint64_t snapshot; // the store's transaction id it reads
    uint64_t maxValue; // the most bytes a stored value can have
    uint64_t steps;    // the most entries a walk can meet
    StoreMap map;
    bool served = false;
    std::vector<Pending> pending;
    std::vector<Posting> wordScratch;       // a word's postings, until its count is known
    std::vector<unsigned char> pageScratch; // a page of postings, copied out of the map
};

// Without the lock file no writer knows of this view, and may reuse the
// pages it reads once two transactions have been committed after its
// snapshot (LMDB reuses the pages a transaction freed two transactions
// later). A read that saw at most one is sound; otherwise it is read
// again from the newest state, when nothing was read before (a view is
// one state), or refused.
template <class Read>
auto LmdbTransaction::guarded(Read read) -> decltype(read())
{
    if (!unlocked)
        return read();
    for (int attempt = 0;; ++attempt) {
        try {
            auto result = read();
            if (unchangedSinceSnapshot()) {
                served = true;
                return result;
            }
        } catch (const IndexError &) {
            if (unchangedSinceSnapshot())
                throw;
        }
        if (served || attempt > 0)
            throw IndexError("the index changed while it was read (this user reads it without "
                             "its lock file, unseen by those who write): run the command again");
        txn.renew();
        snapshot = mdb_txn_id(txn.get());
    }
}

bool LmdbTransaction::unchangedSinceSnapshot() const
{
    MDB_envinfo info;
    return mdb_env_info(env, &info) == MDB_SUCCESS && info.me_last_txnid <= snapshot + 1;
}

bool LmdbTransaction::onCurrentDataFile() const
{
    const std::optional<FileIdentity> now = dataFileIdentity(shared->folder);
    return !now || *now == (*held)->dataFile();
}

void LmdbTransaction::checkNotOlder()
{
    const uint64_t stored = storedCommits(txn.get(), tables);
    const uint64_t header = readHeaderFile(shared->folder).commits;
    if (stored < header)
        throw olderThanItsHeader(shared->folder, stored, header);
}

std::optional<std::string> LmdbTransaction::get(MDB_dbi dbi, MDB_val key,
                                                std::optional<uint64_t> *page)
{
    MDB_val data;
    const int result = lmdbCall("read", [&] { return mdb_get(txn.get(), dbi, &key, &data); });
    if (result == MDB_NOTFOUND) {
        checkAbsent(LmdbCursor(txn.get(), dbi).get(), key, map);
        return std::nullopt;
    }
    checkLmdb(result, "read");
    checkOnPage(map, data, "a stored value");
    if (page)
        *page = pageOf(map, data);
    return copyOf(data, maxValue, "a stored value");
}

bool LmdbTransaction::next(MDB_cursor *cursor, MDB_val &key, MDB_val &data, MDB_cursor_op op,
                           uint64_t &taken)
{
    const int result = lmdbCall("read", [&] { return mdb_cursor_get(cursor, &key, &data, op); });
    if (result == MDB_NOTFOUND)
        return false;
    checkLmdb(result, "read");
    if (++taken > steps)
        throw damaged("a walk of a table meets more entries than the data file holds");
    checkOnPage(map, key, "a key");
    checkOnPage(map, data, "a stored value");
    return true;
}

std::optional<TrackInfo> LmdbTransaction::trackRecord(uint32_t id)
{
    const auto bytes = get(tables.tracks, valueOf(id));
    if (!bytes)
        return std::nullopt;
    return decodeStored([&] { return decodeTrack(id, *bytes, form); });
}

std::optional<TrackInfo> LmdbTransaction::track(uint32_t id)
{
    return guarded([&] { return trackRecord(id); });
}

std::optional<TrackInfo> LmdbTransaction::trackAt(const std::string &path)
{
    return guarded([&]() -> std::optional<TrackInfo> {
        uint64_t key = pathKey(path);
        MDB_val keyValue = valueOf(key);
        MDB_val data;
        LmdbCursor cursor(txn.get(), tables.paths);
        uint64_t taken = 0;
        MDB_cursor_op op = MDB_SET_KEY;
        while (next(cursor.get(), keyValue, data, op, taken)) {
            std::optional<TrackInfo> found = trackRecord(read32(data, "a path's track id"));
            if (found && found->path == path)
                return found;
            op = MDB_NEXT_DUP;
        }
        if (op == MDB_SET_KEY) // no path of that hash: not because of a page sent astray
            checkAbsent(cursor.get(), valueOf(key), map);
        return std::nullopt;
    });
}

std::vector<TrackInfo> LmdbTransaction::allTracks()
{
    std::vector<TrackInfo> all;
    LmdbCursor cursor(txn.get(), tables.tracks);
    MDB_val key, data;
    uint64_t taken = 0;
    while (next(cursor.get(), key, data, MDB_NEXT, taken)) {
        const uint32_t id = read32(key, "a track record's key");
        const std::string record = copyOf(data, maxValue, "a track record");
        all.push_back(decodeStored([&] { return decodeTrack(id, record, form); }));
    }
    return all;
}

std::vector<TrackInfo> LmdbTransaction::tracks()
{
    return guarded([&] { return allTracks(); });
}

// The postings of one word at the cursor, unless there are more than
// `limit`; returns how many there are. They must ascend, and number what
// the word's count says; none can be larger than the data file (`bytes`).
size_t wordPostings(MDB_cursor *cursor, uint32_t word, size_t limit, uint64_t bytes, StoreMap &map,
                    PostingLists &out)
{
    MDB_val key = valueOf(word);
    MDB_val data;
    int result = lmdbCall("read", [&] { return mdb_cursor_get(cursor, &key, &data, MDB_SET_KEY); });
    if (result == MDB_NOTFOUND) {
        checkAbsent(cursor, valueOf(word), map);
        return 0;
    }
    checkLmdb(result, "read");
    checkOnPage(map, key, "a key");
    size_t count = 0;
    checkedCall("count", [&] { return mdb_cursor_count(cursor, &count); });
    if (count > bytes / sizeof(uint64_t))
        throw damaged("a word counts more postings than the data file can hold");
    if (count > limit)
        return count;
    size_t listed = 0;
    uint64_t last = 0;
    // A page of postings at a time.
    for (MDB_cursor_op op = MDB_GET_MULTIPLE;; op = MDB_NEXT_MULTIPLE) {
        result = lmdbCall("read", [&] { return mdb_cursor_get(cursor, &key, &data, op); });
        if (result == MDB_NOTFOUND)
            break;
        checkLmdb(result, "read");
        checkOnPage(map, data, "a page of postings");
        const std::string page = copyOf(data, bytes, "a page of postings");
        if (page.empty() || page.size() % sizeof last != 0 ||
            listed + page.size() / sizeof last > count)
            throw damaged("a word's postings do not number what its count says");
        for (size_t at = 0; at < page.size(); at += sizeof last) {
            const Posting posting = postingOf(page.data() + at);
            const uint64_t value = wordPostingValue(posting.track, posting.position);
            if (listed++ > 0 && value <= last)
                throw damaged("a word's postings are out of order");
            last = value;
            out.add(posting);
        }
    }
    if (listed != count)
        throw damaged("a word's postings do not number what its count says");
    return count;
}

// The postings of one word in its bucket (format version 4), unless there
// are more than `limit`: then limit + 1 is returned, and the rest is not
// read. The cursor lands on the word's first posting, and the pages of
// the bucket's duplicates are read from there while they hold the word's.
// They must ascend; a walk of more pages than the file has is damage.
size_t LmdbTransaction::bucketPostings(MDB_cursor *cursor, uint32_t word, size_t limit,
                                       PostingLists &out)
{
    uint32_t bucket = bucketOf(word);
    const BucketItem start = bucketItem(word, 0, 0);
    MDB_val key = valueOf(bucket);
    MDB_val data = itemValue(start);
    int result =
        lmdbCall("read", [&] { return mdb_cursor_get(cursor, &key, &data, MDB_GET_BOTH_RANGE); });
    if (result == MDB_NOTFOUND) {
        checkAbsent(cursor, valueOf(bucket), map);
        return 0;
    }
    checkLmdb(result, "read");
    checkOnPage(map, key, "a key");
    if (data.mv_size != kBucketItemBytes)
        throw damaged("a posting has " + std::to_string(data.mv_size) + " bytes");
    const auto *landed = static_cast<const unsigned char *>(data.mv_data);
    // The page of duplicates the cursor is on (a bucket of one posting
    // has none: the value is its page).
    MDB_val page = data;
    checkedCall("read", [&] { return mdb_cursor_get(cursor, &key, &page, MDB_GET_MULTIPLE); });
    const uint32_t low = lowOf(word);
    wordScratch.clear();
    size_t count = 0;
    uint64_t last = 0;
    uint64_t taken = 0;
    for (bool first = true;; first = false) {
        checkOnPage(map, page, "a page of postings");
        const auto *begin = static_cast<const unsigned char *>(page.mv_data);
        if (page.mv_size == 0 || page.mv_size % kBucketItemBytes != 0 ||
            page.mv_size > map.pageSize || ++taken > steps)
            throw damaged("a page of postings holds " + std::to_string(page.mv_size) + " bytes");
        size_t from = 0;
        if (first) {
            if (landed < begin || landed >= begin + page.mv_size ||
                (landed - begin) % kBucketItemBytes != 0)
                throw damaged("a posting lies outside its page of postings");
            from = static_cast<size_t>(landed - begin);
        }
        const size_t bytes = page.mv_size - from;
        pageScratch.resize(bytes);
        if (!guardFaults([&] { std::memcpy(pageScratch.data(), begin + from, bytes); }))
            throwFault("read a page of postings");
        for (size_t at = 0; at < bytes; at += kBucketItemBytes) {
            const BucketPosting posting = readBucketItem(pageScratch.data() + at);
            if (posting.low != low)
                return count > limit ? count : (out.addAll(wordScratch), count);
            const uint64_t value = wordPostingValue(posting.track, posting.position);
            if (count > 0 && value <= last)
                throw damaged("a word's postings are out of order");
            last = value;
            if (++count > limit)
                return count;
            wordScratch.push_back(Posting{posting.track, posting.position});
        }
        result = lmdbCall("read",
                          [&] { return mdb_cursor_get(cursor, &key, &page, MDB_NEXT_MULTIPLE); });
        if (result == MDB_NOTFOUND)
            break;
        checkLmdb(result, "read");
    }
    out.addAll(wordScratch);
    return count;
}

// One cursor walks the words in order: a word near the last one is
// found from the page the cursor is on, without a descent from the root.
void LmdbTransaction::postings(const std::vector<uint32_t> &words, size_t limit, PostingLists &out)
{
    requireAscending(words);
    if (write)
        flushPending(); // a batch finds the postings it has put
    guarded([&] {
        out.clear();
        LmdbCursor cursor(txn.get(), tables.postings);
        for (uint32_t word : words)
            out.close(tables.bucketed
                          ? bucketPostings(cursor.get(), word, limit, out)
                          : wordPostings(cursor.get(), word, limit, maxValue, map, out));
        return true;
    });
}

std::optional<std::string> LmdbTransaction::storedSequence(uint32_t track,
                                                           std::optional<uint64_t> *page)
{
    return get(tables.sequences, valueOf(track), page);
}

SubFingerprints LmdbTransaction::sequence(uint32_t track, int64_t from, size_t length,
                                          int64_t &first)
{
    return guarded([&] {
        first = 0;
        std::optional<uint64_t> page;
        const auto bytes = storedSequence(track, &page);
        if (!bytes)
            return SubFingerprints();
        // A sequence whose checksum matched at this place of an unchanged
        // file is not summed again.
        const bool known = page && map.soundRecords && map.soundRecords->has(*page, track);
        return decodeStored([&] {
            const SequenceView view(*bytes, track, form, known);
            if (page && map.soundRecords && !known)
                map.soundRecords->add(*page, track);
            return view.slice(from, length, first);
        });
    });
}

std::optional<TrackPrint> LmdbTransaction::print(uint32_t track)
{
    return guarded([&]() -> std::optional<TrackPrint> {
        const auto bytes = storedSequence(track);
        if (!bytes)
            return std::nullopt;
        return decodeStored([&] { return decodeSequence(*bytes, track, form); });
    });
}

uint64_t LmdbTransaction::tableBytes(MDB_dbi dbi, uint64_t *entries)
{
    MDB_stat stat;
    checkedCall("measure a table", [&] { return mdb_stat(txn.get(), dbi, &stat); });
    if (entries)
        *entries = stat.ms_entries;
    return uint64_t{stat.ms_psize} *
           (stat.ms_branch_pages + stat.ms_leaf_pages + stat.ms_overflow_pages);
}

StoreStats LmdbTransaction::stats()
{
    if (write)
        flushPending(); // a batch counts the postings it has put
    return guarded([&] { return measure(); });
}

StoreStats LmdbTransaction::measure()
{
    StoreStats stats;
    stats.step = step;
    for (const TrackInfo &info : allTracks()) {
        ++stats.tracks;
        stats.tracksWithValues += info.values ? 1 : 0;
        stats.seconds += info.duration;
        stats.words += info.words;
        stats.trackPostings += info.postings;
    }
    stats.postingBytes = tableBytes(tables.postings, &stats.postings);
    stats.sequenceBytes = tableBytes(tables.sequences);
    MDB_envinfo info;
    checkedCall("measure the store", [&] { return mdb_env_info(env, &info); });
    MDB_stat main;
    checkedCall("measure the store", [&] { return mdb_env_stat(env, &main); });
    const uint64_t pageSize = main.ms_psize;
    // The two meta pages and the table of tables belong to the store.
    stats.metadataBytes = tableBytes(tables.tracks) + tableBytes(tables.paths) +
                          tableBytes(tables.info) + tableBytes(tables.main) + 2 * pageSize;
    const uint64_t used = (uint64_t{info.me_last_pgno} + 1) * pageSize;
    const uint64_t counted = stats.postingBytes + stats.sequenceBytes + stats.metadataBytes;
    stats.freeBytes = used > counted ? used - counted : 0;
    // A table's own figures leave out the pages of its keys' tables of
    // duplicates (a bucket's postings past a part of a page): a view
    // counts every page in use that is neither another table's nor on the
    // free list as the postings'.
    if (!write) {
        const uint64_t free = freePages() * pageSize;
        stats.postingBytes += stats.freeBytes > free ? stats.freeBytes - free : 0;
        stats.freeBytes = std::min(stats.freeBytes, free);
    }
    const std::string &folder = shared->folder;
    stats.fileBytes = fileBytes(folder + "/" + kDataFile) + fileBytes(folder + "/" + kLockFile) +
                      fileBytes(folder + "/" + kHeaderFile) +
                      fileBytes(folder + "/" + kReserveFile);
    stats.kind = "lmdb";
    stats.facts = facts();
    return stats;
}

// Pages on the store's free list, to be reused by later writes: the sum
// of the page counts its records start with. Only a view may read the
// list (LMDB keeps it to itself in a write transaction); a batch gives 0.
uint64_t LmdbTransaction::freePages()
{
    if (write)
        return 0;
    LmdbCursor cursor(txn.get(), 0);
    MDB_val key, data;
    uint64_t pages = 0;
    uint64_t taken = 0;
    while (next(cursor.get(), key, data, MDB_NEXT, taken)) {
        size_t count = 0;
        if (data.mv_size >= sizeof count &&
            !guardFaults([&] { std::memcpy(&count, data.mv_data, sizeof count); }))
            throwFault("read the free list");
        if (count > steps)
            throw damaged("a record of the free list names more pages than the file has");
        pages += count;
    }
    return pages;
}

// Readers in the lock table now, stale ones among them: LMDB lists them
// a line each after a heading line.
uint64_t LmdbTransaction::activeReaders()
{
    if (unlocked)
        return 0;
    uint64_t lines = 0;
    const auto count = [](const char *line, void *context) {
        if (std::strncmp(line, "(no ", 4) != 0)
            ++*static_cast<uint64_t *>(context);
        return 0;
    };
    mdb_reader_list(env, count, &lines);
    return lines > 0 ? lines - 1 : 0;
}

// LMDB's own figures, each read without a walk of the tables, and the
// store's records of itself.
std::vector<StoreFact> LmdbTransaction::facts()
{
    MDB_envinfo info;
    checkedCall("measure the store", [&] { return mdb_env_info(env, &info); });
    MDB_stat main;
    checkedCall("measure the store", [&] { return mdb_env_stat(env, &main); });
    MDB_stat postings;
    checkedCall("measure a table", [&] { return mdb_stat(txn.get(), tables.postings, &postings); });
    const std::string &folder = shared->folder;
    return {
        {"page_size", "page size", main.ms_psize, "bytes"},
        {"pages_in_use", "pages in use", uint64_t{info.me_last_pgno} + 1, ""},
        {"free_pages", "pages on the free list", freePages(), ""},
        {"map_size", "map size", info.me_mapsize, "bytes"},
        {"data_file_bytes", "data file", fileBytes(folder + "/" + kDataFile), "bytes"},
        {"reserve_bytes", "reserve", fileBytes(folder + "/" + kReserveFile), "bytes"},
        {"transaction", "last transaction", info.me_last_txnid, ""},
        {"commits", "commits", storedCommits(txn.get(), tables), ""},
        {"format_version", "format version", form, ""},
        {"reader_slots", "reader slots used", info.me_numreaders, ""},
        {"readers", "readers now", activeReaders(), ""},
        {"max_readers", "reader slots", info.me_maxreaders, ""},
        {"posting_depth", "postings tree depth", postings.ms_depth, ""},
    };
}

void LmdbTransaction::requireWrite() const
{
    if (!write)
        throw std::logic_error("a view of the index cannot change it");
}

// Postings are written in this vokid's layout only: an index of an older
// one is converted (vokid upgrade) before a batch may change its postings.
void LmdbTransaction::requireBuckets() const
{
    if (!tables.bucketed)
        throw std::logic_error("the postings of an older format cannot be changed");
}

// Before the store changes a table, the leaves the change lands on are
// checked (page_check.h) if no read has met them yet.
// They are the leaf of the key (or of where it would go: the entry above
// it, else the table's last) and, in a table of duplicates, the leaf of
// the value (an inline page of the key's entry, or a leaf of the key's own
// table). The cursor is left near the entry.
void LmdbTransaction::checkLeavesAt(MDB_cursor *cursor, MDB_val key, const MDB_val *value)
{
    const auto at = [&](MDB_val &k, MDB_val &d, MDB_cursor_op op) {
        const int result = lmdbCall("read", [&] { return mdb_cursor_get(cursor, &k, &d, op); });
        if (result != MDB_NOTFOUND)
            checkLmdb(result, "read");
        return result == MDB_SUCCESS;
    };
    MDB_val k = key, d{0, nullptr};
    if (!at(k, d, MDB_SET_RANGE) && !at(k, d, MDB_LAST))
        return;
    checkOnPage(map, k, "a key");
    checkOnPage(map, d, "a stored value");
    if (!value)
        return;
    k = key;
    d = *value;
    if (at(k, d, MDB_GET_BOTH_RANGE) || (at(k = key, d, MDB_SET_KEY) && at(k, d, MDB_LAST_DUP)))
        checkOnPage(map, d, "a stored value");
}

void LmdbTransaction::checkLeavesFor(MDB_dbi dbi, MDB_val key)
{
    LmdbCursor cursor(txn.get(), dbi);
    checkLeavesAt(cursor.get(), key, nullptr);
}

// The entry of `key` (with `value`, in a table of duplicates) removed;
// false when the table has none.
bool LmdbTransaction::removeEntry(MDB_cursor *cursor, MDB_val key, const MDB_val *value,
                                  const char *doing)
{
    MDB_val data = value ? *value : MDB_val{0, nullptr};
    int result = lmdbCall(doing, [&] {
        return mdb_cursor_get(cursor, &key, &data, value ? MDB_GET_BOTH : MDB_SET_KEY);
    });
    if (result == MDB_NOTFOUND)
        return false;
    checkLmdb(result, doing);
    checkedCall(doing, [&] { return mdb_cursor_get(cursor, &key, &data, MDB_GET_CURRENT); });
    checkOnPage(map, key, "a key");
    checkOnPage(map, data, "a stored value");
    checkedCall(doing, [&] { return mdb_cursor_del(cursor, 0); });
    return true;
}

// The id the next new track gets; `taken` (when not 0) is in use from now
// on, and the next id is moved past it.
uint32_t LmdbTransaction::nextId(uint32_t taken)
{
    std::string key = kNextIdKey;
    MDB_val keyValue{key.size(), key.data()};
    uint32_t id = 1;
    if (const auto stored = get(tables.info, keyValue)) {
        if (stored->size() != sizeof id)
            throw damaged("its next track id has " + std::to_string(stored->size()) + " bytes");
        std::memcpy(&id, stored->data(), sizeof id);
    } else if (uint64_t entries = 0; tableBytes(tables.tracks, &entries) > 0 && entries > 0) {
        throw damaged("it holds tracks but no next track id");
    }
    if (taken != 0 && taken < id)
        return id;
    if (taken != 0)
        id = taken;
    if (id == 0xFFFFFFFFu)
        throw IndexError("the index has used every track id");
    uint32_t next = id + 1;
    MDB_val nextValue = valueOf(next);
    checkLeavesFor(tables.info, keyValue);
    checkedCall("write", [&] { return mdb_put(txn.get(), tables.info, &keyValue, &nextValue, 0); });
    return id;
}

// A track's postings are found again from its stored print by the rule
// they were made by (postings.h).
void LmdbTransaction::removeContents(const TrackInfo &old)
{
    requireBuckets();
    flushPending(); // postings of this batch are in the store before any leaves it
    uint32_t id = old.id;
    if (const auto bytes = storedSequence(id)) {
        const TrackPrint print = decodeStored([&] { return decodeSequence(*bytes, id, form); });
        LmdbCursor postingsCursor(txn.get(), tables.postings);
        for (const WordPosition &posting : postingsOf(print, step).entries) {
            uint32_t bucket = bucketOf(posting.word);
            const BucketItem item = bucketItem(posting.word, id, posting.position);
            const MDB_val data = itemValue(item);
            removeEntry(postingsCursor.get(), valueOf(bucket), &data, "remove a posting");
        }
        if (!removeEntry(LmdbCursor(txn.get(), tables.sequences).get(), valueOf(id), nullptr,
                         "remove a sequence"))
            throw damaged("a track's sequence went while it was removed");
    }
    uint64_t hash = pathKey(old.path);
    const MDB_val data = valueOf(id);
    removeEntry(LmdbCursor(txn.get(), tables.paths).get(), valueOf(hash), &data, "remove a path");
}

uint32_t LmdbTransaction::put(TrackInfo info, const TrackPrint &print,
                              const PrintPostings &postings)
{
    requireWrite();
    requireBuckets();
    checkTrack(print, postings, step);
    if (info.id == 0) {
        info.id = nextId();
    } else if (const std::optional<TrackInfo> old = trackRecord(info.id)) {
        removeContents(*old);
    } else {
        nextId(info.id);
    }
    info.words = static_cast<uint32_t>(print.size());
    info.postings = static_cast<uint32_t>(postings.entries.size());
    for (const WordPosition &posting : postings.entries)
        pending.push_back(Pending{posting.word, info.id, posting.position});
    uint32_t id = info.id;
    MDB_val key = valueOf(id);
    std::string record = encodeTrack(info);
    MDB_val recordValue{record.size(), record.data()};
    checkLeavesFor(tables.tracks, key);
    checkedCall("write a track",
                [&] { return mdb_put(txn.get(), tables.tracks, &key, &recordValue, 0); });
    std::string sequence = encodeSequence(print, id);
    MDB_val sequenceValue{sequence.size(), sequence.data()};
    checkLeavesFor(tables.sequences, key);
    checkedCall("write a sequence",
                [&] { return mdb_put(txn.get(), tables.sequences, &key, &sequenceValue, 0); });
    uint64_t hash = pathKey(info.path);
    MDB_val pathValue = valueOf(hash);
    {
        LmdbCursor cursor(txn.get(), tables.paths);
        checkLeavesAt(cursor.get(), pathValue, &key);
    }
    checkedCall("write a path",
                [&] { return mdb_put(txn.get(), tables.paths, &pathValue, &key, 0); });
    return info.id;
}

// The record alone is written again: the sequence, postings and path
// stay as they are.
bool LmdbTransaction::setValues(uint32_t id, const FileValues &values)
{
    requireWrite();
    std::optional<TrackInfo> info = trackRecord(id);
    if (!info)
        return false;
    info->values = values;
    MDB_val key = valueOf(id);
    std::string record = encodeTrack(*info);
    MDB_val recordValue{record.size(), record.data()};
    checkLeavesFor(tables.tracks, key);
    checkedCall("write a track",
                [&] { return mdb_put(txn.get(), tables.tracks, &key, &recordValue, 0); });
    return true;
}

bool LmdbTransaction::remove(uint32_t id)
{
    requireWrite();
    const std::optional<TrackInfo> old = trackRecord(id);
    if (!old)
        return false;
    removeContents(*old);
    if (!removeEntry(LmdbCursor(txn.get(), tables.tracks).get(), valueOf(id), nullptr,
                     "remove a track"))
        throw damaged("a track went while it was removed");
    return true;
}

// The batch's postings go in in order of word, track and position (the
// order of their buckets and items): neighbouring puts then land on the
// same pages. Into an empty table, or above its last bucket, they are
// appended without a search.
void LmdbTransaction::flushPending()
{
    if (pending.empty())
        return;
    std::sort(pending.begin(), pending.end(), [](const Pending &x, const Pending &y) {
        if (x.word != y.word)
            return x.word < y.word;
        return x.track != y.track ? x.track < y.track : x.position < y.position;
    });
    LmdbCursor cursor(txn.get(), tables.postings);
    MDB_val key, data;
    const int last =
        lmdbCall("read", [&] { return mdb_cursor_get(cursor.get(), &key, &data, MDB_LAST); });
    if (last != MDB_NOTFOUND)
        checkLmdb(last, "read");
    const uint32_t lastBucket = last == MDB_SUCCESS ? read32(key, "a posting's bucket") : 0;
    const bool append = last == MDB_NOTFOUND || bucketOf(pending.front().word) > lastBucket;
    // The leaves the postings land on, checked before any changes: the
    // cursor walks them in order, from page to page.
    if (!append)
        for (const Pending &posting : pending) {
            uint32_t bucket = bucketOf(posting.word);
            const BucketItem item = bucketItem(posting.word, posting.track, posting.position);
            const MDB_val posted = itemValue(item);
            checkLeavesAt(cursor.get(), valueOf(bucket), &posted);
        }
    else if (last == MDB_SUCCESS) {
        checkOnPage(map, key, "a key");
        checkOnPage(map, data, "a stored value");
    }
    for (size_t i = 0; i < pending.size(); ++i) {
        uint32_t bucket = bucketOf(pending[i].word);
        const BucketItem item = bucketItem(pending[i].word, pending[i].track, pending[i].position);
        key = valueOf(bucket);
        data = itemValue(item);
        unsigned flags = 0;
        if (append)
            flags = i > 0 && bucketOf(pending[i - 1].word) == bucket ? MDB_APPENDDUP : MDB_APPEND;
        checkedCall("write a posting",
                    [&] { return mdb_cursor_put(cursor.get(), &key, &data, flags); });
    }
    pending.clear();
    pending.shrink_to_fit();
}

// The commit counts itself in the store, then in the header.
void LmdbTransaction::commit()
{
    requireWrite();
    flushPending();
    // The leaf of the store's own records, and the leaf of the tables'
    // records, which the commit changes (each a page of a few entries).
    std::string records = kNextIdKey, info = "info";
    checkLeavesFor(tables.info, MDB_val{records.size(), records.data()});
    checkLeavesFor(tables.main, MDB_val{info.size(), info.data()});
    const uint64_t commits = storedCommits(txn.get(), tables) + 1;
    putCommits(txn.get(), tables, commits);
    try {
        txn.commit();
    } catch (const LmdbError &error) {
        if (error.result() == EIO && diskFull(shared->folder))
            throw NoSpaceError("no space left on device");
        throw;
    }
    afterCommit(commits);
    // A committed batch holds its opening no longer: the next batch may
    // open a data file that compact renamed in while this one is kept.
    held.reset();
}

// A header that could not be written (a full disk) stays behind its store,
// which is safe: only a rollback to a state it still counts goes unseen,
// until the next commit writes it. The reserve is made again where it was
// used and there is room.
void LmdbTransaction::afterCommit(uint64_t commits) const
{
    const std::string &folder = shared->folder;
    try {
        const FolderLock lock(folder);
        IndexHeader header = readHeaderFile(folder);
        if (header.commits < commits) {
            header.commits = commits;
            writeHeaderFile(folder, header);
        }
    } catch (const IndexError &) {
    }
    try {
        keepReserve(folder);
    } catch (const IndexError &) {
    }
}

} // namespace

LmdbStore::LmdbStore(const std::string &folder, const IndexHeader &header, bool writable,
                     bool upgrading)
    : shared(std::make_shared<Shared>())
{
    shared->folder = folder;
    shared->step = header.step;
    shared->writable = writable;
    shared->upgrading = upgrading;
    const std::lock_guard<std::mutex> lock(shared->mutex);
    shared->env = openChecked(*shared);
}

LmdbStore::~LmdbStore() = default;

uint32_t LmdbStore::step() const
{
    return shared->step;
}

void LmdbStore::setWaitNotice(std::function<void()> notice)
{
    shared->waitNotice = std::move(notice);
}

bool LmdbStore::releaseReserve()
{
    return shared->writable && vokid::releaseReserve(shared->folder);
}

std::shared_ptr<LmdbEnvironment> LmdbStore::environment()
{
    const std::shared_ptr<Held> held = holdCurrent(shared, false);
    return std::shared_ptr<LmdbEnvironment>(held, &**held);
}

std::unique_ptr<IndexView> LmdbStore::view()
{
    return std::make_unique<LmdbTransaction>(holdCurrent(shared, false), shared, false);
}

// A batch that waited for the lock while compact or upgrade renamed a new
// data file in begins again on that one.
std::unique_ptr<IndexBatch> LmdbStore::batch()
{
    if (!shared->writable)
        throw std::logic_error("the index was opened for reading");
    for (;;) {
        auto batch = std::make_unique<LmdbTransaction>(holdCurrent(shared, true), shared, true);
        if (batch->onCurrentDataFile()) {
            batch->checkNotOlder();
            return batch;
        }
    }
}

} // namespace vokid
