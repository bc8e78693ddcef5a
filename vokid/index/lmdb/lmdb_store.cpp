#include "vokid/index/lmdb/lmdb_store.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "vokid/index/lmdb/index_header.h"
#include "vokid/index/lmdb/page_check.h"
#include "vokid/index/postings.h"

namespace vokid {

namespace {

// The map is address space, not memory or disk: 256 GB hold the index of
// some 40,000 hours of audio. Where the process may not map that much (a
// limit on its address space, a memory checker), smaller maps are tried,
// down to twice the data file.
constexpr uint64_t kMapBytes[] = {uint64_t{256} << 30, uint64_t{32} << 30, uint64_t{4} << 30,
                                  uint64_t{1} << 30};
constexpr int kMaxTables = 8;
const std::string kNextIdKey = "next_id";

uint64_t fileBytes(const std::string &path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
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

// A posting as stored: track and position in one native 64-bit integer,
// so that a word's postings sort by track, then position.
uint64_t postingValue(uint32_t track, uint32_t position)
{
    return uint64_t{track} << 32 | position;
}

Posting postingOf(const char *bytes)
{
    uint64_t value = 0;
    std::memcpy(&value, bytes, sizeof value); // duplicates lie 2-byte aligned
    return Posting{static_cast<uint32_t>(value >> 32), static_cast<uint32_t>(value)};
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
        throw IndexDamaged(error.what());
    }
}

// A 32-bit key or value read out of the map, its size checked first.
uint32_t read32(const MDB_val &value, const char *what)
{
    if (value.mv_size != sizeof(uint32_t))
        throw IndexDamaged(std::string(what) + " of " + std::to_string(value.mv_size) + " bytes");
    uint32_t number = 0;
    if (!guardFaults([&] { std::memcpy(&number, value.mv_data, sizeof number); }))
        throwFault("read");
    return number;
}

// A key not found must not be so because the page the search ended on is
// not the one it was sent to: the entry the search ends beside (the first
// above the key, else the table's last) is checked on its page, and a
// table whose record counts entries must have a last one.
void checkAbsent(MDB_cursor *cursor, MDB_val key, const StoreMap &map)
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
            throw IndexDamaged("a table counts " + std::to_string(stat.ms_entries) +
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
    LmdbTransaction(MDB_env *environment, const LmdbStore::Tables &tableSet, bool forWriting,
                    uint32_t indexStep, std::string folderPath)
        : env(environment), tables(tableSet), txn(environment, forWriting), write(forWriting),
          step(indexStep), folder(std::move(folderPath)),
          maxValue(forWriting ? UINT64_MAX : fileBytes(folder + "/" + kDataFile)),
          steps(walkLimit(fileBytes(folder + "/" + kDataFile))), map(storeMap(environment))
    {
    }

    std::optional<TrackInfo> track(uint32_t id) override;
    std::optional<TrackInfo> trackAt(const std::string &path) override;
    std::vector<TrackInfo> tracks() override;
    void postings(const std::vector<uint32_t> &words, size_t limit, PostingLists &out) override;
    SubFingerprints sequence(uint32_t track, int64_t from, size_t length, int64_t &first) override;
    std::optional<TrackPrint> print(uint32_t track) override;
    StoreStats stats() override;

    uint32_t put(TrackInfo info, const TrackPrint &print, const PrintPostings &postings) override;
    bool remove(uint32_t id) override;
    void commit() override;

private:
    struct Pending {
        uint64_t value;
        uint32_t word;
    };

    std::optional<std::string> get(MDB_dbi dbi, MDB_val key);
    std::optional<std::string> storedSequence(uint32_t track);
    // The next entry of a walk; false at the end.
    bool next(MDB_cursor *cursor, MDB_val &key, MDB_val &data, MDB_cursor_op op, uint64_t &taken);
    void requireWrite() const;
    uint32_t nextId(uint32_t taken = 0);
    void removeContents(const TrackInfo &old);
    void flushPending();
    uint64_t tableBytes(MDB_dbi dbi, uint64_t *entries = nullptr);
    uint64_t freePages();
    std::vector<StoreFact> facts();

    MDB_env *env;
    const LmdbStore::Tables &tables;
    LmdbTxn txn;
    bool write;
    uint32_t step;
    std::string folder;
    uint64_t maxValue; // the most bytes a stored value can have
    uint64_t steps;    // the most entries a walk can meet
    StoreMap map;
    std::vector<Pending> pending;
};

std::optional<std::string> LmdbTransaction::get(MDB_dbi dbi, MDB_val key)
{
    MDB_val data;
    const int result = lmdbCall("read", [&] { return mdb_get(txn.get(), dbi, &key, &data); });
    if (result == MDB_NOTFOUND) {
        checkAbsent(LmdbCursor(txn.get(), dbi).get(), key, map);
        return std::nullopt;
    }
    checkLmdb(result, "read");
    checkOnPage(map, data, "a stored value");
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
        throw IndexDamaged("a walk of a table meets more entries than the data file holds");
    checkOnPage(map, key, "a key");
    checkOnPage(map, data, "a stored value");
    return true;
}

std::optional<TrackInfo> LmdbTransaction::track(uint32_t id)
{
    const auto bytes = get(tables.tracks, valueOf(id));
    if (!bytes)
        return std::nullopt;
    return decodeStored([&] { return decodeTrack(id, *bytes); });
}

std::optional<TrackInfo> LmdbTransaction::trackAt(const std::string &path)
{
    uint64_t key = pathKey(path);
    MDB_val keyValue = valueOf(key);
    MDB_val data;
    LmdbCursor cursor(txn.get(), tables.paths);
    uint64_t taken = 0;
    MDB_cursor_op op = MDB_SET_KEY;
    while (next(cursor.get(), keyValue, data, op, taken)) {
        std::optional<TrackInfo> found = track(read32(data, "a path's track id"));
        if (found && found->path == path)
            return found;
        op = MDB_NEXT_DUP;
    }
    if (op == MDB_SET_KEY) // no path of that hash: not because of a page sent astray
        checkAbsent(cursor.get(), valueOf(key), map);
    return std::nullopt;
}

std::vector<TrackInfo> LmdbTransaction::tracks()
{
    std::vector<TrackInfo> all;
    LmdbCursor cursor(txn.get(), tables.tracks);
    MDB_val key, data;
    uint64_t taken = 0;
    while (next(cursor.get(), key, data, MDB_NEXT, taken)) {
        const uint32_t id = read32(key, "a track record's key");
        const std::string record = copyOf(data, maxValue, "a track record");
        all.push_back(decodeStored([&] { return decodeTrack(id, record); }));
    }
    return all;
}

// The postings of one word at the cursor, unless there are more than
// `limit`; returns how many there are. They must ascend, and number what
// the word's count says; none can be larger than the data file (`bytes`).
size_t wordPostings(MDB_cursor *cursor, uint32_t word, size_t limit, uint64_t bytes,
                    const StoreMap &map, PostingLists &out)
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
        throw IndexDamaged("a word counts more postings than the data file can hold");
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
            throw IndexDamaged("a word's postings do not number what its count says");
        for (size_t at = 0; at < page.size(); at += sizeof last) {
            const Posting posting = postingOf(page.data() + at);
            const uint64_t value = postingValue(posting.track, posting.position);
            if (listed++ > 0 && value <= last)
                throw IndexDamaged("a word's postings are out of order");
            last = value;
            out.add(posting);
        }
    }
    if (listed != count)
        throw IndexDamaged("a word's postings do not number what its count says");
    return count;
}

