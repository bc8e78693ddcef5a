// Reading blocks back: the BASE64 decoder and the block decoder against the
// tests' own decoders (stream_decoding.h) on what the engine's encoders
// write, every refusal with the place it names, the quiet-frame generator
// run from its seed, and the grid.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "algo/stream/b64.h"
#include "algo/stream/bw.h"
#include "algo/stream/strm_internal.h"
#include "engine/eng_memory.h"
#include "tests/libvok/algo/stream/stream_decoding.h"
#include "tests/support/alloc_faults.h"

namespace {

struct Block {
    std::vector<uint32_t> words;
    std::vector<uint32_t> kept;
};

Block patterned(const std::string &kind)
{
    std::mt19937 random(7);
    Block block{std::vector<uint32_t>(256), std::vector<uint32_t>(BW_KEPT_MASKS)};
    for (size_t i = 0; i < 256; ++i)
        block.words[i] = kind == "equal"      ? 0x12345678u
                         : kind == "extremes" ? (i % 2 ? 0xFFFFFFFFu : 0u)
                                              : static_cast<uint32_t>(random());
    for (uint32_t &mask : block.kept)
        mask = kind == "equal" ? 0xFFFC0000u : static_cast<uint32_t>(random());
    return block;
}

// A block as a handle finishes it.
std::vector<uint8_t> engine_bytes(const Block &block)
{
    std::vector<uint8_t> bytes(STRM_ENCODED_CAPACITY);
    BitWriter writer{};
    writer.codes = bw_byte_codes();
    const int32_t size =
        strm_encode_block(&writer, block.words.data(), block.kept.data(), bytes.data());
    bytes.resize(static_cast<size_t>(size));
    return bytes;
}

class BlockDecoding : public ::testing::TestWithParam<const char *> {};

TEST_P(BlockDecoding, ReadsWhatTheEncoderWroteAsTheTestsDecoderDoes)
{
    const Block block = patterned(GetParam());
    const std::vector<uint8_t> bytes = engine_bytes(block);
    const stream_test::DecodedBlock expected = stream_test::decode_block(bytes);
    std::vector<uint32_t> words(256), kept(BW_KEPT_MASKS);
    ASSERT_EQ(ENG_OK, bw_decode_block(bytes.data(), static_cast<uint32_t>(bytes.size()),
                                      words.data(), kept.data(), nullptr));
    EXPECT_EQ(block.words, words);
    EXPECT_EQ(block.kept, kept);
    EXPECT_EQ(expected.words, words);
    EXPECT_EQ(expected.masks, kept);
}

// Each damage: the fault, its byte offset and index.
TEST_P(BlockDecoding, RefusesAnyOtherLengthOrPaddingSayingWhere)
{
    const std::vector<uint8_t> bytes = engine_bytes(patterned(GetParam()));
    const uint32_t size = static_cast<uint32_t>(bytes.size());
    const size_t bits = stream_test::decode_block(bytes).bits;
    // The top bit of the last byte is padding unless the codes fill it.
    std::vector<uint8_t> padded = bytes;
    padded.back() |= static_cast<uint8_t>(bits % 8 ? 0x80u : 0u);
    padded.resize(bits % 8 ? size : 0);
    const struct {
        std::vector<uint8_t> bytes;
        uint8_t fault;
        uint32_t offset, index;
    } cases[] = {
        {{}, BW_FAULT_ENDS_IN_WORD, 0, 0},
        {{bytes.begin(), bytes.begin() + 3}, BW_FAULT_ENDS_IN_WORD, 0, 0},
        {{bytes.begin(), bytes.end() - 1}, BW_FAULT_ENDS_IN_MASK, 0, 0},
        {[&] {
             auto b = bytes;
             b.push_back(0);
             return b;
         }(),
         BW_FAULT_TRAILING, size, 1},
        {[&] {
             auto b = bytes;
             b.resize(size + 2);
             return b;
         }(),
         BW_FAULT_TRAILING, size, 2},
        {padded, static_cast<uint8_t>(padded.empty() ? BW_FAULT_ENDS_IN_WORD : BW_FAULT_PADDING),
         padded.empty() ? 0 : size - 1, 0},
    };
    for (const auto &c : cases) {
        BlockRead read;
        const uint8_t none = 0;
        const uint8_t *data = c.bytes.empty() ? &none : c.bytes.data();
        ASSERT_EQ(STRM_E_BAD_DOCUMENT,
                  bw_read_block(data, static_cast<uint32_t>(c.bytes.size()), &read));
        EXPECT_EQ(c.fault, read.fault) << c.bytes.size();
        if (c.fault == BW_FAULT_ENDS_IN_MASK) // in one of the last masks, wherever it began
            continue;
        EXPECT_EQ(c.index, read.fault_index) << c.bytes.size();
        EXPECT_EQ(c.offset, read.fault_offset) << c.bytes.size();
    }
    uint32_t offset = 0;
    std::vector<uint32_t> words(256), kept(BW_KEPT_MASKS);
    EXPECT_EQ(STRM_E_BAD_DOCUMENT,
              bw_decode_block(bytes.data(), 3, words.data(), kept.data(), &offset));
    EXPECT_EQ(0u, offset);
}

INSTANTIATE_TEST_SUITE_P(Patterns, BlockDecoding, ::testing::Values("equal", "random", "extremes"));

TEST(Base64Decoding, ReadsBackWhatTheEncoderWrote)
{
    vok_test::start_memory_layer();
    std::mt19937 random(3);
    for (uint32_t count = 0; count < 40; ++count) {
        std::vector<uint8_t> bytes(count);
        for (uint8_t &b : bytes)
            b = static_cast<uint8_t>(random());
        char *text = nullptr;
        uint32_t length = 0;
        const uint8_t none = 0;
        ASSERT_EQ(ENG_OK, b64_encode(count ? bytes.data() : &none, count, &text, &length, 0));
        uint8_t *decoded = nullptr;
        uint32_t size = 0;
        B64Fault fault{};
        ASSERT_EQ(ENG_OK, b64_decode(text, length, &decoded, &size, &fault));
        EXPECT_EQ(bytes, std::vector<uint8_t>(decoded, decoded + size));
        EXPECT_EQ(stream_test::base64_decode(std::string(text, length)), bytes);
        eng_free(text);
        eng_free(decoded);
    }
}

TEST(Base64Decoding, RefusesAllButTheCanonicalText)
{
    vok_test::start_memory_layer();
    const struct {
        const char *text;
        uint8_t fault;
        uint32_t offset;
    } cases[] = {
        {"+/8AEA=", B64_FAULT_LENGTH, 7},       {"+/8A*A==", B64_FAULT_CHARACTER, 4},
        {"+/8A EA=", B64_FAULT_CHARACTER, 4},   {"+/=AEA==", B64_FAULT_CHARACTER, 2},
        {"+/8AEB==", B64_FAULT_UNUSED_BITS, 5}, {"+/8AEAB=", B64_FAULT_UNUSED_BITS, 6},
        {"Zg=\n", B64_FAULT_CHARACTER, 2},      {"A===", B64_FAULT_CHARACTER, 1},
        {"====", B64_FAULT_CHARACTER, 0},       {"Zm9v\n", B64_FAULT_LENGTH, 5},
        {"-_==", B64_FAULT_CHARACTER, 0},
    };
    for (const auto &c : cases) {
        uint8_t *bytes = nullptr;
        uint32_t size = 0;
        B64Fault fault{};
        const int64_t live = eng_mem_live_blocks();
        EXPECT_EQ(B64_E_BAD_DOCUMENT,
                  b64_decode(c.text, static_cast<uint32_t>(strlen(c.text)), &bytes, &size, &fault))
            << c.text;
        EXPECT_EQ(c.fault, fault.kind) << c.text;
        EXPECT_EQ(c.offset, fault.offset) << c.text;
        EXPECT_EQ(live, eng_mem_live_blocks());
    }
    uint8_t *bytes = nullptr;
    uint32_t size = 0;
    B64Fault fault{};
    EXPECT_EQ(B64_E_INVALID_ARG, b64_decode(nullptr, 0, &bytes, &size, &fault));
    EXPECT_EQ(B64_E_INVALID_ARG, b64_decode("", 0, &bytes, &size, nullptr));
}

TEST(QuietFrames, AreTheGeneratorsWordsInOrder)
{
    StreamRandom random; // a record of the test's own, from the seed
    strm_random_start(&random);
    const uint32_t g1 = strm_random_next(&random), g2 = strm_random_next(&random),
                   g3 = strm_random_next(&random);
    EXPECT_EQ(0xff7efd75u, g1);
    EXPECT_EQ(0xa3b1211eu, g2);
    EXPECT_EQ(0x692d3c0bu, g3);
    const uint32_t x = 0x0F0F0F0Fu;
    const struct {
        std::vector<uint32_t> words;
        std::vector<uint8_t> quiet;
    } cases[] = {
        {{g1, g2, x, g3}, {1, 1, 0, 1}},
        {{x, g2, g3, x}, {0, 1, 1, 0}},  // the dropped first frame took g1
        {{x, g3, g1, g3}, {0, 0, 1, 0}}, // out of order: not the generator's
        {{g2, g2, g3}, {1, 0, 1}},
        {{x, x}, {0, 0}},
        {{}, {}},
    };
    for (const auto &c : cases) {
        std::vector<uint8_t> quiet(c.words.size(), 9);
        strm_mark_quiet(c.words.data(), c.words.size(), quiet.data());
        EXPECT_EQ(c.quiet, quiet);
    }
}

TEST(StreamGrid, HopAndFirstWindowEndForEachBlockLength)
{
    double frame = 0, first = 0;
    ASSERT_EQ(ENG_OK, strm_grid(3, &frame, &first));
    EXPECT_DOUBLE_EQ(64 / 5512.5, frame);
    EXPECT_DOUBLE_EQ(2112 / 5512.5, first);
    ASSERT_EQ(ENG_OK, strm_grid(6, &frame, &first));
    EXPECT_DOUBLE_EQ(128 / 5512.5, frame);
    EXPECT_DOUBLE_EQ(4224 / 5512.5, first);
    EXPECT_EQ(STRM_E_INVALID_ARG, strm_grid(4, &frame, &first));
    EXPECT_EQ(STRM_E_INVALID_ARG, strm_grid(3, nullptr, &first));
}

} // namespace
