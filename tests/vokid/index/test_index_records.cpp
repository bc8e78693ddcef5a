// The index's own records read back and refused: the checksum they end
// with, the folder's header, the first look at the store's data file (meta
// pages written here field by field) and its meta pages given another
// transaction id, track records and stored sequences, in both format
// versions.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "tests/support/bytes.h"
#include "vokid/index/index_error.h"
#include "vokid/index/lmdb/index_header.h"
#include "vokid/index/stored_form.h"
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

using vok_test::bitwise_crc32;
using vok_test::little_endian;
using vok_test::put_little_endian;

// A record's fields with the checksum of version 2: the CRC-32 of the
// track id and the fields.
std::string sealed(uint32_t id, const std::string &fields)
{
    return fields + little_endian(bitwise_crc32(little_endian(id, 4) + fields), 4);
}

TEST(VokidStoredForm, Crc32AsComputedBitByBit)
{
    EXPECT_EQ(0xCBF43926u, vokid::crc32("123456789")); // the check value of CRC-32
    EXPECT_EQ(0u, vokid::crc32(""));
    std::mt19937 random(5);
    std::string bytes;
    for (size_t size = 0; size < 40; ++size) { // across the eight-byte steps
        EXPECT_EQ(bitwise_crc32(bytes), vokid::crc32(bytes)) << size;
        for (size_t cut = 0; cut <= size; cut += 3) // continued from a part
            EXPECT_EQ(bitwise_crc32(bytes), vokid::crc32(bytes.substr(cut),
                                                      vokid::crc32(bytes.substr(0, cut))));
        bytes += static_cast<char>(random());
    }
    EXPECT_EQ(bitwise_crc32(little_endian(0x01020304, 4) + "abc"), vokid::recordCrc(0x01020304, "abc"));
    EXPECT_EQ("the index is damaged: what", std::string(vokid::damaged("what").what()));
}

// A header written byte by byte, with the CRC-32 computed bit by bit here.
std::string header(uint32_t version, uint32_t size, uint32_t step, uint64_t commits = 0)
{
    std::string bytes = "VOKIDIDX" + std::string(24, '\0');
    put_little_endian(bytes, 8, version, 4);
    put_little_endian(bytes, 12, size, 4);
    put_little_endian(bytes, 16, step, 4);
    put_little_endian(bytes, 20, commits, 8);
    put_little_endian(bytes, 28, bitwise_crc32(bytes.substr(0, 28)), 4);
    return bytes;
}

TEST(VokidIndexHeader, WrittenAndReadBack)
{
    EXPECT_EQ(header(4, 32, 3), vokid::encodeHeader(vokid::IndexHeader{}));
    vokid::IndexHeader counted;
    counted.step = 3;
    counted.commits = 0x0102030405060708u;
    EXPECT_EQ(header(4, 32, 3, 0x0102030405060708u), vokid::encodeHeader(counted));
    const vokid::IndexHeader read = vokid::decodeHeader(header(2, 32, 5, 77));
    EXPECT_EQ(2u, read.version);
    EXPECT_EQ(5u, read.step);
    EXPECT_EQ(77u, read.commits);
    // Version 1's reserved words are no counter.
    const vokid::IndexHeader old = vokid::decodeHeader(header(1, 32, 4, 99));
    EXPECT_EQ(1u, old.version);
    EXPECT_EQ(4u, old.step);
    EXPECT_EQ(0u, old.commits);
}