// One cursor walks the words in order: a word near the last one is
// found from the page the cursor is on, without a descent from the root.
void LmdbTransaction::postings(const std::vector<uint32_t> &words, size_t limit, PostingLists &out)
{
    requireAscending(words);
    if (write)
        flushPending(); // a batch finds the postings it has put
    out.clear();
    LmdbCursor cursor(txn.get(), tables.postings);
    for (uint32_t word : words)
        out.close(wordPostings(cursor.get(), word, limit, maxValue, map, out));
}

std::optional<std::string> LmdbTransaction::storedSequence(uint32_t track)
{
    return get(tables.sequences, valueOf(track));
}

SubFingerprints LmdbTransaction::sequence(uint32_t track, int64_t from, size_t length,
                                          int64_t &first)
{
    first = 0;
    const auto bytes = storedSequence(track);
    if (!bytes)
        return SubFingerprints();
    return decodeStored([&] { return SequenceView(*bytes).slice(from, length, first); });
}

std::optional<TrackPrint> LmdbTransaction::print(uint32_t track)
{
    const auto bytes = storedSequence(track);
    if (!bytes)
        return std::nullopt;
    return decodeStored([&] { return decodeSequence(*bytes); });
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
    StoreStats stats;
    stats.step = step;
    for (const TrackInfo &info : tracks()) {
        ++stats.tracks;
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
    stats.fileBytes = fileBytes(folder + "/" + kDataFile) + fileBytes(folder + "/" + kLockFile) +
                      fileBytes(folder + "/" + kHeaderFile);
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
            throw IndexDamaged("a record of the free list names more pages than the file has");
        pages += count;
    }
    return pages;
}

