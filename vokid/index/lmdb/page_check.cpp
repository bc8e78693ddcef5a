#include "vokid/index/lmdb/page_check.h"

#include <cstring>
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
    MDB_envinfo info;
    checkedCall("measure the store", [&] { return mdb_env_info(env, &info); });
    MDB_stat stat;
    checkedCall("measure the store", [&] { return mdb_env_stat(env, &stat); });
    return StoreMap{static_cast<const char *>(info.me_mapaddr), info.me_mapsize, stat.ms_psize};
}

void checkOnPage(const StoreMap &map, const MDB_val &value, const char *what)
{
    const auto *at = static_cast<const char *>(value.mv_data);
    if (!map.start || map.pageSize == 0 || at < map.start || at >= map.start + map.bytes)
        return;
    const uint64_t offset = static_cast<uint64_t>(at - map.start);
    const uint64_t page = offset / map.pageSize;
    const uint64_t within = offset % map.pageSize;
    const PageHeader header = headerAt(map.start + page * map.pageSize);
    const bool overflow = (header.flags & kOverflow) != 0 && within == kHeaderBytes;
    const uint64_t room =
        overflow ? uint64_t{header.run} * map.pageSize - kHeaderBytes : map.pageSize - within;
    const bool holds = overflow || ((header.flags & kLeaf) != 0 && within >= kHeaderBytes);
    if (header.number != page || !holds || value.mv_size > room)
        throw IndexDamaged(std::string(what) + " lies on page " + std::to_string(page) +
                           ", whose header does not match it");
}

} // namespace vokid
