// How the LMDB store lays out a posting (a word's track and position).
//
// Format version 4: a word's upper 16 bits are the key (a bucket, a
// native 32-bit integer), and each posting is a 10-byte duplicate under
// it: the word's lower 16 bits, the track and the position, big-endian,
// so that the duplicates' byte order is word, track, position. A bucket
// holds the postings of 65,536 words side by side on full pages of
// duplicates: about 10 bytes a posting, where a key of its own per word
// cost 20 (LMDB's node of 8 bytes, the key and the value, for every word
// with a single posting, which most have).
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

constexpr int kBucketShift = 16;
constexpr size_t kBucketItemBytes = 10;
using BucketItem = std::array<unsigned char, kBucketItemBytes>;

constexpr uint32_t bucketOf(uint32_t word)
{
    return word >> kBucketShift;
}

inline BucketItem bucketItem(uint32_t word, uint32_t track, uint32_t position)
{
    BucketItem item{};
    item[0] = static_cast<unsigned char>(word >> 8);
    item[1] = static_cast<unsigned char>(word);
    for (int i = 0; i < 4; ++i) {
        item[2 + i] = static_cast<unsigned char>(track >> (24 - 8 * i));
        item[6 + i] = static_cast<unsigned char>(position >> (24 - 8 * i));
    }
    return item;
}

struct BucketPosting {
    uint16_t low; // the word's lower 16 bits
    uint32_t track;
    uint32_t position;
};

inline BucketPosting readBucketItem(const unsigned char *item)
{
    const auto u32 = [&](int at) {
        return uint32_t{item[at]} << 24 | uint32_t{item[at + 1]} << 16 |
               uint32_t{item[at + 2]} << 8 | uint32_t{item[at + 3]};
    };
    return BucketPosting{static_cast<uint16_t>(item[0] << 8 | item[1]), u32(2), u32(6)};
}

// Versions 1 to 3: track and position in one native 64-bit integer, so
// that a word's postings sort by track, then position.
constexpr uint64_t wordPostingValue(uint32_t track, uint32_t position)
{
    return uint64_t{track} << 32 | position;
}

} // namespace vokid

#endif