// LMDB's own figures, each read without a walk of the tables.
std::vector<StoreFact> LmdbTransaction::facts()
{
    MDB_envinfo info;
    checkedCall("measure the store", [&] { return mdb_env_info(env, &info); });
    MDB_stat main;
    checkedCall("measure the store", [&] { return mdb_env_stat(env, &main); });
    MDB_stat postings;
    checkedCall("measure a table", [&] { return mdb_stat(txn.get(), tables.postings, &postings); });
    return {
        {"page_size", "page size", main.ms_psize, "bytes"},
        {"pages_in_use", "pages in use", uint64_t{info.me_last_pgno} + 1, ""},
        {"free_pages", "pages on the free list", freePages(), ""},
        {"map_size", "map size", info.me_mapsize, "bytes"},
        {"data_file_bytes", "data file", fileBytes(folder + "/" + kDataFile), "bytes"},
        {"transaction", "last transaction", info.me_last_txnid, ""},
        {"reader_slots", "reader slots used", info.me_numreaders, ""},
        {"max_readers", "reader slots", info.me_maxreaders, ""},
        {"posting_depth", "postings tree depth", postings.ms_depth, ""},
    };
}

void LmdbTransaction::requireWrite() const
{
    if (!write)
        throw std::logic_error("a view of the index cannot change it");
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
            throw IndexDamaged("its next track id has " + std::to_string(stored->size()) +
                               " bytes");
        std::memcpy(&id, stored->data(), sizeof id);
    } else if (uint64_t entries = 0; tableBytes(tables.tracks, &entries) > 0 && entries > 0) {
        throw IndexDamaged("it holds tracks but no next track id");
    }
    if (taken != 0 && taken < id)
        return id;
    if (taken != 0)
        id = taken;
    if (id == 0xFFFFFFFFu)
        throw IndexError("the index has used every track id");
    uint32_t next = id + 1;
    MDB_val nextValue = valueOf(next);
    checkedCall("write", [&] { return mdb_put(txn.get(), tables.info, &keyValue, &nextValue, 0); });
    return id;
}

