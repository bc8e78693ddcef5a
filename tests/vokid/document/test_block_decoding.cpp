// vokid's reading of blocks: its copy of the byte code against the
// engine's, blocks written by the engine's own bit writer decoded back,
// the exact length and the padding, BASE64, and the generator that marks
// quiet frames.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "algo/stream/bw.h"
#include "tests/libvok/algo/stream/stream_decoding.h"
#include "vokid/document/base64.h"
#include "vokid/document/block_decoder.h"
#include "vokid/document/byte_code.h"
#include "vokid/document/quiet_frames.h"

namespace {

using vokid::kBlockWords;
using vokid::kKeptMasks;

TEST(VokidByteCode, IsTheEnginesCode)
{
    const ByteCode *engine = bw_byte_codes();
    for (unsigned byte = 0; byte < 256; ++byte) {
        EXPECT_EQ(engine[byte].code, vokid::byteCode()[byte].code) << byte;
        EXPECT_EQ(engine[byte].length, vokid::byteCode()[byte].length) << byte;
    }
}

TEST(VokidByteCode, EveryBitStringStartsWithTheCodeItIsReadAs)
{
    const auto &lookup = vokid::byteCodeLookup();
    for (uint32_t bits = 0; bits < lookup.size(); ++bits) {
        const vokid::CodeMatch match = lookup[bits];
        const vokid::ByteCodeEntry entry = vokid::byteCode()[match.byte];
        ASSERT_EQ(entry.length, match.length) << bits;
        ASSERT_EQ(entry.code, bits & ((1u << entry.length) - 1u)) << bits;
    }
}

struct Block {
    std::vector<uint32_t> words;
    std::vector<uint32_t> masks;
};

// A block as the engine writes it: both runs through its bit writer, the
// masks right after the sub-fingerprints.
std::vector<uint8_t> engineBytes(const Block &block, size_t *maskStart = nullptr)
{
    std::vector<uint8_t> buffer(4096, 0);
    BitWriter writer{};
    writer.codes = bw_byte_codes();
    bw_reset(&writer);
    const int32_t wordBits =
        bw_encode_words(&writer, block.words.data(), kBlockWords, buffer.data(), 0);
    bw_reset(&writer);
    const int32_t maskBits =
        bw_encode_words(&writer, block.masks.data(), kKeptMasks, buffer.data(), wordBits);
    if (maskStart)
        *maskStart = static_cast<size_t>(wordBits) / 8;
    buffer.resize(static_cast<size_t>(wordBits + maskBits + 7) / 8);
    return buffer;
}

Block patterned(const char *pattern)
{
    std::mt19937 random(7);
    Block block{std::vector<uint32_t>(kBlockWords), std::vector<uint32_t>(kKeptMasks)};
    const std::string kind = pattern;
    for (size_t i = 0; i < kBlockWords; ++i)
        block.words[i] = kind == "equal"      ? 0x12345678u
                         : kind == "extremes" ? (i % 2 ? 0xFFFFFFFFu : 0u)
                                              : static_cast<uint32_t>(random());
    for (size_t m = 0; m < kKeptMasks; ++m)
        block.masks[m] = kind == "equal" ? 0xFFFC0000u : static_cast<uint32_t>(random());
    return block;
}

class VokidBlocks : public ::testing::TestWithParam<const char *> {};

TEST_P(VokidBlocks, DecodeToWhatTheEngineWrote)
{
    const Block block = patterned(GetParam());
    const std::vector<uint8_t> bytes = engineBytes(block);
    const vokid::DecodedBlock decoded = vokid::decodeBlock(bytes.data(), bytes.size());
    EXPECT_EQ(block.words, std::vector<uint32_t>(decoded.words.begin(), decoded.words.end()));
    EXPECT_EQ(block.masks, std::vector<uint32_t>(decoded.masks.begin(), decoded.masks.end()));
    if (std::string(GetParam()) == "equal") {
        EXPECT_EQ(178u, bytes.size()); // 32 + 255 x 4 + 32 + 85 x 4 bits
    }
}

TEST_P(VokidBlocks, MustHaveTheirExactLengthAndZeroPadding)
{
    std::vector<uint8_t> bytes = engineBytes(patterned(GetParam()));
    const size_t size = bytes.size();
    const auto refusal = [](const std::vector<uint8_t> &block) {
        try {
            vokid::decodeBlock(block.data(), block.size());
        } catch (const vokid::BlockError &error) {
            return std::to_string(error.byteOffset()) + ": " + error.what();
        }
        return std::string("accepted");
    };
    std::vector<uint8_t> longer = bytes;
    longer.push_back(0);
    EXPECT_EQ(std::to_string(size) + ": 1 byte follows the block's last code", refusal(longer));
    longer.push_back(0);
    EXPECT_EQ(std::to_string(size) + ": 2 bytes follow the block's last code", refusal(longer));
    EXPECT_EQ("0: the block ends inside sub-fingerprint 0",
              refusal(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 3)));
    // Cut inside the last mask: wherever its codes began, the message says
    // the block ends inside it.
    const std::string cut = refusal(std::vector<uint8_t>(bytes.begin(), bytes.end() - 1));
    EXPECT_NE(std::string::npos,
              cut.find(": the block ends inside the kept mask of sub-fingerprint"))
        << cut;
    // Any set bit in the padding, found by the engine tests' decoder.
    for (size_t bit = stream_test::decode_block(bytes).bits; bit < 8 * size; ++bit) {
        std::vector<uint8_t> padded = bytes;
        padded.back() |= static_cast<uint8_t>(1u << (bit % 8));
        EXPECT_EQ(std::to_string(size - 1) +
                      ": the padding after the block's last code is not zero",
                  refusal(padded));
    }
}

INSTANTIATE_TEST_SUITE_P(Patterns, VokidBlocks, ::testing::Values("equal", "random", "extremes"));

TEST(VokidBase64, ReadsOnlyCanonicalText)
{
    const std::vector<uint8_t> bytes = {0xFB, 0xFF, 0x00, 0x10};
    EXPECT_EQ("+/8AEA==", vokid::encodeBase64(bytes.data(), bytes.size()));
    EXPECT_EQ(bytes, vokid::decodeBase64("+/8AEA=="));
    const std::pair<const char *, const char *> refused[] = {
        {"+/8AEA=", "BASE64 text of 7 characters, not a multiple of 4"},
        {"+/8A*A==", "BASE64 character 5 ('*') is not in the alphabet"},
        {"+/8A EA=", "BASE64 character 5 (byte 32) is not in the alphabet"},
        {"+/=AEA==", "BASE64 character 3 ('=') is not in the alphabet"},
        {"+/8AEB==", "BASE64 character 6 ('B') has bits set that no byte uses"},
    };
    for (const auto &[text, message] : refused) {
        try {
            vokid::decodeBase64(text);
            ADD_FAILURE() << text << " was accepted";
        } catch (const vokid::Base64Error &error) {
            EXPECT_STREQ(message, error.what()) << text;
        }
    }
}

TEST(VokidQuietFrames, GeneratorStartsWithTheKnownWords)
{
    vokid::QuietWordGenerator generator;
    for (uint32_t word : {0xff7efd75u, 0xa3b1211eu, 0x692d3c0bu, 0x74661460u})
        EXPECT_EQ(word, generator.next());
}

TEST(VokidQuietFrames, AreTheGeneratorsWordsInOrder)
{
    vokid::QuietWordGenerator generator;
    const uint32_t g1 = generator.next(), g2 = generator.next(), g3 = generator.next();
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
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.quiet, vokid::markQuietFrames(c.words));
}

} // namespace
