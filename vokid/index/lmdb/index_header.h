// The index folder's own header, and the first look at the store's data
// file. Both are read with plain file reads before the store is opened or
// mapped, so that a folder of something else, an index written by another
// format version, or a data file cut short (a full disk, a copy that
// stopped) is refused with a clear message instead of being mapped.
#ifndef VOKID_INDEX_LMDB_INDEX_HEADER_H
#define VOKID_INDEX_LMDB_INDEX_HEADER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "vokid/index/postings.h"

namespace vokid {

// The files of an index folder.
constexpr const char *kHeaderFile = "vokid-index";
constexpr const char *kDataFile = "data.mdb";
constexpr const char *kLockFile = "lock.mdb";

constexpr uint32_t kIndexFormatVersion = 1;
constexpr size_t kHeaderBytes = 32;

struct IndexHeader {
    uint32_t version = kIndexFormatVersion;
    uint32_t step = kDefaultStep; // every step-th sub-fingerprint has a posting
};

// 32 bytes: "VOKIDIDX", then the format version, the header's size, the
// step and two reserved words (all 32-bit little-endian), then the CRC-32
// of the 28 bytes before it.
std::string encodeHeader(const IndexHeader &header);
// Throws IndexError: not a header (size, magic), another format version,
// damaged (checksum, step).
IndexHeader decodeHeader(std::string_view bytes);

// What the data file's two meta pages say: the page size and the last
// page in use by the newest transaction.
struct DataFileFacts {
    uint32_t pageSize = 0;
    uint64_t lastPage = 0;
    uint64_t transaction = 0;
};

// The most of the file's start that checkDataFile reads: two meta pages
// of the largest page size.
constexpr size_t kDataHeadBytes = 2 * 65536;

// Judges the data file from its first bytes (up to kDataHeadBytes) and its
// size: it must be a store data file of this layout whose pages all lie
// within the file. Throws IndexError.
DataFileFacts checkDataFile(std::string_view head, uint64_t fileSize);

} // namespace vokid

#endif
