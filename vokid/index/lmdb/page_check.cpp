#include "vokid/index/lmdb/page_check.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "vokid/index/fault_guard.h"
#include "vokid/index/index_error.h"
#include "vokid/index/lmdb/lmdb_handles.h"

namespace vokid {

namespace {

// A page's header, as the store lays it out on a 64-bit host: its number
// (64 bits), 16 bits unused, its flags (16 bits), then either the bounds
// of its free space or, on the first page of an overflow run, the run's
// length in pages (32 bits).
constexpr size_t kNumberAt = 0;
constexpr size_t kFlagsAt = 10;
constexpr size_t kRunAt = 12;
constexpr size_t kHeaderBytes = 16;
constexpr uint16_t kLeaf = 0x02;
constexpr uint16_t kOverflow = 0x04;
// A leaf of fixed-size keys (duplicates of a table of fixed-size values,
// stored as keys), and an inline page of duplicates within an entry.
constexpr uint16_t kFixedLeaf = 0x20;
constexpr uint16_t kInline = 0x40;
// The mark of a page changed by the transaction that holds it, which an
// inline page keeps once written.
constexpr uint16_t kWritten = 0x10;

// A leaf entry: value size (low and high 16 bits), flags, key size, then
// the key and the value.
constexpr size_t kEntryBytes = 8;
constexpr uint16_t kOnOverflow = 0x01;   // the value is the number of its first page
constexpr uint16_t kSubTable = 0x02;     // the value is a table record (of a named
                                         // table, or of a key's duplicates)
constexpr uint16_t kDuplicates = 0x04;   // the value holds duplicates
constexpr size_t kTableRecordBytes = 48; // its root page number in the last 8

struct PageHeader {
    uint64_t number = 0;
    uint16_t flags = 0;
    uint32_t run = 0;
};

PageHeader headerAt(const char *page)
{
    PageHeader header;
    if (!guardFaults([&] {
            std::memcpy(&header.number, page + kNumberAt, sizeof header.number);
            std::memcpy(&header.flags, page + kFlagsAt, sizeof header.flags);
            std::memcpy(&header.run, page + kRunAt, sizeof header.run);
        }))
        throwFault("read a page's header");
    return header;
}

uint16_t word16(const char *at)
{
    uint16_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

uint64_t word64(const char *at)
{
    uint64_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// Why a leaf of `bytes` (a page of the file, or an inline page within an
// entry) whose header says `flags` is damaged, written to `why`; false
// when it is sound: the bounds of its free space, and its entries. `pages`
// is the number of pages of the file. Runs under a fault guard, so it
// makes nothing that a jump out would have to undo.
bool leafDamage(const char *page, uint64_t bytes, uint16_t flags, uint64_t pages, char *why,
                size_t room)
{
    const uint64_t lower = word16(page + kRunAt);
    const uint64_t upper = word16(page + kRunAt + 2);
    if (lower < kHeaderBytes || lower > upper || upper > bytes || (lower - kHeaderBytes) % 2) {
        std::snprintf(why, room, "its free space runs from %llu to %llu",
                      static_cast<unsigned long long>(lower),
                      static_cast<unsigned long long>(upper));
        return true;
    }
    const uint64_t entries = (lower - kHeaderBytes) / 2;
    if (flags & kFixedLeaf) {
        const uint64_t keyBytes = word16(page + 8);
        if (keyBytes != 0 && kHeaderBytes + entries * keyBytes <= bytes)
            return false;
        std::snprintf(why, room, "its %llu keys of %llu bytes overrun it",
                      static_cast<unsigned long long>(entries),
                      static_cast<unsigned long long>(keyBytes));
        return true;
    }
    for (uint64_t i = 0; i < entries; ++i) {
        const uint64_t at = word16(page + kHeaderBytes + 2 * i);
        const char *entry = page + at;
        const bool placed = at >= upper && at + kEntryBytes <= bytes;
        const uint16_t entryFlags = placed ? word16(entry + 4) : 0;
        const uint64_t keyBytes = placed ? word16(entry + 6) : 0;
        const uint64_t valueBytes = placed ? word16(entry) | uint64_t{word16(entry + 2)} << 16 : 0;
        const bool inlinePage = (flags & kInline) != 0;
        const uint64_t onPage = inlinePage                   ? 0
                                : (entryFlags & kOnOverflow) ? sizeof(uint64_t)
                                                             : valueBytes;
        const char *value = entry + kEntryBytes + keyBytes;
        const char *cause = nullptr;
        if (!placed || (entryFlags & ~(kOnOverflow | kSubTable | kDuplicates)) != 0 ||
            (inlinePage && entryFlags != 0) || at + kEntryBytes + keyBytes + onPage > bytes) {
            cause = "overruns it";
        } else if (entryFlags & kOnOverflow) {
            if (word64(value) < 2 || word64(value) >= pages)
                cause = "names a page past the file";
        } else if (entryFlags & kSubTable) {
            const uint64_t root = valueBytes == kTableRecordBytes ? word64(value + 40) : 0;
            if (root < 2 || (root >= pages && root != ~uint64_t{0}))
                cause = "holds no table record";
        } else if (entryFlags & kDuplicates) {
            const uint16_t inner = valueBytes >= kHeaderBytes ? word16(value + kFlagsAt) : 0;
            if ((inner & (kLeaf | kInline)) != (kLeaf | kInline) ||
                (inner & ~(kLeaf | kInline | kFixedLeaf | kWritten)) != 0)
                cause = "holds no page of duplicates";
            else if (char inside[120] = "";
                     leafDamage(value, valueBytes, inner, pages, inside, sizeof inside)) {
                std::snprintf(why, room, "the duplicates of its entry %llu: %s",
                              static_cast<unsigned long long>(i), inside);
                return true;
            }
        }
        if (cause) {
            std::snprintf(why, room, "its entry %llu %s", static_cast<unsigned long long>(i),
                          cause);
            return true;
        }
    }
    return false;
}

} // namespace

std::vector<StoreMap::Region> mappedRegions(MDB_env *env)
{
    std::vector<StoreMap::Region> regions;
    mdb_filehandle_t fd = -1;
    struct stat file;
    if (mdb_env_get_fd(env, &fd) != MDB_SUCCESS || fstat(fd, &file) != 0)
        return regions;
    std::ifstream maps("/proc/self/maps");
    std::string line;
    // "start-end perms offset major:minor inode path"
    while (std::getline(maps, line)) {
        unsigned long long start = 0, end = 0, offset = 0, inode = 0;
        unsigned major = 0, minor = 0;
        if (std::sscanf(line.c_str(), "%llx-%llx %*s %llx %x:%x %llu", &start, &end, &offset,
                        &major, &minor, &inode) == 6 &&
            offset == 0 && inode == file.st_ino && makedev(major, minor) == file.st_dev)
            regions.push_back({reinterpret_cast<const char *>(start), end - start});
    }
    return regions;
}

StoreMap storeMap(MDB_env *env, const std::vector<StoreMap::Region> &regions)
{
    StoreMap map;
    MDB_stat stat;
    checkedCall("measure the store", [&] { return mdb_env_stat(env, &stat); });
    map.pageSize = stat.ms_psize;
    map.regions = regions;
    return map;
}

namespace {

// The region of the map that `value` lies in; none when it lies outside.
const StoreMap::Region *regionOf(const StoreMap &map, const MDB_val &value)
{
    const auto at = reinterpret_cast<uintptr_t>(value.mv_data);
    const auto region =
        std::find_if(map.regions.begin(), map.regions.end(), [&](const StoreMap::Region &r) {
            const auto start = reinterpret_cast<uintptr_t>(r.start);
            return at >= start && at - start < r.bytes;
        });
    return region == map.regions.end() || map.pageSize == 0 ? nullptr : &*region;
}

} // namespace

namespace {

// The value's place on its page, as the page's header says; returns the
// page's flags.
uint16_t checkPlaced(const StoreMap &map, const StoreMap::Region *region, const MDB_val &value,
                     const char *what)
{
    const auto at = reinterpret_cast<uintptr_t>(value.mv_data);
    const uint64_t offset = at - reinterpret_cast<uintptr_t>(region->start);
    const uint64_t page = offset / map.pageSize;
    const uint64_t within = offset % map.pageSize;
    const PageHeader header = headerAt(region->start + page * map.pageSize);
    const bool overflow = (header.flags & kOverflow) != 0 && within == kHeaderBytes;
    const uint64_t room =
        overflow ? uint64_t{header.run} * map.pageSize - kHeaderBytes : map.pageSize - within;
    const bool holds = overflow || ((header.flags & kLeaf) != 0 && within >= kHeaderBytes);
    if (header.number != page || !holds || value.mv_size > room)
        throw IndexDamaged(std::string(what) + " lies on page " + std::to_string(page) +
                           ", whose header does not match it");
    return header.flags;
}

} // namespace

void checkOnPage(StoreMap &map, const MDB_val &value, const char *what)
{
    const StoreMap::Region *region = regionOf(map, value);
    if (!region)
        return;
    const uint16_t flags = checkPlaced(map, region, value, what);
    const auto at = reinterpret_cast<uintptr_t>(value.mv_data);
    const uint64_t page = (at - reinterpret_cast<uintptr_t>(region->start)) / map.pageSize;
    if (map.leavesChecked.count(page) || (map.soundLeaves && map.soundLeaves->has(page)))
        return;
    const char *start = region->start + page * map.pageSize;
    if (flags & kOverflow)
        return; // a value on pages of its own, whose run checkPlaced checked
    char why[160] = "";
    bool damaged = (flags & ~kFixedLeaf) != kLeaf;
    if (damaged)
        std::snprintf(why, sizeof why, "its flags are %#x", flags);
    else if (!guardFaults([&] {
                 damaged = leafDamage(start, map.pageSize, flags, region->bytes / map.pageSize, why,
                                      sizeof why);
             }))
        throwFault("read a page");
    if (damaged)
        throw IndexDamaged(std::string("the page that ") + what + " lies on (" +
                           std::to_string(page) + ") is not a sound leaf: " + why);
    map.leavesChecked.insert(page);
    if (map.soundLeaves)
        map.soundLeaves->add(page);
}

std::optional<uint64_t> pageOf(const StoreMap &map, const MDB_val &value)
{
    const StoreMap::Region *region = regionOf(map, value);
    if (!region)
        return std::nullopt;
    return (reinterpret_cast<uintptr_t>(value.mv_data) -
            reinterpret_cast<uintptr_t>(region->start)) /
           map.pageSize;
}

} // namespace vokid