// A track's postings are found again from its stored print by the rule
// they were made by (postings.h).
void LmdbTransaction::removeContents(const TrackInfo &old)
{
    flushPending(); // postings of this batch are in the store before any leaves it
    uint32_t id = old.id;
    if (const auto bytes = storedSequence(id)) {
        const TrackPrint print = decodeStored([&] { return decodeSequence(*bytes); });
        for (const WordPosition &posting : postingsOf(print, step).entries) {
            uint32_t word = posting.word;
            uint64_t value = postingValue(id, posting.position);
            MDB_val key = valueOf(word);
            MDB_val data = valueOf(value);
            const int result = lmdbCall("remove a posting", [&] {
                return mdb_del(txn.get(), tables.postings, &key, &data);
            });
            if (result != MDB_NOTFOUND)
                checkLmdb(result, "remove a posting");
        }
        MDB_val key = valueOf(id);
        checkedCall("remove a sequence",
                    [&] { return mdb_del(txn.get(), tables.sequences, &key, nullptr); });
    }
    uint64_t hash = pathKey(old.path);
    MDB_val key = valueOf(hash);
    MDB_val data = valueOf(id);
    const int result =
        lmdbCall("remove a path", [&] { return mdb_del(txn.get(), tables.paths, &key, &data); });
    if (result != MDB_NOTFOUND)
        checkLmdb(result, "remove a path");
}

uint32_t LmdbTransaction::put(TrackInfo info, const TrackPrint &print,
                              const PrintPostings &postings)
{
    requireWrite();
    checkTrack(print, postings, step);
    if (info.id == 0) {
        info.id = nextId();
    } else if (const std::optional<TrackInfo> old = track(info.id)) {
        removeContents(*old);
    } else {
        nextId(info.id);
    }
    info.words = static_cast<uint32_t>(print.size());
    info.postings = static_cast<uint32_t>(postings.entries.size());
    for (const WordPosition &posting : postings.entries)
        pending.push_back(Pending{postingValue(info.id, posting.position), posting.word});
    uint32_t id = info.id;
    MDB_val key = valueOf(id);
    std::string record = encodeTrack(info);
    MDB_val recordValue{record.size(), record.data()};
    checkedCall("write a track",
                [&] { return mdb_put(txn.get(), tables.tracks, &key, &recordValue, 0); });
    std::string sequence = encodeSequence(print);
    MDB_val sequenceValue{sequence.size(), sequence.data()};
    checkedCall("write a sequence",
                [&] { return mdb_put(txn.get(), tables.sequences, &key, &sequenceValue, 0); });
    uint64_t hash = pathKey(info.path);
    MDB_val pathValue = valueOf(hash);
    checkedCall("write a path",
                [&] { return mdb_put(txn.get(), tables.paths, &pathValue, &key, 0); });
    return info.id;
}

bool LmdbTransaction::remove(uint32_t id)
{
    requireWrite();
    const std::optional<TrackInfo> old = track(id);
    if (!old)
        return false;
    removeContents(*old);
    MDB_val key = valueOf(id);
    checkedCall("remove a track", [&] { return mdb_del(txn.get(), tables.tracks, &key, nullptr); });
    return true;
}

// The batch's postings go in in order of word and value: neighbouring
// puts then land on the same pages. Into an empty table, or above its
// last word, they are appended without a search.
void LmdbTransaction::flushPending()
{
    if (pending.empty())
        return;
    std::sort(pending.begin(), pending.end(), [](const Pending &x, const Pending &y) {
        return x.word != y.word ? x.word < y.word : x.value < y.value;
    });
    LmdbCursor cursor(txn.get(), tables.postings);
    MDB_val key, data;
    const int last =
        lmdbCall("read", [&] { return mdb_cursor_get(cursor.get(), &key, &data, MDB_LAST); });
    if (last != MDB_NOTFOUND)
        checkLmdb(last, "read");
    const uint32_t lastWord = last == MDB_SUCCESS ? read32(key, "a posting's word") : 0;
    const bool append = last == MDB_NOTFOUND || pending.front().word > lastWord;
    for (size_t i = 0; i < pending.size(); ++i) {
        uint32_t word = pending[i].word;
        uint64_t value = pending[i].value;
        key = valueOf(word);
        data = valueOf(value);
        unsigned flags = 0;
        if (append)
            flags = i > 0 && pending[i - 1].word == word ? MDB_APPENDDUP : MDB_APPEND;
        checkedCall("write a posting",
                    [&] { return mdb_cursor_put(cursor.get(), &key, &data, flags); });
    }
    pending.clear();
    pending.shrink_to_fit();
}

