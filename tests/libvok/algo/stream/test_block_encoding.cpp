// Block encoding: the byte-code table, the bit writer, block finishing and
// BASE64, checked with the test's own decoders.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
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

using stream_test::base64_decode;
using stream_test::decode_block;

TEST(ByteCodeTable, IsACompletePrefixCodeWithTheKnownLengths)
{
    const ByteCode *codes = bw_byte_codes();
    // Kraft sum exactly 1, in units of 2^-16.
    uint64_t kraft = 0;
    std::map<int, int> histogram;
    for (int b = 0; b < 256; ++b) {
        ASSERT_GE(codes[b].length, 1);
        ASSERT_LE(codes[b].length, 16);
        ASSERT_LT(codes[b].code, 1u << codes[b].length) << b;
        kraft += 1u << (16 - codes[b].length);
        histogram[codes[b].length] += 1;
    }
    EXPECT_EQ(65536u, kraft);
    const std::map<int, int> expected = {{1, 1},   {4, 3},   {5, 5},   {7, 7},   {8, 13},
                                         {9, 8},   {10, 6},  {11, 30}, {12, 25}, {13, 28},
                                         {14, 49}, {15, 59}, {16, 22}};
    EXPECT_EQ(expected, histogram);
    // Prefix-free read least significant bit first: no code is the low bits
    // of another.
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            if (a == b || codes[a].length > codes[b].length)
                continue;
            const uint32_t low = codes[b].code & ((1u << codes[a].length) - 1u);
            ASSERT_FALSE(low == codes[a].code) << a << " is a prefix of " << b;
        }
    }
    // A few entries of the fixed code, pinned.
    EXPECT_EQ(1, codes[0x00].code);
    EXPECT_EQ(1, codes[0x00].length);
    EXPECT_EQ(0x4a, codes[0x07].code);
    EXPECT_EQ(10, codes[0x07].length);
    EXPECT_EQ(0xbbca, codes[0x3f].code);
    EXPECT_EQ(16, codes[0x3f].length);
    EXPECT_EQ(0x4, codes[0x80].code);
    EXPECT_EQ(4, codes[0x80].length);
    EXPECT_EQ(0xcfc, codes[0xff].code);
    EXPECT_EQ(15, codes[0xff].length);
}

// Runs the encoder the way block finishing does, into a fresh buffer.
std::vector<uint8_t> encode_block(const std::vector<uint32_t> &words,
                                  const std::vector<uint32_t> &masks, int32_t *bits_a,
                                  int32_t *bits_b)
{
    std::vector<uint8_t> buffer(STRM_ENCODED_CAPACITY, 0xA5);
    BitWriter writer = {};
    writer.codes = bw_byte_codes();
    bw_reset(&writer);
    *bits_a = bw_encode_words(&writer, words.data(), static_cast<int32_t>(words.size()),
                              buffer.data(), 0);
    bw_reset(&writer);
    *bits_b = bw_encode_words(&writer, masks.data(), static_cast<int32_t>(masks.size()),
                              buffer.data(), *bits_a);
    buffer.resize(static_cast<size_t>((*bits_a + *bits_b + 7) / 8));
    return buffer;
}

TEST(BitWriter, EqualWordsCostOneBitPerByte)
{
    const std::vector<uint32_t> words(256, 0xDEADBEEFu);
    const std::vector<uint32_t> masks(86, 0xFFFC0000u);
    int32_t bits_a = 0, bits_b = 0;
    const std::vector<uint8_t> bytes = encode_block(words, masks, &bits_a, &bits_b);
    EXPECT_EQ(32 + 255 * 4, bits_a);
    EXPECT_EQ(32 + 85 * 4, bits_b);
    ASSERT_EQ(178u, bytes.size()); // 1424 bits
    // Word 0 raw, least significant byte first.
    EXPECT_EQ(0xEF, bytes[0]);
    EXPECT_EQ(0xDE, bytes[3]);
    // 1020 one-bit codes for byte 0 (code 1): all ones.
    EXPECT_EQ(0xFF, bytes[4]);
    // The masks start at bit 1052, inside byte 131 (bit 4).
    EXPECT_EQ(0x0F, bytes[131] & 0x0F);
    const auto decoded = decode_block(bytes);
    EXPECT_EQ(words, decoded.words);
    EXPECT_EQ(masks, decoded.masks);
    EXPECT_EQ(1424u, decoded.bits);
}

