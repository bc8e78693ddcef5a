// How the LMDB store lays out a posting (a word's track and position).
//
// Format version 4: a word's upper 8 bits are the key (a bucket, a native
// 32-bit integer), and each posting an 11-byte duplicate under it: the
// word's lower 24 bits, the track and the position, big-endian, so that
// the duplicates' byte order is word, track, position. The postings lie
// side by side on pages of their own (LMDB's pages of fixed-size
// duplicates have no header per entry): 11 bytes a posting, where a key
// per word cost 20 (a node of 8 bytes, the key and the value for each
// word with a single posting, which most have). Few buckets, because each
// one's last page is part empty and a small one sits inside a page of
// the table with room to grow.
//
// Versions 1 to 3: the word is the key, and each posting a native 64-bit
// integer (track << 32 | position) under it, in a table of another name.
#ifndef VOKID_INDEX_LMDB_POSTING_LAYOUT_H
#define VOKID_INDEX_LMDB_POSTING_LAYOUT_H

#include <array>
#include <cstddef>
#include <cstdint>

namespace vokid {

constexpr uint32_t kBucketedForm = 4; // the first format version of buckets
constexpr const char *kBucketTable = "posting_buckets";
constexpr const char *kWordTable = "postings";

constexpr int kBucketShift = 24;
constexpr size_t kBucketItemBytes = 11;
using BucketItem = std::array<unsigned char, kBucketItemBytes>;

constexpr uint32_t bucketOf(uint32_t word)
{
    return word >> kBucketShift;
}

constexpr uint32_t lowOf(uint32_t word)
{
    return word & ((uint32_t{1} << kBucketShift) - 1);
}

inline BucketItem bucketItem(uint32_t word, uint32_t track, uint32_t position)
{
    BucketItem item{};
    for (int i = 0; i < 3; ++i)
        item[i] = static_cast<unsigned char>(word >> (16 - 8 * i));
    for (int i = 0; i < 4; ++i) {
        item[3 + i] = static_cast<unsigned char>(track >> (24 - 8 * i));
        item[7 + i] = static_cast<unsigned char>(position >> (24 - 8 * i));
    }
    return item;
}

struct BucketPosting {
    uint32_t low; // the word's lower 24 bits
    uint32_t track;
    uint32_t position;
};

inline BucketPosting readBucketItem(const unsigned char *item)
{
    const auto u32 = [&](int at) {
        return uint32_t{item[at]} << 24 | uint32_t{item[at + 1]} << 16 |
               uint32_t{item[at + 2]} << 8 | uint32_t{item[at + 3]};
    };
    return BucketPosting{uint32_t{item[0]} << 16 | uint32_t{item[1]} << 8 | uint32_t{item[2]},
                         u32(3), u32(7)};
}

// Versions 1 to 3: track and position in one native 64-bit integer, so
// that a word's postings sort by track, then position.
constexpr uint64_t wordPostingValue(uint32_t track, uint32_t position)
{
    return uint64_t{track} << 32 | position;
}

} // namespace vokid

#endif