void LmdbTransaction::commit()
{
    requireWrite();
    flushPending();
    txn.commit();
}

} // namespace

LmdbStore::LmdbStore(const std::string &folderPath, bool forWriting, uint32_t step)
    : indexStep(step), folder(folderPath), writable(forWriting)
{
    openEnvironment(forWriting);
    openTables(forWriting);
}

void LmdbStore::openEnvironment(bool forWriting)
{
    const uint64_t size = fileBytes(folder + "/" + kDataFile);
    // Views are handed from thread to thread (MDB_NOTLS); lookups jump
    // about the file, where reading ahead only fills memory (MDB_NORDAHEAD).
    unsigned flags = MDB_NOTLS | MDB_NORDAHEAD;
    if (!forWriting)
        flags |= MDB_RDONLY;
    int result = MDB_SUCCESS;
    for (uint64_t map : kMapBytes) {
        // A failed open leaves the environment unusable: each try has its own.
        env = std::make_unique<LmdbEnv>();
        checkLmdb(mdb_env_set_maxdbs(env->get(), kMaxTables), "start");
        checkLmdb(mdb_env_set_mapsize(env->get(), std::max(map, 2 * size)), "start");
        result = lmdbCall("open the index",
                          [&] { return mdb_env_open(env->get(), folder.c_str(), flags, 0644); });
        if (result != EINVAL && result != ENOMEM)
            break;
    }
    checkLmdb(result, "open the index");
}

namespace {

// Whether the store's table of tables names any: one that names some but
// not all of vokid's is damaged.
bool hasTables(MDB_txn *txn)
{
    constexpr MDB_dbi kMainTable = 1; // LMDB's own number for it
    MDB_stat stat;
    checkedCall("open a table", [&] { return mdb_stat(txn, kMainTable, &stat); });
    return stat.ms_entries > 0;
}

} // namespace

void LmdbStore::openTables(bool forWriting)
{
    LmdbTxn txn(env->get(), forWriting);
    // Tables are made all at once, in the first transaction; a store that
    // has some is never given new ones.
    const bool made = hasTables(txn.get());
    const unsigned create = forWriting && !made ? MDB_CREATE : 0;
    const auto open = [&](const char *name, unsigned flags) {
        MDB_dbi dbi = 0;
        const int result = lmdbCall(
            "open a table", [&] { return mdb_dbi_open(txn.get(), name, flags | create, &dbi); });
        if (result == MDB_NOTFOUND && made)
            throw IndexDamaged(std::string("its table of tables has no table \"") + name + "\"");
        if (result == MDB_NOTFOUND)
            throw IndexError("the index has no tables yet (an add stopped as it began): run "
                             "vokid add again");
        checkLmdb(result, "open a table");
        return dbi;
    };
    tables.tracks = open("tracks", MDB_INTEGERKEY);
    tables.sequences = open("sequences", MDB_INTEGERKEY);
    tables.postings =
        open("postings", MDB_INTEGERKEY | MDB_DUPSORT | MDB_DUPFIXED | MDB_INTEGERDUP);
    tables.paths = open("paths", MDB_INTEGERKEY | MDB_DUPSORT | MDB_DUPFIXED | MDB_INTEGERDUP);
    tables.info = open("info", 0);
    checkedCall("open a table", [&] { return mdb_dbi_open(txn.get(), nullptr, 0, &tables.main); });
    txn.commit();
}

std::unique_ptr<IndexView> LmdbStore::view()
{
    return std::make_unique<LmdbTransaction>(env->get(), tables, false, indexStep, folder);
}

std::unique_ptr<IndexBatch> LmdbStore::batch()
{
    if (!writable)
        throw std::logic_error("the index was opened for reading");
    return std::make_unique<LmdbTransaction>(env->get(), tables, true, indexStep, folder);
}

} // namespace vokid
