// The index's own records read back and refused: the folder's header, the
// first look at the store's data file (meta pages written here field by
// field), track records and stored sequences.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "vokid/index/index_error.h"
#include "vokid/index/lmdb/index_header.h"
#include "vokid/index/track_info.h"
#include "vokid/index/track_print.h"

namespace {

using vokid::IndexError;

// The message of the IndexError that `work` throws, or "" when it throws none.
template <class Work>
std::string refusal(Work work)
{
    try {
        work();
    } catch (const IndexError &error) {
        return error.what();
    }
    return "";
}

void putLittleEndian(std::string &bytes, size_t at, uint64_t value, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        bytes[at + i] = static_cast<char>(value >> (8 * i) & 0xFF);
}

// A header written byte by byte, with the CRC-32 computed bit by bit here.
std::string header(uint32_t version, uint32_t size, uint32_t step)
{
    std::string bytes = "VOKIDIDX" + std::string(24, '\0');
    putLittleEndian(bytes, 8, version, 4);
    putLittleEndian(bytes, 12, size, 4);
    putLittleEndian(bytes, 16, step, 4);
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < 28; ++i) {
        crc ^= static_cast<uint8_t>(bytes[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 1u ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    putLittleEndian(bytes, 28, ~crc, 4);
    return bytes;
}

TEST(VokidIndexHeader, WrittenAndReadBack)
{
    EXPECT_EQ(header(1, 32, 2), vokid::encodeHeader(vokid::IndexHeader{}));
    const vokid::IndexHeader read = vokid::decodeHeader(header(1, 32, 5));
    EXPECT_EQ(1u, read.version);
    EXPECT_EQ(5u, read.step);
}

TEST(VokidIndexHeader, Refusals)
{
    std::string flipped = header(1, 32, 2);
    flipped[17] ^= 1;
    const struct {
        const char *name;
        std::string bytes;
        std::string message;
    } cases[] = {
        {"empty", "", "not a vokid index: its header file has the wrong magic"},
        {"other magic", "VOKIDIDY" + header(1, 32, 2).substr(8),
         "not a vokid index: its header file has the wrong magic"},
        {"another version", header(2, 32, 2),
         "the index has format version 2, this vokid reads version 1"},
        {"cut short", header(1, 32, 2).substr(0, 10), "the index header is cut short"},
        {"shorter", header(1, 32, 2).substr(0, 20),
         "the index is damaged: its header should have 32 bytes"},
        {"longer", header(1, 32, 2) + "x", "the index is damaged: its header should have 32 bytes"},
        {"size field", header(1, 36, 2), "the index is damaged: its header should have 32 bytes"},
        {"a flipped bit", flipped, "the index is damaged: its header's checksum does not match"},
        {"step 0", header(1, 32, 0), "the index is damaged: its header names step 0"},
        {"step 17", header(1, 32, 17), "the index is damaged: its header names step 17"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.message, refusal([&] { vokid::decodeHeader(c.bytes); })) << c.name;
}

// Two meta pages of the store's layout on this 64-bit host: page header of
// 16 bytes, then magic, version, map address and size, the free-page
// database (its first word the page size), the main database, the last
// page and the transaction id.
std::string metaPages(uint32_t pageSize, uint64_t lastPage0, uint64_t txn0, uint64_t lastPage1,
                      uint64_t txn1)
{
    static_assert(sizeof(size_t) == 8, "the layout written here is the 64-bit one");
    std::string bytes(2 * pageSize, '\0');
    const auto meta = [&](size_t page, uint64_t lastPage, uint64_t txn) {
        const size_t at = page * pageSize;
        putLittleEndian(bytes, at, page, 8);
        putLittleEndian(bytes, at + 10, 0x08, 2); // a meta page
        putLittleEndian(bytes, at + 16, 0xBEEFC0DE, 4);
        putLittleEndian(bytes, at + 20, 1, 4);
        putLittleEndian(bytes, at + 40, pageSize, 4);
        putLittleEndian(bytes, at + 136, lastPage, 8);
        putLittleEndian(bytes, at + 144, txn, 8);
    };
    meta(0, lastPage0, txn0);
    meta(1, lastPage1, txn1);
    return bytes;
}

TEST(VokidIndexDataFile, TheNewerMetaPageSaysHowFarThePagesReach)
{
    const std::string head = metaPages(4096, 9, 4, 12, 5);
    const vokid::DataFileFacts facts = vokid::checkDataFile(head, 13 * 4096);
    EXPECT_EQ(4096u, facts.pageSize);
    EXPECT_EQ(12u, facts.lastPage);
    EXPECT_EQ(5u, facts.transaction);
    EXPECT_EQ(9u, vokid::checkDataFile(metaPages(4096, 9, 6, 12, 5), 10 * 4096).lastPage);
}

TEST(VokidIndexDataFile, Refusals)
{
    std::string magic = metaPages(4096, 3, 1, 3, 2);
    magic[4096 + 16] ^= 1;
    std::string version = metaPages(4096, 3, 1, 3, 2);
    version[20] = 2;
    const struct {
        const char *name;
        std::string head;
        uint64_t size;
        std::string message;
    } cases[] = {
        {"truncated", metaPages(4096, 12, 4, 20, 5), 16 * 4096,
         "the data file is truncated: it has 65536 bytes, but its pages reach to byte 86016"},
        {"one byte short", metaPages(4096, 9, 4, 2, 3), 10 * 4096 - 1,
         "the data file is truncated: it has 40959 bytes, but its pages reach to byte 40960"},
        {"empty", "", 0, "the data file is cut short before its first meta page ends (0 bytes)"},
        {"one page", metaPages(4096, 3, 1, 3, 2).substr(0, 4096), 4096,
         "the data file is cut short before its second meta page ends (4096 bytes)"},
        {"text", std::string(8192, 'x'), 8192,
         "the data file is not an LMDB data file (no first meta page)"},
        {"second magic", magic, 8192,
         "the data file is not an LMDB data file (no second meta page)"},
        {"version", version, 8192,
         "the data file has LMDB format version 2, this vokid reads version 1"},
        {"page size", metaPages(4096, 3, 1, 3, 2).replace(40, 4, std::string("\x00\x30\0\0", 4)),
         8192, "the data file is damaged: page size 12288"},
        {"last page", metaPages(4096, 3, 1, uint64_t{1} << 41, 2), 8192,
         "the data file is damaged: last page 2199023255552"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.message, refusal([&] { vokid::checkDataFile(c.head, c.size); })) << c.name;
}

TEST(VokidTrackRecord, WrittenAndReadBack)
{
    vokid::TrackInfo track;
    track.path = "/music/a b.mp3";
    track.title = "Title";
    track.artist = "";
    track.algorithm = "Stream1";
    track.duration = 183.25;
    track.fileSize = 5000000123;
    track.modified = -17;
    track.words = 15616;
    track.postings = 7000;
    const std::string bytes = vokid::encodeTrack(track);
    // Sizes, then four texts, each a length and its bytes.
    EXPECT_EQ(8u + 8 + 8 + 4 + 4 + (4 + 7) + (4 + 14) + (4 + 5) + 4, bytes.size());
    const vokid::TrackInfo read = vokid::decodeTrack(42, bytes);
    EXPECT_EQ(42u, read.id);
    EXPECT_EQ(track.path, read.path);
    EXPECT_EQ(track.title, read.title);
    EXPECT_EQ(track.artist, read.artist);
    EXPECT_EQ(track.algorithm, read.algorithm);
    EXPECT_EQ(track.duration, read.duration);
    EXPECT_EQ(track.fileSize, read.fileSize);
    EXPECT_EQ(track.modified, read.modified);
    EXPECT_EQ(track.words, read.words);
    EXPECT_EQ(track.postings, read.postings);
    EXPECT_TRUE(read.unchanged(5000000123, -17));
    EXPECT_FALSE(read.unchanged(5000000123, -16));

    EXPECT_EQ("a track record is cut short",
              refusal([&] { vokid::decodeTrack(1, bytes.substr(0, bytes.size() - 1)); }));
    EXPECT_EQ("a track record has 1 bytes too many",
              refusal([&] { vokid::decodeTrack(1, bytes + "x"); }));
    std::string huge = bytes;
    huge[32] = '\xff'; // the algorithm's length
    EXPECT_EQ("a track record is cut short", refusal([&] { vokid::decodeTrack(1, huge); }));
    track.postings = track.words + 1;
    EXPECT_EQ("a track record has more postings than sub-fingerprints",
              refusal([&] { vokid::decodeTrack(1, vokid::encodeTrack(track)); }));
}

vokid::TrackPrint randomPrint(size_t blocks, uint32_t seed)
{
    std::mt19937 random(seed);
    vokid::TrackPrint print;
    for (size_t i = 0; i < blocks * 256; ++i) {
        print.words.push_back(static_cast<uint32_t>(random()));
        print.quiet.push_back(random() % 7 == 0);
    }
    for (size_t k = 0; k < blocks * 86; ++k)
        print.masks.push_back(static_cast<uint32_t>(random()));
    return print;
}

TEST(VokidStoredSequence, WrittenReadBackAndSliced)
{
    const vokid::TrackPrint print = randomPrint(3, 1);
    const std::string bytes = vokid::encodeSequence(print);
    ASSERT_EQ(4u + 768 * 4 + 258 * 4 + 96, bytes.size());
    // The quiet bitmap: bit i % 8 of byte i / 8.
    for (size_t i = 0; i < 768; ++i)
        EXPECT_EQ(print.quiet[i], (bytes[4 + 768 * 4 + 258 * 4 + i / 8] >> (i % 8)) & 1) << i;
    const vokid::TrackPrint read = vokid::decodeSequence(bytes);
    EXPECT_EQ(print.words, read.words);
    EXPECT_EQ(print.masks, read.masks);
    EXPECT_EQ(print.quiet, read.quiet);

    // Slices: each word with the kept mask of 3k for 3k, 3k + 1 and of
    // 3k + 3 for 3k + 2, within its block.
    const vokid::SequenceView view(bytes);
    const struct {
        int64_t from;
        size_t length;
        int64_t first;
        size_t size;
    } cases[] = {
        {0, 10, 0, 10}, {250, 20, 250, 20}, {-5, 10, 0, 5}, {760, 20, 760, 8}, {800, 4, 768, 0}};
    for (const auto &c : cases) {
        int64_t first = -1;
        const vokid::SubFingerprints slice = view.slice(c.from, c.length, first);
        EXPECT_EQ(c.first, first) << c.from;
        ASSERT_EQ(c.size, slice.size()) << c.from;
        for (size_t j = 0; j < slice.size(); ++j) {
            const size_t i = static_cast<size_t>(first) + j;
            const size_t block = i / 256, within = i % 256;
            const size_t kept = within % 3 == 2 ? within + 1 : within - within % 3;
            EXPECT_EQ(print.words[i], slice.words[j]);
            EXPECT_EQ(print.masks[block * 86 + kept / 3], slice.weak[j]) << i;
            EXPECT_EQ(print.quiet[i], slice.quiet[j]);
        }
    }
}

TEST(VokidStoredSequence, Refusals)
{
    const std::string bytes = vokid::encodeSequence(randomPrint(1, 2));
    std::string partBlock = bytes;
    partBlock[0] = 100;
    partBlock[1] = 0;
    std::string none = bytes;
    none[0] = 0;
    none[1] = 0;
    const struct {
        const char *name;
        std::string bytes;
        std::string message;
    } cases[] = {
        {"empty", "", "a stored sequence is cut short"},
        {"cut short", bytes.substr(0, bytes.size() - 1),
         "a stored sequence of 256 sub-fingerprints has 1403 bytes instead of 1404"},
        {"longer", bytes + "x",
         "a stored sequence of 256 sub-fingerprints has 1405 bytes instead of 1404"},
        {"part of a block", partBlock,
         "a stored sequence holds 100 sub-fingerprints, not whole blocks"},
        {"no words", none, "a stored sequence holds 0 sub-fingerprints, not whole blocks"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.message, refusal([&] { vokid::decodeSequence(c.bytes); })) << c.name;
}

} // namespace
