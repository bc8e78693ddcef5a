// Stored sequences in the packed form of format version 4: prints that
// take every code read back word for word, a small form written out bit
// by bit here, stretches equal to those of the plain form, refusals of
// damaged and of sealed but non-canonical forms, and the size of a print
// that changes as recordings do.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/bytes.h"
#include "tests/support/recording_print.h"
#include "vokid/index/index_error.h"
#include "vokid/index/track_print.h"

namespace {

using vok_test::bitwise_crc32;
using vok_test::little_endian;

constexpr uint32_t kPacked = 4;

template <class Work>
std::string refusal(Work work)
{
    try {
        work();
    } catch (const vokid::IndexError &error) {
        return error.what();
    }
    return "";
}

std::string sealed(uint32_t id, const std::string &fields)
{
    return fields + little_endian(bitwise_crc32(little_endian(id, 4) + fields), 4);
}

// A bit stream written here as '0' and '1' in the order of the stream,
// packed into bytes lowest bit first, zero bits to a whole byte.
struct Bits {
    std::string stream;

    Bits &code(const std::string &bits)
    {
        stream += bits;
        return *this;
    }
    // `value`'s low `count` bits, lowest first.
    Bits &field(uint64_t value, int count)
    {
        for (int i = 0; i < count; ++i)
            stream += (value >> i & 1) ? '1' : '0';
        return *this;
    }
    Bits &zeros(size_t count)
    {
        stream.append(count, '0');
        return *this;
    }
    std::string bytes() const
    {
        std::string out((stream.size() + 7) / 8, '\0');
        for (size_t i = 0; i < stream.size(); ++i)
            if (stream[i] == '1')
                out[i / 8] = static_cast<char>(out[i / 8] | 1 << (i % 8));
        return out;
    }
};

// A form's fields (without the checksum) from its blocks' bytes.
std::string packedFields(uint32_t count, const std::vector<std::string> &blocks)
{
    std::string table, body;
    for (const std::string &block : blocks) {
        table += little_endian(body.size(), 4);
        body += block;
    }
    return little_endian(count, 4) + table + body;
}

// The block of one word and one mask throughout, no quiet frame:
// 32 + 255 + 32 + 85 + 1 = 405 bits, 51 bytes.
Bits steadyBits(uint32_t word, uint32_t mask)
{
    Bits bits;
    bits.field(word, 32).zeros(255).field(mask, 32).zeros(85).code("0");
    return bits;
}

vokid::TrackPrint steadyPrint(size_t blocks, uint32_t word, uint32_t mask)
{
    vokid::TrackPrint print;
    print.words.assign(blocks * 256, word);
    print.masks.assign(blocks * 86, mask);
    print.quiet.assign(blocks * 256, 0);
    return print;
}

// Block b's words change by 0, 1, ..., 32 bits in turn (from b on), its
// kept masks by 0, 2, 4, 1, 3, 6, 32 bits; block b % 3 == 0 has no quiet
// frame, 1 some, 2 all.
vokid::TrackPrint everyCode(size_t blocks, uint32_t seed)
{
    std::mt19937 random(seed);
    const int maskChanges[] = {0, 2, 4, 1, 3, 6, 32};
    vokid::TrackPrint print;
    for (size_t b = 0; b < blocks; ++b) {
        uint32_t word = static_cast<uint32_t>(random());
        for (size_t i = 0; i < 256; ++i) {
            if (i > 0)
                word ^= vok_test::random_bits(random, static_cast<int>((b + i) % 33));
            print.words.push_back(word);
            print.quiet.push_back(b % 3 == 2 || (b % 3 == 1 && random() % 5 == 0));
        }
        uint32_t mask = static_cast<uint32_t>(random());
        for (size_t k = 0; k < 86; ++k) {
            if (k > 0)
                mask ^= vok_test::random_bits(random, maskChanges[(b + k) % 7]);
            print.masks.push_back(mask);
        }
    }
    return print;
}

// The packed form's size worked out from the codes' lengths.
size_t expectedSize(const vokid::TrackPrint &print)
{
    const size_t blocks = print.size() / 256;
    size_t bytes = 4 + 4 * blocks + 4;
    for (size_t b = 0; b < blocks; ++b) {
        size_t bits = 32 + 32 + 1;
        for (size_t i = 1; i < 256; ++i) {
            const int k = __builtin_popcount(print.words[b * 256 + i] ^ print.words[b * 256 + i - 1]);
            bits += k == 0 ? 1 : k < 4 ? k + 1 + 5 * k : 36;
        }
        for (size_t k = 1; k < 86; ++k) {
            const int n = __builtin_popcount(print.masks[b * 86 + k] ^ print.masks[b * 86 + k - 1]);
            bits += n == 0 ? 1 : n == 2 ? 12 : n == 4 ? 23 : 35;
        }
        if (std::any_of(print.quiet.begin() + static_cast<long>(b * 256),
                        print.quiet.begin() + static_cast<long>(b * 256 + 256), [](uint8_t q) { return q; }))
            bits += 256;
        bytes += (bits + 7) / 8;
    }
    return bytes;
}

TEST(VokidPackedSequence, EveryCodeReadBackWordForWord)
{
    for (size_t blocks : {1, 2, 3, 7}) {
        const vokid::TrackPrint print = everyCode(blocks, static_cast<uint32_t>(blocks));
        const std::string bytes = vokid::encodeSequence(print, 9, kPacked);
        EXPECT_EQ(expectedSize(print), bytes.size()) << blocks;
        EXPECT_EQ(little_endian(blocks * 256, 4), bytes.substr(0, 4));
        EXPECT_EQ(sealed(9, bytes.substr(0, bytes.size() - 4)), bytes);
        const vokid::TrackPrint read = vokid::decodeSequence(bytes, 9, kPacked);
        ASSERT_EQ(print.size(), read.size()) << blocks;
        for (size_t i = 0; i < print.size(); ++i) {
            ASSERT_EQ(print.words[i], read.words[i]) << blocks << " " << i;
            ASSERT_EQ(print.quiet[i], read.quiet[i]) << blocks << " " << i;
        }
        EXPECT_EQ(print.masks, read.masks) << blocks;
        EXPECT_EQ(bytes, vokid::encodeSequence(read, 9, kPacked));
        EXPECT_EQ(blocks * 256, vokid::SequenceView(bytes, 9, kPacked).size());
    }
    // Quiet flags other than 1 read back as 1; a print that is not whole
    // blocks is not written.
    vokid::TrackPrint loud = steadyPrint(1, 5, 6);
    loud.quiet[3] = 7;
    EXPECT_EQ(1, vokid::decodeSequence(vokid::encodeSequence(loud, 1, kPacked), 1, kPacked).quiet[3]);
    vokid::TrackPrint partial = steadyPrint(1, 5, 6);
    partial.masks.pop_back();
    for (uint32_t form : {3u, 4u}) {
        EXPECT_THROW(vokid::encodeSequence(partial, 1, form), std::invalid_argument);
        EXPECT_THROW(vokid::encodeSequence(vokid::TrackPrint{}, 1, form), std::invalid_argument);
    }
}

TEST(VokidPackedSequence, ExactBytesOfASmallPrint)
{
    // One block: words w0, the same, then changed by 1, 2, 3 and 4 bits,
    // then the same to the end; kept masks m0, the same, changed by 2, 4,
    // 3 and 6 bits, then the same; frames 3 and 255 quiet.
    vokid::TrackPrint print = steadyPrint(1, 0, 0);
    const uint32_t w[] = {0x12345678u, 0x12345678u, 0x12345658u, 0x92345659u, 0x92345657u,
                          0x62345657u};
    std::fill(print.words.begin(), print.words.end(), w[5]);
    std::copy(std::begin(w), std::end(w), print.words.begin());
    const uint32_t m[] = {0x00003FFFu, 0x00003FFFu, 0x00007FFEu, 0x0F007FFEu, 0x0F007FF9u,
                          0x0F007FC6u};
    std::fill(print.masks.begin(), print.masks.end(), m[5]);
    std::copy(std::begin(m), std::end(m), print.masks.begin());
    print.quiet[3] = print.quiet[255] = 1;

    Bits bits;
    bits.field(0x12345678u, 32)
        .code("0")
        .code("10").field(5, 5)
        .code("110").field(0, 5).field(31, 5)
        .code("1110").field(1, 5).field(2, 5).field(3, 5)
        .code("1111").field(0xF0000000u, 32)
        .zeros(250)
        .field(0x00003FFFu, 32)
        .code("0")
        .code("10").field(0, 5).field(14, 5)
        .code("110").field(24, 5).field(25, 5).field(26, 5).field(27, 5)
        .code("111").field(0x7u, 32)
        .code("111").field(0x3Fu, 32)
        .zeros(80)
        .code("1").zeros(3).code("1").zeros(251).code("1");
    ASSERT_EQ(32u + 1 + 7 + 13 + 19 + 36 + 250 + 32 + 1 + 12 + 23 + 35 + 35 + 80 + 257, bits.stream.size());
    const std::string expected = sealed(3, little_endian(256, 4) + little_endian(0, 4) + bits.bytes());
    const std::string bytes = vokid::encodeSequence(print, 3, kPacked);
    EXPECT_EQ(expected, bytes);
    // The first byte after word 0: 0, then 10 and 5 (10100).
    ASSERT_GT(bytes.size(), 12u);
    EXPECT_EQ("\x78\x56\x34\x12\x2A", bytes.substr(8, 5));
    EXPECT_EQ(4u + 4 + 105 + 4, bytes.size()); // 833 bits

    const vokid::TrackPrint read = vokid::decodeSequence(bytes, 3, kPacked);
    EXPECT_EQ(print.words, read.words);
    EXPECT_EQ(print.masks, read.masks);
    EXPECT_EQ(print.quiet, read.quiet);

    // Without quiet frames: a single 0 bit for them.
    print.quiet.assign(256, 0);
    bits.stream.resize(bits.stream.size() - 257);
    bits.code("0");
    EXPECT_EQ(sealed(3, little_endian(256, 4) + little_endian(0, 4) + bits.bytes()),
              vokid::encodeSequence(print, 3, kPacked));
}

TEST(VokidPackedSequence, SlicesAsThePlainForm)
{
    const vokid::TrackPrint print = everyCode(4, 11);
    const std::string packedBytes = vokid::encodeSequence(print, 2, kPacked);
    const vokid::SequenceView packed(packedBytes, 2, kPacked);
    const std::string plainBytes = vokid::encodeSequence(print, 2, 3);
    const vokid::SequenceView plain(plainBytes, 2, 3);
    const struct {
        int64_t from;
        size_t length;
    } cases[] = {
        {0, 256},    {256, 256},  {0, 1},     {255, 1},     {255, 2},   {256, 1},   {250, 300},
        {100, 700},  {0, 1024},   {-10, 20},  {-300, 400},  {1020, 20}, {1023, 1},  {1000, 10},
        {1024, 4},   {2000, 4},   {-50, 10},  {100, 0},     {-5, 2000}, {511, 258}, {767, 257},
    };
    for (const auto &c : cases) {
        int64_t packedFirst = -1, plainFirst = -2;
        const vokid::SubFingerprints got = packed.slice(c.from, c.length, packedFirst);
        const vokid::SubFingerprints want = plain.slice(c.from, c.length, plainFirst);
        EXPECT_EQ(plainFirst, packedFirst) << c.from << " " << c.length;
        EXPECT_EQ(want.words, got.words) << c.from << " " << c.length;
        EXPECT_EQ(want.weak, got.weak) << c.from << " " << c.length;
        EXPECT_EQ(want.quiet, got.quiet) << c.from << " " << c.length;
        EXPECT_EQ(want.frameSeconds, got.frameSeconds);
        EXPECT_EQ(want.blockLength, got.blockLength);
        // And as the print itself says.
        for (size_t j = 0; j < got.size(); ++j) {
            const size_t i = static_cast<size_t>(packedFirst) + j;
            ASSERT_EQ(print.words[i], got.words[j]) << i;
            ASSERT_EQ(print.weak(i), got.weak[j]) << i;
        }
    }
}

TEST(VokidPackedSequence, DamageRefused)
{
    const std::string bytes = vokid::encodeSequence(everyCode(1, 4), 5, kPacked);
    const std::string prefix = "the index is damaged: track 5: ";
    // Each length short of the whole.
    for (size_t size = 0; size < bytes.size(); ++size) {
        const std::string cut = bytes.substr(0, size);
        const std::string message =
            prefix + (size < 8 ? "its sequence is cut short" : "its sequence fails its checksum");
        ASSERT_EQ(message, refusal([&] { vokid::decodeSequence(cut, 5, kPacked); })) << size;
        ASSERT_EQ(message, refusal([&] { vokid::SequenceView(cut, 5, kPacked); })) << size;
    }
    // Each single bit flipped.
    for (size_t bit = 0; bit < 8 * bytes.size(); ++bit) {
        std::string flipped = bytes;
        flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ 1 << (bit % 8));
        ASSERT_EQ(prefix + "its sequence fails its checksum",
                  refusal([&] { vokid::decodeSequence(flipped, 5, kPacked); })) << bit;
    }
    EXPECT_EQ("the index is damaged: track 6: its sequence fails its checksum",
              refusal([&] { vokid::SequenceView(bytes, 6, kPacked); }));
    // The plain form read as packed (a block of zero bits, then more),
    // and the packed as plain.
    const std::string plain = vokid::encodeSequence(steadyPrint(1, 0, 0), 5, 3);
    EXPECT_EQ(prefix + "its sequence's block 0 ends before the sequence does",
              refusal([&] { vokid::decodeSequence(plain, 5, kPacked); }));
    EXPECT_EQ(prefix + "its sequence of 256 sub-fingerprints has " + std::to_string(bytes.size() - 4) +
                  " bytes instead of 1404",
              refusal([&] { vokid::decodeSequence(bytes, 5, 3); }));
}

