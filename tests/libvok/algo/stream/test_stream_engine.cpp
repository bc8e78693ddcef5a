// The streaming family through the engine interface: documents as exact
// text, silence, call splitting, the three variants and failure paths.
#include <gtest/gtest.h>

#include <bitset>
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "algo/stream/strm_internal.h"
#include "algo/stream/strm_lanes.h"
#include "engine/eng_memory.h"
#include "query/qe_xml_writer.h"
#include "tests/libvok/algo/stream/stream_decoding.h"
#include "tests/support/alloc_faults.h"
#include <vok/vok_engine.h>

namespace {

using stream_test::base64_decode;
using stream_test::decode_block;

// Interleaved 16-bit stereo: two tones with a slow tremolo and a little
// noise, deterministic.
std::vector<uint8_t> music(uint32_t rate, double seconds)
{
    const uint32_t frames = static_cast<uint32_t>(rate * seconds);
    std::vector<uint8_t> bytes;
    bytes.reserve(frames * 4);
    uint32_t noise = 1;
    for (uint32_t n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / rate;
        const double env = 0.6 + 0.4 * std::sin(2 * 3.141592653589793 * 1.3 * t);
        noise = noise * 1664525u + 1013904223u;
        const double v = env * (0.3 * std::sin(2 * 3.141592653589793 * (300 + 50 * t) * t) +
                                0.2 * std::sin(2 * 3.141592653589793 * 1200 * t)) +
                         0.02 * ((noise >> 16) / 65536.0 - 0.5);
        const int32_t l = static_cast<int32_t>(std::lround(v * 30000));
        const int32_t r = static_cast<int32_t>(std::lround(-v * 20000));
        for (int32_t s : {l, r}) {
            bytes.push_back(static_cast<uint8_t>(s & 0xFF));
            bytes.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
        }
    }
    return bytes;
}

class StreamEngine : public ::testing::Test {
protected:
    void SetUp() override
    {
        const EngineConfig config = {nullptr, 0, 0};
        ASSERT_EQ(ENG_OK, eng_initialize(&config));
        live = eng_mem_live_blocks();
    }
    void TearDown() override { EXPECT_EQ(live, eng_mem_live_blocks()); }

