#include "vokid/index/lmdb/index_header.h"

#include "vokid/index/bytes.h"
#include "vokid/index/index_error.h"

namespace vokid {

namespace {

constexpr std::string_view kMagic = "VOKIDIDX";

// The store's meta page, as its C structures lay it out with words of
// size_t: a page header (page number, two 16-bit fields, a 32-bit one),
// then magic and version (32 bits each), the map address and size, two
// database records (32-bit pad holding the page size in the first, two
// 16-bit fields, five words), the last page and the transaction id.
constexpr size_t kWord = sizeof(size_t);
constexpr size_t kMetaAt = kWord + 8;
constexpr size_t kMagicAt = kMetaAt;
constexpr size_t kVersionAt = kMetaAt + 4;
constexpr size_t kDatabasesAt = kMetaAt + 8 + 2 * kWord;
constexpr size_t kDatabaseBytes = 8 + 5 * kWord;
constexpr size_t kPageSizeAt = kDatabasesAt;
constexpr size_t kLastPageAt = kDatabasesAt + 2 * kDatabaseBytes;
constexpr size_t kTransactionAt = kLastPageAt + kWord;
constexpr size_t kMetaEnd = kTransactionAt + kWord;
constexpr uint32_t kStoreMagic = 0xBEEFC0DEu;
constexpr uint32_t kStoreVersion = 1;

uint64_t readWord(std::string_view bytes, size_t at, size_t size)
{
    uint64_t value = 0;
    for (size_t i = 0; i < size; ++i)
        value |= uint64_t{static_cast<uint8_t>(bytes[at + i])} << (8 * i);
    return value;
}

struct Meta {
    uint32_t pageSize;
    uint64_t lastPage;
    uint64_t transaction;
};

Meta readMeta(std::string_view head, size_t at, const char *which)
{
    if (head.size() < at + kMetaEnd)
        throw damaged(std::string("its data file is cut short before its ") + which +
                      " meta page ends (" + std::to_string(head.size()) + " bytes)");
    if (readWord(head, at + kMagicAt, 4) != kStoreMagic)
        throw damaged(std::string("its data file is not an LMDB data file (no ") + which +
                      " meta page)");
    const uint64_t version = readWord(head, at + kVersionAt, 4);
    if (version != kStoreVersion)
        throw IndexError("the data file has LMDB format version " + std::to_string(version) +
                         ", this vokid reads version " + std::to_string(kStoreVersion));
    return Meta{static_cast<uint32_t>(readWord(head, at + kPageSizeAt, 4)),
                readWord(head, at + kLastPageAt, kWord),
                readWord(head, at + kTransactionAt, kWord)};
}

} // namespace

std::string encodeHeader(const IndexHeader &header)
{
    ByteWriter out;
    out.data() = std::string(kMagic);
    out.u32(header.version);
    out.u32(static_cast<uint32_t>(kHeaderBytes));
    out.u32(header.step);
    out.u64(header.commits);
    out.u32(crc32(out.data()));
    return std::move(out.data());
}

// The checksum is looked at before the version, so that a flipped byte of
// an index's own header reads as damage, not as another format.
IndexHeader decodeHeader(std::string_view bytes)
{
    if (bytes.size() < kMagic.size() || bytes.substr(0, kMagic.size()) != kMagic)
        throw IndexError("not a vokid index: its header file has the wrong magic");
    if (bytes.size() == kHeaderBytes &&
        readWord(bytes, kHeaderBytes - 4, 4) != crc32(bytes.substr(0, kHeaderBytes - 4)))
        throw damaged("its header's checksum does not match");
    ByteReader in(bytes.substr(kMagic.size()), "the index header");
    IndexHeader header;
    header.version = in.u32();
    if (header.version > kIndexFormatVersion)
        throw IndexError("the index has format version " + std::to_string(header.version) +
                         ", this vokid reads versions " + std::to_string(kOldestForm) + " to " +
                         std::to_string(kIndexFormatVersion) + " (a newer vokid made it)");
    if (bytes.size() != kHeaderBytes || in.u32() != kHeaderBytes)
        throw damaged("its header should have " + std::to_string(kHeaderBytes) + " bytes");
    header.step = in.u32();
    header.commits = in.u64();
    if (header.version < kOldestForm)
        throw damaged("its header has format version " + std::to_string(header.version));
    if (header.step < 1 || header.step > kMaxStep)
        throw damaged("its header has step " + std::to_string(header.step));
    if (header.version < 2)
        header.commits = 0; // reserved words, not a counter
    return header;
}

DataFileFacts checkDataFile(std::string_view head, uint64_t fileSize)
{
    const Meta first = readMeta(head, 0, "first");
    const uint32_t pageSize = first.pageSize;
    if (pageSize < 512 || pageSize > 65536 || (pageSize & (pageSize - 1)) != 0)
        throw damaged("its data file has page size " + std::to_string(pageSize));
    const Meta second = readMeta(head, pageSize, "second");
    // The store writes one page size into both meta pages, and divides by
    // the newer one's: another (0 among them) is damage.
    if (second.pageSize != pageSize)
        throw damaged("its data file's meta pages have page sizes " + std::to_string(pageSize) +
                      " and " + std::to_string(second.pageSize));
    // The store uses the meta page of the newer transaction.
    const Meta &newer = second.transaction > first.transaction ? second : first;
    // Page numbers beyond 2^40 (4 PB of 4 kB pages) are damage, and would
    // overflow the size below.
    if (newer.lastPage < 1 || newer.lastPage >= uint64_t{1} << 40)
        throw damaged("its data file has last page " + std::to_string(newer.lastPage));
    const uint64_t needed = (newer.lastPage + 1) * pageSize;
    if (fileSize < needed)
        throw damaged("its data file is truncated: it has " + std::to_string(fileSize) +
                      " bytes, but its pages reach to byte " + std::to_string(needed));
    return DataFileFacts{pageSize, newer.lastPage, newer.transaction};
}

std::string restampedHead(std::string_view head, uint64_t fileSize, uint64_t transaction)
{
    const DataFileFacts facts = checkDataFile(head, fileSize);
    if (transaction < 1)
        throw IndexError("a data file cannot be given transaction id 0");
    const size_t pageSize = facts.pageSize;
    const Meta first = readMeta(head, 0, "first");
    const size_t newerAt =
        readMeta(head, pageSize, "second").transaction > first.transaction ? pageSize : 0;
    std::string pages(head.substr(0, 2 * pageSize));
    const std::string_view meta = head.substr(newerAt + kMetaAt, kMetaEnd - kMetaAt);
    for (size_t page = 0; page < 2; ++page) {
        pages.replace(page * pageSize + kMetaAt, meta.size(), meta);
        const uint64_t id = page == (transaction & 1) ? transaction : transaction - 1;
        for (size_t i = 0; i < kWord; ++i)
            pages[page * pageSize + kTransactionAt + i] = static_cast<char>(id >> (8 * i) & 0xFFu);
    }
    return pages;
}

} // namespace vokid