TEST(VokidPackedSequence, NonCanonicalFormsRefused)
{
    const uint32_t w = 0x0F0F0F0Fu, m = 0x00003FFFu;
    const std::string steady = steadyBits(w, m).bytes();
    ASSERT_EQ(51u, steady.size());
    ASSERT_EQ(sealed(8, packedFields(256, {steady})), vokid::encodeSequence(steadyPrint(1, w, m), 8, kPacked));
    ASSERT_EQ(sealed(8, packedFields(512, {steady, steady})),
              vokid::encodeSequence(steadyPrint(2, w, m), 8, kPacked));

    // A block from its codes: word 0, then `words` codes and unchanged
    // words to 255; kept mask 0, then `masks` codes and unchanged to 85;
    // `quiet`; `padding` after the bits the block takes.
    const auto block = [&](const std::string &words, size_t wordCodes, const std::string &masks,
                           size_t maskCodes, const std::string &quiet = "0", const std::string &padding = "") {
        Bits bits;
        bits.field(w, 32).code(words).zeros(255 - wordCodes).field(m, 32).code(masks).zeros(85 - maskCodes).code(quiet);
        bits.zeros((8 - bits.stream.size() % 8) % 8 - padding.size()).code(padding);
        return bits.bytes();
    };
    const auto raw = [](uint32_t value) { return Bits().field(value, 32).stream; };
    const auto at = [](std::initializer_list<int> positions) {
        Bits bits;
        for (int p : positions)
            bits.field(static_cast<uint64_t>(p), 5);
        return bits.stream;
    };
    // The helper writes the steady block as the encoder does.
    ASSERT_EQ(steady, block("", 0, "", 0));
    std::string quietNone = block("", 0, "", 0, "1" + std::string(256, '0'));

    std::string twoBlocks = packedFields(512, {steady, steady});
    std::string badFirst = twoBlocks, sameOffsets = twoBlocks, pastEnd = twoBlocks, late = twoBlocks,
                early = twoBlocks;
    badFirst[4] = 1;
    sameOffsets[8] = 0;
    pastEnd[8] = static_cast<char>(102);
    late[8] = 52;
    early[8] = 50;
    // Damage found in a block (`message` ""): in block 1 after a sound
    // block 0, which reads on, unless `cleanFrom` is -1.
    const auto after = [&](const std::string &damagedBlock) {
        return packedFields(512, {steady, damagedBlock});
    };
    const struct {
        const char *name;
        std::string fields;
        std::string message;      // of the view's making
        std::string blockMessage; // of a slice from `damagedFrom`
        int64_t damagedFrom;
        int64_t cleanFrom;
    } cases[] = {
        {"a word's change of 1 bit raw", after(block("1111" + raw(1u << 9), 1, "", 0)), "",
         "its sequence's block 1 codes a word's change raw that has a shorter code", 256, 0},
        {"a word's change of 3 bits raw", after(block("1111" + raw(0x7u), 1, "", 0)), "",
         "its sequence's block 1 codes a word's change raw that has a shorter code", 300, 0},
        {"a word's change of 0 bits raw", after(block("1111" + raw(0), 1, "", 0)), "",
         "its sequence's block 1 codes a word's change raw that has a shorter code", 511, 0},
        {"a mask's change of 2 bits raw", after(block("", 0, "111" + raw(0x11u), 1)), "",
         "its sequence's block 1 codes a mask's change raw that has a shorter code", 256, 0},
        {"a mask's change of 4 bits raw", after(block("", 0, "111" + raw(0xF0u), 1)), "",
         "its sequence's block 1 codes a mask's change raw that has a shorter code", 256, 0},
        {"a mask's change of 0 bits raw", after(block("", 0, "111" + raw(0), 1)), "",
         "its sequence's block 1 codes a mask's change raw that has a shorter code", 256, 0},
        {"word positions descending", after(block("110" + at({7, 3}), 1, "", 0)), "",
         "its sequence's block 1 has bit positions out of order", 256, 0},
        {"word positions repeated", after(block("1110" + at({1, 4, 4}), 1, "", 0)), "",
         "its sequence's block 1 has bit positions out of order", 256, 0},
        {"mask positions descending", after(block("", 0, "110" + at({1, 2, 9, 8}), 1)), "",
         "its sequence's block 1 has bit positions out of order", 256, 0},
        {"padding's last bit set", after(block("", 0, "", 0, "0", "1")), "",
         "its sequence's block 1 has padding bits set", 256, 0},
        {"padding's first bit set", after(block("", 0, "", 0, "0", "100")), "",
         "its sequence's block 1 has padding bits set", 256, 0},
        {"quiet with none quiet", after(quietNone), "",
         "its sequence's block 1 marks quiet frames but has none", 256, 0},
        {"a byte more at the end", after(steady + '\0'), "",
         "its sequence's block 1 ends before the sequence does", 256, 0},
        {"codes cut short", after(steady.substr(0, 50) + "\xFF"), "",
         "its sequence's block 1 is cut short", 256, 0},
        {"a block's offset late", late, "", "its sequence's block 0 ends before the next begins", 0, -1},
        {"a block's offset early", early, "", "its sequence's block 0 is cut short", 0, -1},
        {"a byte less", packedFields(256, {steady.substr(0, 50)}),
         "its sequence of 256 sub-fingerprints cannot fit in 58 bytes", "", 0, -1},
        {"first block after the table", badFirst,
         "its sequence's first block does not begin after its table", "", 0, -1},
        {"offsets the same", sameOffsets, "its sequence's block offsets do not ascend", "", 0, -1},
        {"an offset past the end", pastEnd, "its sequence's block 1 begins past its end", "", 0, -1},
        {"not whole blocks", packedFields(255, {steady}),
         "its sequence holds 255 sub-fingerprints, not whole blocks", "", 0, -1},
        {"no blocks", packedFields(0, {}), "its sequence holds 0 sub-fingerprints, not whole blocks", "",
         0, -1},
        {"more blocks than bytes", packedFields(256 * 3, {steady, steady}),
         "its sequence of 768 sub-fingerprints cannot fit in 114 bytes", "", 0, -1},
        {"a count of 2^32 - 256", packedFields(0xFFFFFF00u, {steady}),
         "its sequence of 4294967040 sub-fingerprints cannot fit in 59 bytes", "", 0, -1},
        {"no count", "", "its sequence is cut short", "", 0, -1},
    };
    const std::string prefix = "the index is damaged: track 8: ";
    for (const auto &c : cases) {
        const std::string stored = sealed(8, c.fields);
        const std::string message = prefix + (c.message.empty() ? c.blockMessage : c.message);
        EXPECT_EQ(message, refusal([&] { vokid::decodeSequence(stored, 8, kPacked); })) << c.name;
        EXPECT_EQ(c.message.empty() ? "" : message, refusal([&] { vokid::SequenceView(stored, 8, kPacked); }))
            << c.name;
        if (!c.message.empty())
            continue;
        const vokid::SequenceView view(stored, 8, kPacked);
        int64_t first = 0;
        EXPECT_EQ(message, refusal([&] { view.slice(c.damagedFrom, 1, first); })) << c.name;
        EXPECT_EQ(message, refusal([&] { view.slice(c.damagedFrom - 10, 20, first); })) << c.name;
        if (c.cleanFrom >= 0) {
            EXPECT_EQ("", refusal([&] { view.slice(c.cleanFrom, 256, first); })) << c.name;
            EXPECT_EQ(steadyPrint(1, w, m).words, view.slice(c.cleanFrom, 256, first).words) << c.name;
        }
    }
}

TEST(VokidPackedSequence, UnderTwoAndAHalfBytesASubFingerprint)
{
    const vokid::TrackPrint print = vok_test::print_like_a_recording(60, 21);
    for (uint32_t mask : print.masks)
        ASSERT_EQ(14, __builtin_popcount(mask));
    const std::string bytes = vokid::encodeSequence(print, 1, kPacked);
    EXPECT_EQ(expectedSize(print), bytes.size());
    const double perWord = static_cast<double>(bytes.size()) / static_cast<double>(print.size());
    RecordProperty("bytes_per_sub_fingerprint", std::to_string(perWord));
    EXPECT_LT(perWord, 2.5);
    EXPECT_GT(perWord, 1.5); // the changes are not all small
    const vokid::TrackPrint read = vokid::decodeSequence(bytes, 1, kPacked);
    EXPECT_EQ(print.words, read.words);
    EXPECT_EQ(print.masks, read.masks);
    EXPECT_EQ(print.quiet, read.quiet);
}

} // namespace
