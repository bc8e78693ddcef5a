// What the store returns is checked against the page it lies on before it
// is trusted: a key or value read from the map must lie within one page
// whose header names the page where it is (a page swapped or copied
// elsewhere names another) and that holds keys and values (a leaf, or the
// first of an overflow run that the value starts right after and ends
// within). Values of a write transaction's own changes lie outside the map
// and are not looked at.
#ifndef VOKID_INDEX_LMDB_PAGE_CHECK_H
#define VOKID_INDEX_LMDB_PAGE_CHECK_H

#include <lmdb.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_set>
#include <vector>

namespace vokid {

// Pages found sound, shared by the read transactions of one opening while
// the data file keeps its size and modification time: pages change only
// when a writer (which updates both) rewrites them, so a server's every
// request need not check again the leaves, nor the checksums of the
// stored sequences, that the one before checked.
class PageSet {
public:
    explicit PageSet(uint64_t pages)
        : bits((pages + 63) / 64), words(new std::atomic<uint64_t>[bits]())
    {
    }
    bool has(uint64_t page) const
    {
        return page / 64 < bits &&
               (words[page / 64].load(std::memory_order_relaxed) >> (page % 64) & 1);
    }
    void add(uint64_t page)
    {
        if (page / 64 < bits)
            words[page / 64].fetch_or(uint64_t{1} << (page % 64), std::memory_order_relaxed);
    }

private:
    uint64_t bits;
    std::unique_ptr<std::atomic<uint64_t>[]> words;
};

// The stored values whose checksums matched, likewise: by the page each
// starts on, the track id it was read under (a value read under another
// id is summed again, for its checksum covers the id).
class PageIds {
public:
    explicit PageIds(uint64_t pages) : count(pages), ids(new std::atomic<uint32_t>[pages]()) {}
    bool has(uint64_t page, uint32_t id) const
    {
        return page < count && ids[page].load(std::memory_order_relaxed) == id + 1;
    }
    void add(uint64_t page, uint32_t id)
    {
        if (page < count && id != UINT32_MAX)
            ids[page].store(id + 1, std::memory_order_relaxed);
    }

private:
    uint64_t count;
    std::unique_ptr<std::atomic<uint32_t>[]> ids;
};

struct StoreMap {
    struct Region {
        const char *start = nullptr;
        uint64_t bytes = 0; // pages lie within the data file's part
    };
    std::vector<Region> regions; // the data file mapped at offset 0, by any environment
    uint64_t pageSize = 0;
    // The leaves checked whole (checkOnPage) by the transaction this map
    // serves: a transaction's pages in the map do not change under it.
    std::unordered_set<uint64_t> leavesChecked;
    // Those of earlier read transactions, when the file has not changed
    // since; none for a writer, which checks every leaf it meets.
    std::shared_ptr<PageSet> soundLeaves;
    // The first pages of stored values whose checksums matched, likewise.
    std::shared_ptr<PageIds> soundRecords;
};

// Where the process maps the environment's data file, as the system lists
// the process's mappings (the store does not say where its map lies). An
// environment's map stays where it is while the environment is open, so
// this is read once for each (LmdbEnvironment::mapRegions).
std::vector<StoreMap::Region> mappedRegions(MDB_env *env);
// The map of a transaction: those regions, and the store's page size.
// Values in none of the regions are not looked at.
StoreMap storeMap(MDB_env *env, const std::vector<StoreMap::Region> &regions);

// A value (or key) read from the map, before it is trusted; throws
// IndexDamaged. It must lie on its page as above. The first time the
// transaction meets a leaf, the whole leaf is checked too, for the store
// trusts a page it changes or walks on, and a damaged one has it move
// bytes past the page: its header and the bounds of its free space; each
// entry within the page, of known flags, its value on the page or on a
// page of the file; each inline page of duplicates with its own header
// and bounds within its entry. Values outside the map are not looked at.
void checkOnPage(StoreMap &map, const MDB_val &value, const char *what);

// The page of the map a value starts on; none outside the map.
std::optional<uint64_t> pageOf(const StoreMap &map, const MDB_val &value);

} // namespace vokid

#endif
