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

} // namespace

StoreMap storeMap(MDB_env *env)
{
    StoreMap map;
    MDB_stat stat;
    checkedCall("measure the store", [&] { return mdb_env_stat(env, &stat); });
    map.pageSize = stat.ms_psize;
    mdb_filehandle_t fd = -1;
    struct stat file;
    if (mdb_env_get_fd(env, &fd) != MDB_SUCCESS || fstat(fd, &file) != 0)
        return map;
    std::ifstream maps("/proc/self/maps");
    std::string line;
    // "start-end perms offset major:minor inode path"
    while (std::getline(maps, line)) {
        unsigned long long start = 0, end = 0, offset = 0, inode = 0;
        unsigned major = 0, minor = 0;
        if (std::sscanf(line.c_str(), "%llx-%llx %*s %llx %x:%x %llu", &start, &end, &offset,
                        &major, &minor, &inode) == 6 &&
            offset == 0 && inode == file.st_ino && makedev(major, minor) == file.st_dev)
            map.regions.push_back({reinterpret_cast<const char *>(start), end - start});
    }
    return map;
}

void checkOnPage(const StoreMap &map, const MDB_val &value, const char *what)
{
    const auto at = reinterpret_cast<uintptr_t>(value.mv_data);
    const auto region =
        std::find_if(map.regions.begin(), map.regions.end(), [&](const StoreMap::Region &r) {
            const auto start = reinterpret_cast<uintptr_t>(r.start);
            return at >= start && at - start < r.bytes;
        });
    if (region == map.regions.end() || map.pageSize == 0)
        return;
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
}

} // namespace vokid
