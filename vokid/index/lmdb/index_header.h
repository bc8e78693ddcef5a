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
#include "vokid/index/stored_form.h"

namespace vokid {

// The files of an index folder.
constexpr const char *kHeaderFile = "vokid-index";
constexpr const char *kDataFile = "data.mdb";
constexpr const char *kLockFile = "lock.mdb";

// The format version this vokid writes (stored_form.h): 2, whose header
// holds the commit counter and whose records have checksums. It reads
// version 1 as well.
constexpr uint32_t kIndexFormatVersion = kStoredForm;
constexpr size_t kHeaderBytes = 32;

struct IndexHeader {
    uint32_t version = kIndexFormatVersion;
    uint32_t step = kDefaultStep; // every step-th sub-fingerprint has a posting
    // vokid's own count of the commits to the index (not the store's
    // transaction id, which a compacted copy starts again), as it was
    // after the last commit whose header was written: the store must hold
    // at least this many. 0 in version 1, which has none.
    uint64_t commits = 0;
};

// 32 bytes: "VOKIDIDX", then the format version, the header's size and the
// step (32-bit), the commit counter (64-bit; two reserved 32-bit words
// in version 1), all little-endian, then the CRC-32 of the 28 bytes
// before it.
std::string encodeHeader(const IndexHeader &header);
// Throws IndexError: not a header (size, magic), a format version this
// vokid does not read, damaged (checksum, step).
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

// The first two pages of a data file (of `fileSize` bytes, whose first
// bytes are `head`) that checkDataFile takes, both meta
// pages now holding its newer meta page's state, under transaction ids
// `transaction` and `transaction` - 1 (each in the page the store reads
// for it: the id's lowest bit). A store whose readers and writers go by
// another data file's transaction ids (a lock file they share) reads this
// one at `transaction` as they expect. Throws IndexError as checkDataFile
// does, and for a transaction id below 1.
std::string restampedHead(std::string_view head, uint64_t fileSize, uint64_t transaction);

} // namespace vokid

#endif