TEST(VokidIndexHeader, Refusals)
{
    std::string flipped = header(2, 32, 2, 5);
    flipped[20] ^= 1;
    const struct {
        const char *name;
        std::string bytes;
        std::string message;
    } cases[] = {
        {"empty", "", "not a vokid index: its header file has the wrong magic"},
        {"other magic", "VOKIDIDY" + header(2, 32, 2).substr(8),
         "not a vokid index: its header file has the wrong magic"},
        {"a newer version", header(5, 32, 2),
         "the index has format version 5, this vokid reads versions 1 to 4 (a newer vokid "
         "made it)"},
        {"version 0", header(0, 32, 2), "the index is damaged: its header has format version 0"},
        {"cut short", header(2, 32, 2).substr(0, 10), "the index header is cut short"},
        {"shorter", header(2, 32, 2).substr(0, 20),
         "the index is damaged: its header should have 32 bytes"},
        {"longer", header(2, 32, 2) + "x", "the index is damaged: its header should have 32 bytes"},
        {"size field", header(2, 36, 2), "the index is damaged: its header should have 32 bytes"},
        {"a flipped bit of the counter", flipped,
         "the index is damaged: its header's checksum does not match"},
        {"step 0", header(2, 32, 0), "the index is damaged: its header has step 0"},
        {"step 17", header(1, 32, 17), "the index is damaged: its header has step 17"},
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
        put_little_endian(bytes, at, page, 8);
        put_little_endian(bytes, at + 10, 0x08, 2); // a meta page
        put_little_endian(bytes, at + 16, 0xBEEFC0DE, 4);
        put_little_endian(bytes, at + 20, 1, 4);
        put_little_endian(bytes, at + 40, pageSize, 4);
        put_little_endian(bytes, at + 136, lastPage, 8);
        put_little_endian(bytes, at + 144, txn, 8);
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
         "the index is damaged: its data file is truncated: it has 65536 bytes, but its pages reach to byte 86016"},
        {"one byte short", metaPages(4096, 9, 4, 2, 3), 10 * 4096 - 1,
         "the index is damaged: its data file is truncated: it has 40959 bytes, but its pages reach to byte 40960"},
        {"empty", "", 0, "the index is damaged: its data file is cut short before its first meta page ends (0 bytes)"},
        {"one page", metaPages(4096, 3, 1, 3, 2).substr(0, 4096), 4096,
         "the index is damaged: its data file is cut short before its second meta page ends (4096 bytes)"},
        {"text", std::string(8192, 'x'), 8192,
         "the index is damaged: its data file is not an LMDB data file (no first meta page)"},
        {"second magic", magic, 8192,
         "the index is damaged: its data file is not an LMDB data file (no second meta page)"},
        {"version", version, 8192,
         "the data file has LMDB format version 2, this vokid reads version 1"},
        {"page size", metaPages(4096, 3, 1, 3, 2).replace(40, 4, std::string("\x00\x30\0\0", 4)),
         8192, "the index is damaged: its data file has page size 12288"},
        {"second page size 0", metaPages(4096, 3, 1, 3, 2).replace(4096 + 40, 4, 4, '\0'), 8192,
         "the index is damaged: its data file's meta pages have page sizes 4096 and 0"},
        {"last page", metaPages(4096, 3, 1, uint64_t{1} << 41, 2), 8192,
         "the index is damaged: its data file has last page 2199023255552"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.message, refusal([&] { vokid::checkDataFile(c.head, c.size); })) << c.name;
}

TEST(VokidTrackRecord, WrittenAndReadBack)
{
    vokid::TrackInfo track;
    track.id = 42;
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
    // Sizes, then four texts, each a length and its bytes, an empty album,
    // no values (a count of 0), then the checksum.
    ASSERT_EQ(8u + 8 + 8 + 4 + 4 + (4 + 7) + (4 + 14) + (4 + 5) + 4 + 4 + 1 + 4, bytes.size());
    const std::string fields = bytes.substr(0, bytes.size() - 4);
    EXPECT_EQ(sealed(42, fields), bytes);
    EXPECT_EQ(little_endian(5000000123, 8), fields.substr(0, 8));
    EXPECT_EQ(little_endian(7, 4) + "Stream1", fields.substr(32, 11));
    EXPECT_EQ(little_endian(0, 4) + std::string(1, '\0'), fields.substr(fields.size() - 5));
    // Versions 1 and 2 end after the artist.
    const std::string older = fields.substr(0, fields.size() - 5);
    for (const auto &[form, stored] : {std::pair<uint32_t, std::string>{3, bytes},
                                       {2, sealed(42, older)},
                                       {1, older}}) {
        const vokid::TrackInfo read = vokid::decodeTrack(42, stored, form);
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
        EXPECT_EQ("", read.album) << form;
        EXPECT_FALSE(read.values) << form;
    }
}