TEST(BitWriter, RandomBlocksRoundTrip)
{
    std::mt19937 gen(2024);
    for (int trial = 0; trial < 20; ++trial) {
        std::vector<uint32_t> words(256), masks(86);
        uint32_t w = gen();
        for (auto &v : words) {
            // Mostly a few flipped bits, sometimes anything.
            w ^= trial % 4 == 0 ? gen() : (1u << (gen() % 32)) | (1u << (gen() % 32));
            v = w;
        }
        for (auto &m : masks)
            m = gen();
        int32_t bits_a = 0, bits_b = 0;
        const std::vector<uint8_t> bytes = encode_block(words, masks, &bits_a, &bits_b);
        ASSERT_LE(bytes.size(), 2728u);
        const auto decoded = decode_block(bytes);
        EXPECT_EQ(words, decoded.words) << trial;
        EXPECT_EQ(masks, decoded.masks) << trial;
        EXPECT_EQ(static_cast<size_t>(bits_a + bits_b), decoded.bits);
    }
}

TEST(BitWriter, WorstCaseBlockFitsTheBuffer)
{
    // Find the byte with the longest code and alternate with its XOR.
    const ByteCode *codes = bw_byte_codes();
    int longest = 0;
    for (int b = 0; b < 256; ++b)
        if (codes[b].length > codes[longest].length)
            longest = b;
    const uint32_t x = static_cast<uint32_t>(longest) * 0x01010101u;
    std::vector<uint32_t> words(256), masks(86);
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = i % 2 ? x : 0;
    for (size_t i = 0; i < masks.size(); ++i)
        masks[i] = i % 2 ? x : 0;
    int32_t bits_a = 0, bits_b = 0;
    const std::vector<uint8_t> bytes = encode_block(words, masks, &bits_a, &bits_b);
    EXPECT_EQ(21824u, static_cast<uint32_t>(bits_a + bits_b));
    EXPECT_EQ(2728u, bytes.size());
    EXPECT_EQ(words, decode_block(bytes).words);
}

TEST(BitWriter, KeepsTheBitsBeforeTheOffsetAndCountsZeroWords)
{
    uint8_t buffer[16];
    std::memset(buffer, 0xFF, sizeof(buffer));
    BitWriter writer = {};
    writer.codes = bw_byte_codes();
    bw_reset(&writer);
    EXPECT_EQ(0, bw_encode_words(&writer, nullptr, 0, buffer, 3));
    const uint32_t word = 0;
    EXPECT_EQ(32, bw_encode_words(&writer, &word, 1, buffer, 11));
    EXPECT_EQ(0xFF, buffer[0]);
    EXPECT_EQ(0x07, buffer[1]); // bits 8..10 kept, the word's zeros from bit 11
    EXPECT_EQ(0x00, buffer[4]);
    EXPECT_EQ(0x00, buffer[5] & 0x07); // the word ends at bit 43
}

struct Rfc4648Case {
    const char *plain;
    const char *encoded;
};

TEST(Base64, MatchesTheRfc4648TestVectors)
{
    vok_test::start_memory_layer();
    const Rfc4648Case cases[] = {{"", ""},
                                 {"f", "Zg=="},
                                 {"fo", "Zm8="},
                                 {"foo", "Zm9v"},
                                 {"foob", "Zm9vYg=="},
                                 {"fooba", "Zm9vYmE="},
                                 {"foobar", "Zm9vYmFy"}};
    for (const auto &c : cases) {
        char *text = nullptr;
        uint32_t length = 0;
        const auto *bytes = reinterpret_cast<const uint8_t *>(c.plain);
        const uint32_t count = static_cast<uint32_t>(std::strlen(c.plain));
        ASSERT_EQ(ENG_OK, b64_encode(bytes, count, &text, &length, 1));
        EXPECT_STREQ(c.encoded, text);
        EXPECT_EQ(std::strlen(c.encoded) + 1, length);
        eng_free(text);

        ASSERT_EQ(ENG_OK, b64_encode(bytes, count, &text, &length, 0));
        EXPECT_EQ(std::string(c.encoded), std::string(text, length));
        eng_free(text);
    }
}

TEST(Base64, AllByteValuesRoundTrip)
{
    vok_test::start_memory_layer();
    std::vector<uint8_t> bytes(256);
    for (int i = 0; i < 256; ++i)
        bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(255 - i);
    char *text = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(ENG_OK, b64_encode(bytes.data(), 256, &text, &length, 1));
    EXPECT_EQ(bytes, base64_decode(text));
    EXPECT_EQ(345u, length); // 344 characters and the NUL
    eng_free(text);
}