    // Feeds audio in pieces of piece_frames frames and serialises.
    std::string fingerprint(uint32_t id, const std::vector<uint8_t> &audio, size_t piece_bytes,
                            uint32_t rate = 44100, SampleType type = SAMPLE_PCM_S16,
                            uint32_t channels = 2)
    {
        EngineHandle *handle = nullptr;
        EXPECT_EQ(ENG_OK, eng_create(id, type, rate, channels, &handle));
        if (!handle)
            return "";
        for (size_t at = 0; at < audio.size(); at += piece_bytes) {
            const size_t take = std::min(piece_bytes, audio.size() - at);
            uint8_t done = 9;
            EXPECT_EQ(ENG_OK,
                      eng_add_audio(handle, audio.data() + at, static_cast<uint32_t>(take), &done));
        }
        char *text = nullptr;
        EXPECT_EQ(ENG_OK, eng_serialize_xml(handle, &text));
        std::string document = text ? text : "";
        eng_free_text(&text);
        eng_destroy(&handle);
        return document;
    }
    int64_t live = 0;
};

// The BASE64 texts of the FP_BLOCK elements, in order.
std::vector<std::string> block_texts(const std::string &document)
{
    std::vector<std::string> texts;
    const std::string open = "ENCODING=\"BASE64\" ORD=\"";
    for (size_t at = document.find(open); at != std::string::npos;
         at = document.find(open, at + 1)) {
        const size_t start = document.find('>', at) + 1;
        texts.push_back(document.substr(start, document.find('<', start) - start));
    }
    return texts;
}

std::string expected_document(int block_length, const std::vector<std::string> &blocks)
{
    std::string d = std::string(QE_XML_DECLARATION) + "\n";
    d += "<ZUVOK_FP_QUERY VERSION=\"1.0\">\n";
    d += "  <ALGORITHM>\n";
    d += "    <NAME>Velmora</NAME>\n";
    d += "    <VERSION>1.1</VERSION>\n";
    d += "    <QUERY>Velmora&quot;1.1</QUERY>\n";
    d += "    <BLOCK_LENGTH>" + std::to_string(block_length) + "</BLOCK_LENGTH>\n";
    d += "    <FORMAT>COMPRESSED</FORMAT>\n";
    d += "  </ALGORITHM>\n";
    d += "  <FP_BLOCKS>";
    if (!blocks.empty())
        d += "\n";
    for (size_t i = 0; i < blocks.size(); ++i)
        d += "    <FP_BLOCK TYPE=\"BINARY\" ENCODING=\"BASE64\" ORD=\"" + std::to_string(i + 1) +
             "\">" + blocks[i] + "</FP_BLOCK>\n";
    d += blocks.empty() ? "</FP_BLOCKS>\n" : "  </FP_BLOCKS>\n";
    d += "</ZUVOK_FP_QUERY>\n";
    return d;
}

TEST_F(StreamEngine, FreshHandleSerialisesAnEmptyBlockList)
{
    for (uint32_t id : {3u, 4u, 5u}) {
        const std::vector<uint8_t> none;
        const std::string document = fingerprint(id, none, 4);
        EXPECT_EQ(expected_document(id == 5 ? 6 : 3, {}), document);
    }
}

TEST_F(StreamEngine, OneBlockDocumentHasThirteenExactLines)
{
    // 18432 resampled samples at 44100 Hz: 8 frames each.
    const std::vector<uint8_t> audio = music(44100, 18432 * 8 / 44100.0 + 0.01);
    const std::string document = fingerprint(3, audio, 1234800);
    const std::vector<std::string> blocks = block_texts(document);
    ASSERT_EQ(1u, blocks.size());
    EXPECT_EQ(expected_document(3, blocks), document);
    EXPECT_EQ(13, std::count(document.begin(), document.end(), '\n'));
    const auto decoded = decode_block(base64_decode(blocks[0]));
    EXPECT_EQ(256u, decoded.words.size());
}

TEST_F(StreamEngine, SilenceGivesGeneratorWordsAndTopMasks)
{
    const std::vector<uint8_t> silence(44100 * 4 * 8, 0);
    for (uint32_t id : {3u, 4u, 5u}) {
        const std::string document = fingerprint(id, silence, silence.size());
        const std::vector<std::string> blocks = block_texts(document);
        ASSERT_FALSE(blocks.empty()) << id;
        EXPECT_EQ(expected_document(id == 5 ? 6 : 3, blocks), document);
        const auto first = decode_block(base64_decode(blocks[0]));
        EXPECT_EQ(0xa3b1211eu, first.words[0]) << id;
        EXPECT_EQ(0x692d3c0bu, first.words[1]) << id;
        const uint32_t mask = id == 3 ? 0xFFFC0000u : 0xFF000000u;
        for (uint32_t m : first.masks)
            ASSERT_EQ(mask, m) << id;
    }
}

TEST_F(StreamEngine, ReadyFlagRisesWithTheFirstBlock)
{
    EngineHandle *handle = nullptr;
    ASSERT_EQ(ENG_OK, eng_create(3, SAMPLE_PCM_U8, 44100, 1, &handle));
    // Output n comes from input frame 8 (n - 1): 18431 outputs so far.
    std::vector<uint8_t> audio(18431 * 8, 0x80);
    uint8_t done = 9;
    // Nothing is allocated per sample or per frame, only per finished block.
    const int64_t blocks_before = eng_mem_live_blocks();
    ASSERT_EQ(ENG_OK,
              eng_add_audio(handle, audio.data(), static_cast<uint32_t>(audio.size()), &done));
    EXPECT_EQ(0, done);
    EXPECT_EQ(blocks_before, eng_mem_live_blocks());
    ASSERT_EQ(ENG_OK, eng_add_audio(handle, audio.data(), 1, &done));
    EXPECT_EQ(1, done);
    EXPECT_EQ(blocks_before + 2, eng_mem_live_blocks()); // the block and its text
    ASSERT_EQ(ENG_OK, eng_add_audio(handle, audio.data(), 0, &done));
    EXPECT_EQ(1, done);
    eng_destroy(&handle);
}

TEST_F(StreamEngine, SplittingTheAudioChangesNothing)
{
    const std::vector<uint8_t> audio = music(44100, 7.5);
    const std::string whole = fingerprint(3, audio, audio.size());
    ASSERT_EQ(2u, block_texts(whole).size());
    for (size_t frames : {1u, 3u, 64u, 1000u, 44101u})
        EXPECT_EQ(whole, fingerprint(3, audio, frames * 4)) << frames;
}

TEST_F(StreamEngine, Ids3And4ShareWordsAndDifferInMaskWidth)
{
    const std::vector<uint8_t> audio = music(44100, 7.0);
    const auto b3 = block_texts(fingerprint(3, audio, 123456));
    const auto b4 = block_texts(fingerprint(4, audio, 123456));
    ASSERT_EQ(2u, b3.size());
    ASSERT_EQ(b3.size(), b4.size());
    for (size_t i = 0; i < b3.size(); ++i) {
        const auto d3 = decode_block(base64_decode(b3[i]));
        const auto d4 = decode_block(base64_decode(b4[i]));
        EXPECT_EQ(d3.words, d4.words);
        for (size_t m = 0; m < d3.masks.size(); ++m) {
            ASSERT_EQ(14u, std::bitset<32>(d3.masks[m]).count());
            ASSERT_EQ(8u, std::bitset<32>(d4.masks[m]).count());
        }
        // Consecutive sub-fingerprints of music are related: random words
        // would rarely differ in 8 bits or fewer.
        int close = 0;
        for (size_t w = 1; w < d3.words.size(); ++w)
            close += std::bitset<32>(d3.words[w] ^ d3.words[w - 1]).count() <= 8;
        EXPECT_GT(close, 50);
    }
}

TEST_F(StreamEngine, Id5WritesSixSecondBlocks)
{
    const std::vector<uint8_t> audio = music(48000, 7.0);
    const std::string document = fingerprint(5, audio, 48000 * 4, 48000);
    const auto blocks = block_texts(document);
    ASSERT_EQ(1u, blocks.size()); // 36864 resampled samples = 6.69 s
    EXPECT_EQ(expected_document(6, blocks), document);
}

TEST_F(StreamEngine, SerialisingAgainRepeatsAndExtendsTheBlocks)
{
    const std::vector<uint8_t> audio = music(44100, 7.5);
    EngineHandle *handle = nullptr;
    ASSERT_EQ(ENG_OK, eng_create(3, SAMPLE_PCM_S16, 44100, 2, &handle));
    uint8_t done = 0;
    const size_t half = 4 * 44100 * 4;
    ASSERT_EQ(ENG_OK, eng_add_audio(handle, audio.data(), half, &done));
    char *a = nullptr, *b = nullptr, *c = nullptr;
    ASSERT_EQ(ENG_OK, eng_serialize_xml(handle, &a));
    ASSERT_EQ(ENG_OK, eng_serialize_xml(handle, &b));
    EXPECT_STREQ(a, b);
    ASSERT_EQ(ENG_OK, eng_add_audio(handle, audio.data() + half,
                                    static_cast<uint32_t>(audio.size() - half), &done));
    ASSERT_EQ(ENG_OK, eng_serialize_xml(handle, &c));
    const auto first = block_texts(a);
    const auto later = block_texts(c);
    ASSERT_EQ(1u, first.size());
    ASSERT_EQ(2u, later.size());
    EXPECT_EQ(first[0], later[0]);
    EXPECT_NE(std::string::npos, std::string(c).find("ORD=\"2\""));
    eng_free_text(&a);
    eng_free_text(&b);
    eng_free_text(&c);
    eng_destroy(&handle);
}

TEST_F(StreamEngine, SerialiseFailuresReleaseEverythingAndLeaveTheStateAlone)
{
    const std::vector<uint8_t> silence(44100 * 4 * 7, 0);
    void *state = nullptr;
    ASSERT_EQ(ENG_OK, strm_create(3, 44100, SAMPLE_PCM_S16, 2, &state));
    uint8_t ready = 0;
    ASSERT_EQ(ENG_OK,
              strm_add_audio(state, silence.data(), static_cast<uint32_t>(silence.size()), &ready));
    ASSERT_EQ(1, ready);
    const EncodedBlock *blocks = static_cast<StreamState *>(state)->blocks;
    QueryElement *reference = nullptr;
    ASSERT_EQ(ENG_OK, strm_serialize(state, &reference));
    char *reference_text = qe_write_xml(reference, 1, 1, 1);
    qe_destroy(&reference);

    const uint32_t failures = vok_test::for_each_allocation_failure([&] {
        QueryElement *root = nullptr;
        const ResultCode result = strm_serialize(state, &root);
        const bool failed_inside = vok_test::allocation_failed();
        if (failed_inside) {
            EXPECT_TRUE(result == STRM_E_NO_MEMORY || result == QE_E_NO_MEMORY)
                << std::hex << result;
            EXPECT_EQ(nullptr, root);
        } else {
            ASSERT_EQ(ENG_OK, result);
            // The armed failure may still fall in the writer.
            char *text = qe_write_xml(root, 1, 1, 1);
            if (text) {
                EXPECT_STREQ(reference_text, text);
            }
            eng_free(text);
            qe_destroy(&root);
        }
    });
    EXPECT_GT(failures, 20u);
    EXPECT_EQ(blocks, static_cast<StreamState *>(state)->blocks);
    eng_free(reference_text);

    QueryElement *root = nullptr;
    EXPECT_EQ(STRM_E_INVALID_ARG, strm_serialize(nullptr, &root));
    EXPECT_EQ(STRM_E_INVALID_ARG, strm_serialize(state, nullptr));
    EXPECT_EQ(STRM_E_INVALID_ARG, strm_build_blocks(nullptr, &root));
    EXPECT_EQ(STRM_E_INVALID_ARG, strm_add_block_element(nullptr, blocks, 1));
    EXPECT_EQ(STRM_E_INVALID_ARG, strm_build_query(3, nullptr, &root));
    strm_destroy(state);
}

TEST_F(StreamEngine, CreationThroughTheEngineRefusesBadFormats)
{
    EngineHandle *handle = nullptr;
    EXPECT_EQ(STRM_E_INVALID_ARG, eng_create(3, SAMPLE_PCM_S16, 44000, 2, &handle));
    EXPECT_EQ(STRM_E_INVALID_ARG, eng_create(4, 0, 44100, 2, &handle));
    EXPECT_EQ(STRM_E_INVALID_ARG, eng_create(5, SAMPLE_PCM_S16, 44100, 3, &handle));
    EXPECT_EQ(nullptr, handle);
    const uint32_t failures = vok_test::for_each_allocation_failure([&] {
        EngineHandle *h = nullptr;
        const ResultCode result = eng_create(3, SAMPLE_ALAW, 16000, 1, &h);
        if (!vok_test::allocation_failed()) {
            ASSERT_EQ(ENG_OK, result);
            eng_destroy(&h);
        } else {
            EXPECT_NE(ENG_OK, result);
            EXPECT_EQ(nullptr, h);
        }
    });
    // The handle, then the six of the state and on a lane path one more.
    EXPECT_EQ(strm_path_lanes(strm_creation_path()) != 0 ? 8u : 7u, failures);
}

} // namespace