// Version 3's album and values, byte by byte: the album as a text, the
// count (30) in one byte, each value in 16 bits little-endian.
TEST(VokidTrackRecord, AlbumAndValues)
{
    vokid::TrackInfo track;
    track.id = 9;
    track.path = "/a.mp3";
    track.album = "Album";
    track.algorithm = "Stream1";
    vokid::FileValues values{};
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<uint16_t>(i * 2185 + 1); // both bytes of each vary
    values[29] = 65535;
    track.values = values;
    const std::string bytes = vokid::encodeTrack(track);
    const std::string fields = bytes.substr(0, bytes.size() - 4);
    EXPECT_EQ(sealed(9, fields), bytes);
    std::string expected = little_endian(5, 4) + "Album" + std::string(1, '\x1e');
    for (uint16_t value : values)
        expected += little_endian(value, 2);
    ASSERT_GE(fields.size(), expected.size());
    EXPECT_EQ(expected, fields.substr(fields.size() - expected.size()));
    const vokid::TrackInfo read = vokid::decodeTrack(9, bytes);
    EXPECT_EQ("Album", read.album);
    ASSERT_TRUE(read.values);
    EXPECT_EQ(values, *read.values);
    EXPECT_EQ(bytes, vokid::encodeTrack(read));
}

TEST(VokidTrackRecord, Refusals)
{
    vokid::TrackInfo track;
    track.id = 42;
    track.path = "/a.wav";
    track.algorithm = "Stream1";
    track.words = 10;
    track.postings = 4;
    const std::string bytes = vokid::encodeTrack(track);
    const std::string fields = bytes.substr(0, bytes.size() - 4);
    std::string flipped = bytes;
    flipped[9] ^= 0x10;
    const std::string v1 = fields.substr(0, fields.size() - 5); // without album and values
    std::string huge = v1;
    huge[32] = '\xff'; // the algorithm's length
    vokid::TrackInfo more = track;
    more.postings = more.words + 1;
    const std::string moreFields = vokid::encodeTrack(more).substr(0, bytes.size() - 4);
    const struct {
        const char *name;
        uint32_t id;
        std::string bytes;
        uint32_t form;
        std::string message;
    } cases[] = {
        {"a flipped bit", 42, flipped, 2, "the index is damaged: track 42: its record fails its checksum"},
        {"another track's", 43, bytes, 2, "the index is damaged: track 43: its record fails its checksum"},
        {"one byte short", 42, bytes.substr(0, bytes.size() - 1), 2,
         "the index is damaged: track 42: its record fails its checksum"},
        {"one byte more", 42, bytes + "x", 2,
         "the index is damaged: track 42: its record fails its checksum"},
        {"no checksum", 42, "abc", 2, "the index is damaged: track 42: its record is cut short"},
        {"sealed but cut", 42, sealed(42, fields.substr(0, 20)), 3,
         "the index is damaged: track 42: its record is cut short"},
        {"sealed with more", 42, sealed(42, fields + "x"), 3,
         "the index is damaged: track 42: its record has 1 bytes too many"},
        {"sealed, too many postings", 42, sealed(42, moreFields), 3,
         "the index is damaged: track 42: its record has more postings than sub-fingerprints"},
        {"version 1 cut short", 1, v1.substr(0, v1.size() - 1), 1,
         "the index is damaged: track 1: its record is cut short"},
        {"version 1 with more", 1, v1 + "x", 1,
         "the index is damaged: track 1: its record has 1 bytes too many"},
        {"version 1 text too long", 1, huge, 1, "the index is damaged: track 1: its record is cut short"},
        {"version 3 read as 1", 42, bytes, 1,
         "the index is damaged: track 42: its record has 9 bytes too many"},
        {"version 2 read as 3", 42, sealed(42, v1), 3,
         "the index is damaged: track 42: its record is cut short"},
        {"29 values", 42, sealed(42, fields.substr(0, fields.size() - 1) + "\x1d" +
                                         std::string(58, '\0')), 3,
         "the index is damaged: track 42: its record has 29 file values, not 30"},
        {"30 values cut short", 42, sealed(42, fields.substr(0, fields.size() - 1) + "\x1e" +
                                                   std::string(59, '\0')), 3,
         "the index is damaged: track 42: its record is cut short"},
        {"30 values and more", 42, sealed(42, fields.substr(0, fields.size() - 1) + "\x1e" +
                                                  std::string(61, '\0')), 3,
         "the index is damaged: track 42: its record has 1 bytes too many"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.message, refusal([&] { vokid::decodeTrack(c.id, c.bytes, c.form); })) << c.name;
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
    const std::string bytes = vokid::encodeSequence(print, 9, 2);
    ASSERT_EQ(4u + 768 * 4 + 258 * 4 + 96 + 4, bytes.size());
    const std::string fields = bytes.substr(0, bytes.size() - 4);
    EXPECT_EQ(sealed(9, fields), bytes);
    EXPECT_EQ(bytes, vokid::encodeSequence(print, 9, 3)); // version 3's are version 2's
    EXPECT_EQ(fields, vokid::encodeSequence(print, 9, 1));
    EXPECT_EQ(little_endian(768, 4), bytes.substr(0, 4));
    EXPECT_EQ(little_endian(print.words[1], 4), bytes.substr(8, 4));
    EXPECT_EQ(little_endian(print.masks[0], 4), bytes.substr(4 + 768 * 4, 4));
    // The quiet bitmap: bit i % 8 of byte i / 8.
    for (size_t i = 0; i < 768; ++i)
        EXPECT_EQ(print.quiet[i], (bytes[4 + 768 * 4 + 258 * 4 + i / 8] >> (i % 8)) & 1) << i;
    for (const auto &[form, stored] : {std::pair<uint32_t, std::string>{2, bytes}, {1, fields}}) {
        const vokid::TrackPrint read = vokid::decodeSequence(stored, 9, form);
        EXPECT_EQ(print.words, read.words);
        EXPECT_EQ(print.masks, read.masks);
        EXPECT_EQ(print.quiet, read.quiet);
    }

    // Slices: each word with the kept mask of 3k for 3k, 3k + 1 and of
    // 3k + 3 for 3k + 2, within its block.
    const vokid::SequenceView view(bytes, 9, 2);
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
    const std::string bytes = vokid::encodeSequence(randomPrint(1, 2), 5, 2);
    const std::string fields = bytes.substr(0, bytes.size() - 4);
    std::string partBlock = fields;
    partBlock[0] = 100;
    partBlock[1] = 0;
    std::string none = fields;
    none[0] = 0;
    none[1] = 0;
    std::string flipped = bytes;
    flipped[700] ^= 1;
    const struct {
        const char *name;
        uint32_t id;
        std::string bytes;
        uint32_t form;
        std::string message;
    } cases[] = {
        {"a flipped bit", 5, flipped, 2, "its sequence fails its checksum"},
        {"another track's", 6, bytes, 2, "its sequence fails its checksum"},
        {"one byte short", 5, bytes.substr(0, bytes.size() - 1), 2, "its sequence fails its checksum"},
        {"empty", 5, "", 2, "its sequence is cut short"},
        {"sealed but cut", 5, sealed(5, fields.substr(0, fields.size() - 1)), 2,
         "its sequence of 256 sub-fingerprints has 1403 bytes instead of 1404"},
        {"sealed with more", 5, sealed(5, fields + "x"), 2,
         "its sequence of 256 sub-fingerprints has 1405 bytes instead of 1404"},
        {"sealed part of a block", 5, sealed(5, partBlock), 2,
         "its sequence holds 100 sub-fingerprints, not whole blocks"},
        {"version 1 empty", 5, "", 1, "its sequence is cut short"},
        {"version 1 cut short", 5, fields.substr(0, fields.size() - 1), 1,
         "its sequence of 256 sub-fingerprints has 1403 bytes instead of 1404"},
        {"version 1 no words", 5, none, 1,
         "its sequence holds 0 sub-fingerprints, not whole blocks"},
        {"version 2 read as 1", 5, bytes, 1,
         "its sequence of 256 sub-fingerprints has 1408 bytes instead of 1404"},
    };
    for (const auto &c : cases) {
        const std::string message = "the index is damaged: track " + std::to_string(c.id) + ": " + c.message;
        EXPECT_EQ(message, refusal([&] { vokid::decodeSequence(c.bytes, c.id, c.form); })) << c.name;
        EXPECT_EQ(message, refusal([&] { vokid::SequenceView(c.bytes, c.id, c.form); })) << c.name;
    }
}

} // namespace