TEST(Base64, SizesAndRefusals)
{
    vok_test::start_memory_layer();
    uint32_t size = 0;
    const std::pair<uint32_t, uint32_t> sizes[] = {{0, 2}, {1, 4}, {2, 5}, {3, 6}, {178, 240}};
    for (const auto &s : sizes) {
        ASSERT_EQ(ENG_OK, b64_encoded_size(s.first, &size, 0));
        EXPECT_EQ(s.second, size) << s.first;
        ASSERT_EQ(ENG_OK, b64_encoded_size(s.first, &size, 1));
        EXPECT_EQ(s.second + 1, size) << s.first;
    }
    EXPECT_EQ(B64_E_INVALID_ARG, b64_encoded_size(3, nullptr, 1));
    // 4 x count would wrap in 32 bits: refused rather than under-allocated.
    EXPECT_EQ(B64_E_INVALID_ARG, b64_encoded_size(0xFFFFFFFFu, &size, 1));
    ASSERT_EQ(ENG_OK, b64_encoded_size(3221225469u, &size, 0));
    EXPECT_EQ(4294967294u, size);

    char *text = nullptr;
    uint32_t length = 0;
    const uint8_t byte = 0;
    EXPECT_EQ(B64_E_INVALID_ARG, b64_encode(nullptr, 1, &text, &length, 1));
    EXPECT_EQ(B64_E_INVALID_ARG, b64_encode(&byte, 1, nullptr, &length, 1));
    EXPECT_EQ(B64_E_INVALID_ARG, b64_encode(&byte, 1, &text, nullptr, 1));

    eng_mem_fail_allocation(1);
    EXPECT_EQ(B64_E_NO_MEMORY, b64_encode(&byte, 1, &text, &length, 1));
    eng_mem_fail_allocation(0);
    EXPECT_EQ(nullptr, text);
}

// Block finishing through a bare state: the encoded block lands in the list
// as BASE64, or is dropped when its node or text cannot be allocated.
class BlockFinishing : public ::testing::Test {
protected:
    void SetUp() override
    {
        vok_test::start_memory_layer();
        void *made = nullptr;
        ASSERT_EQ(ENG_OK, strm_create(3, 44100, SAMPLE_PCM_S16, 2, &made));
        state = static_cast<StreamState *>(made);
        std::mt19937 gen(5);
        for (int i = 0; i < 256; ++i) {
            state->fingerprints[i] = gen();
            state->masks[i] = gen();
        }
    }
    void TearDown() override { strm_destroy(state); }
    StreamState *state = nullptr;
};

TEST_F(BlockFinishing, KeepsEveryThirdMaskAndAppendsInOrder)
{
    strm_finish_block(state);
    state->fingerprints[0] ^= 1;
    strm_finish_block(state);
    ASSERT_NE(nullptr, state->blocks);
    ASSERT_NE(nullptr, state->blocks->next);
    EXPECT_EQ(nullptr, state->blocks->next->next);
    EXPECT_EQ(1, state->ready);

    const auto first = decode_block(base64_decode(state->blocks->text));
    const auto second = decode_block(base64_decode(state->blocks->next->text));
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(state->fingerprints[i] ^ (i == 0 ? 1u : 0u), first.words[i]) << i;
    EXPECT_EQ(state->fingerprints[0], second.words[0]);
    for (int m = 0; m < 86; ++m)
        ASSERT_EQ(state->masks[3 * m], first.masks[m]) << m;
    EXPECT_EQ(static_cast<int32_t>(std::strlen(state->blocks->text) + 1), state->blocks->length);
}

TEST_F(BlockFinishing, AllocationFailuresDropTheBlockSilently)
{
    const uint32_t failures = vok_test::for_each_allocation_failure([this] {
        strm_finish_block(state);
        if (vok_test::allocation_failed()) {
            EXPECT_EQ(nullptr, state->blocks);
            EXPECT_EQ(0, state->ready);
        } else {
            ASSERT_NE(nullptr, state->blocks);
            EXPECT_EQ(1, state->ready);
            // Release it so that the sweep's live-block count balances.
            eng_free(state->blocks->text);
            eng_free(state->blocks);
            state->blocks = state->last_block = nullptr;
            state->ready = 0;
        }
    });
    EXPECT_EQ(2u, failures); // the node, then the text
}

} // namespace
