// Documents decoded into frames and values and encoded again: every
// streaming variant and both spectral arithmetics raw and wrapped, with the
// exact bytes; several documents one after another; documents without
// blocks; quiet frames of silence; every allocation failing in turn.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "algo/stream/strm_internal.h"
#include "tests/libvok/algo/stream/stream_decoding.h"
#include "tests/libvok/engine/documents.h"
#include "tests/support/alloc_faults.h"

namespace {

using documents::block_texts;
using documents::engine_document;
using documents::music;
using documents::wrapped;

struct Decoded {
    ResultCode result;
    size_t consumed;
    EngineFrames frames;
};

Decoded decode(const std::string &text, size_t from = 0)
{
    Decoded out{ENG_OK, 0, {}};
    out.result =
        eng_decode_stream_xml(text.data() + from, text.size() - from, &out.frames, &out.consumed);
    return out;
}

std::string encode(const EngineFrames &frames)
{
    char *text = nullptr;
    EXPECT_EQ(ENG_OK, eng_encode_stream_xml(&frames, &text));
    std::string out = text ? text : "";
    eng_free_text(&text);
    return out;
}

class Documents : public vok_test::LeakCheckedTest {};

TEST_F(Documents, EveryStreamingVariantRoundTripsByteForByte)
{
    const struct {
        uint32_t id;
        double hop, first;
    } cases[] = {{3, 64, 2112}, {4, 64, 2112}, {5, 128, 4224}};
    for (const auto &c : cases) {
        const std::string text = music(c.id, 15);
        const std::vector<std::string> blocks = block_texts(text);
        ASSERT_GE(blocks.size(), 2u);
        Decoded d = decode(text);
        ASSERT_EQ(ENG_OK, d.result) << eng_decode_problem();
        EXPECT_STREQ("", eng_decode_problem());
        EXPECT_EQ(text.size(), d.consumed);
        EXPECT_EQ(c.id, d.frames.algorithm);
        EXPECT_EQ(blocks.size() * 256, d.frames.count);
        EXPECT_EQ(d.frames.count, d.frames.complete);
        EXPECT_DOUBLE_EQ(c.hop / 5512.5, d.frames.frame_seconds);
        EXPECT_DOUBLE_EQ(c.first / 5512.5, d.frames.first_offset_seconds);
        for (size_t b = 0; b < blocks.size(); ++b) {
            const auto expected = stream_test::decode_block(stream_test::base64_decode(blocks[b]));
            for (size_t i = 0; i < 256; ++i) {
                ASSERT_EQ(expected.words[i], d.frames.words[256 * b + i]) << b << " " << i;
                ASSERT_EQ(expected.masks[(i + 1) / 3], d.frames.masks[256 * b + i]) << i;
                ASSERT_EQ(0, d.frames.quiet[256 * b + i]);
            }
            char *block = nullptr;
            ASSERT_EQ(ENG_OK, eng_encode_stream_block(&d.frames, b, &block));
            EXPECT_EQ(blocks[b], block);
            eng_free_text(&block);
        }
        EXPECT_EQ(text, encode(d.frames));
        EXPECT_EQ(ENG_OK, eng_free_frames(&d.frames));
        EXPECT_EQ(nullptr, d.frames.words);
    }
}

TEST_F(Documents, WrappedAndRawDocumentsOneAfterAnother)
{
    const std::string stream1 = music(3), stream4 = music(4), six = music(5, 14);
    const std::string text = "\n " + wrapped(stream1, "ZUVOK") + stream4 + stream1 +
                             wrapped(stream4, "QDV") + wrapped(six, "QDV") + six;
    const std::string expected[] = {stream1, stream4, stream1, stream4, six, six};
    size_t at = 0;
    for (const std::string &document : expected) {
        Decoded d = decode(text, at);
        ASSERT_EQ(ENG_OK, d.result) << at << ": " << eng_decode_problem();
        EXPECT_EQ(document, encode(d.frames));
        at += d.consumed;
        eng_free_frames(&d.frames);
    }
    EXPECT_EQ(text.size(), at);
}

TEST_F(Documents, WithoutBlocksKeepTheirBlockLength)
{
    for (uint32_t id : {3u, 4u, 5u}) {
        const std::string text = engine_document(id, vok_test::recording(5, 1, 11025, 1));
        ASSERT_NE(std::string::npos, text.find("<FP_BLOCKS></FP_BLOCKS>"));
        Decoded d = decode(wrapped(text, id == 3 ? "ZUVOK" : "QDV"));
        ASSERT_EQ(ENG_OK, d.result) << eng_decode_problem();
        EXPECT_EQ(0u, d.frames.algorithm);
        EXPECT_EQ(0u, d.frames.count);
        EXPECT_EQ(nullptr, d.frames.words);
        EXPECT_DOUBLE_EQ((id == 5 ? 128 : 64) / 5512.5, d.frames.frame_seconds);
        EXPECT_EQ(text, encode(d.frames));
        eng_free_frames(&d.frames);
    }
}

std::vector<int16_t> numbers(const std::string &text)
{
    std::vector<int16_t> values;
    std::istringstream stream(text);
    for (uint32_t value; stream >> value;)
        values.push_back(static_cast<int16_t>(value));
    return values;
}

TEST_F(Documents, SpectralValuesOfBothArithmeticsRawAndWrapped)
{
    for (uint32_t id : {1u, 2u}) {
        const std::string document = music(id, 16);
        const std::vector<int16_t> expected = numbers(block_texts(document).at(0));
        ASSERT_EQ(30u, expected.size());
        const std::string text = document + wrapped(document, "QDV");
        size_t at = 0;
        for (int copy = 0; copy < 2; ++copy) {
            int16_t values[30] = {};
            size_t consumed = 0;
            ASSERT_EQ(ENG_OK, eng_decode_spectral_xml(text.data() + at, text.size() - at, values,
                                                      &consumed))
                << eng_decode_problem();
            EXPECT_EQ(expected, std::vector<int16_t>(values, values + 30));
            at += consumed;
        }
        EXPECT_EQ(text.size(), at);
    }
}

// Frames whose analysis window lies in silence are quiet, those whose window
// lies in music are not; the first kept quiet frame of silence from the
// start holds the generator's second word (the dropped frame took the first).
TEST_F(Documents, MarkQuietFramesWhereTheAudioIsSilent)
{
    std::vector<int16_t> audio = vok_test::recording(3, 12, 11025, 1);
    std::fill(audio.begin(), audio.begin() + 3 * 11025, 0);
    std::fill(audio.begin() + 7 * 11025, audio.begin() + 9 * 11025, 0);
    Decoded d = decode(engine_document(3, audio));
    ASSERT_EQ(ENG_OK, d.result) << eng_decode_problem();
    EXPECT_EQ(0xa3b1211eu, d.frames.words[0]);
    const double window = 2048 / 5512.5, margin = 0.05;
    size_t quiet = 0;
    for (size_t i = 0; i < d.frames.count; ++i) {
        const double end = d.frames.first_offset_seconds + i * d.frames.frame_seconds;
        const double start = end - window;
        const bool silent = end < 3 - margin || (start > 7 + margin && end < 9 - margin);
        const bool sound = (start > 3 + margin && end < 7 - margin) || start > 9 + margin;
        if (silent || sound) {
            EXPECT_EQ(silent ? 1 : 0, d.frames.quiet[i]) << i;
        }
        quiet += d.frames.quiet[i];
    }
    EXPECT_GT(quiet, 300u);
    eng_free_frames(&d.frames);
}

TEST_F(Documents, EveryAllocationFailingLeavesNothingAllocated)
{
    const std::string stream = wrapped(music(4), "QDV");
    const std::string spectral = wrapped(music(1, 16), "QDV");
    const uint32_t decoding = vok_test::for_each_allocation_failure([&] {
        Decoded d = decode(stream);
        EXPECT_EQ(vok_test::allocation_failed() ? ENG_E_NO_MEMORY : ENG_OK, d.result);
        eng_free_frames(&d.frames);
    });
    EXPECT_GT(decoding, 30u);
    vok_test::for_each_allocation_failure([&] {
        int16_t values[30];
        size_t consumed = 0;
        const ResultCode result =
            eng_decode_spectral_xml(spectral.data(), spectral.size(), values, &consumed);
        EXPECT_EQ(vok_test::allocation_failed() ? ENG_E_NO_MEMORY : ENG_OK, result);
    });
    Decoded d = decode(stream);
    ASSERT_EQ(ENG_OK, d.result);
    const uint32_t encoding = vok_test::for_each_allocation_failure([&] {
        char *text = nullptr;
        const ResultCode result = eng_encode_stream_xml(&d.frames, &text);
        EXPECT_EQ(vok_test::allocation_failed() ? ENG_E_NO_MEMORY : ENG_OK, result);
        eng_free_text(&text);
    });
    EXPECT_GT(encoding, 10u);
    eng_free_frames(&d.frames);
}

TEST_F(Documents, RefuseNullArgumentsAndFramesTheyCannotEncode)
{
    EngineFrames frames{};
    size_t consumed = 0;
    char *text = nullptr;
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_decode_stream_xml(nullptr, 0, &frames, &consumed));
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_decode_stream_xml("", 0, nullptr, &consumed));
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_decode_stream_xml("", 0, &frames, nullptr));
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_decode_spectral_xml("", 0, nullptr, &consumed));
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_free_frames(nullptr));
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_encode_stream_xml(nullptr, &text));
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_encode_stream_block(&frames, 0, &text));

    // Frames whose arrays the caller owns: refused where not whole blocks,
    // never released.
    std::vector<uint32_t> words(512, 7), masks(512, 0xFF000000u);
    std::vector<uint8_t> quiet(512, 0);
    frames = {4, 512, 512, 64 / 5512.5, 2112 / 5512.5, words.data(), masks.data(), quiet.data()};
    const EngineFrames refused[] = {
        {6, 512, 512, 0, 0, words.data(), masks.data(), nullptr}, // no such algorithm
        {0, 512, 256, 0, 0, words.data(), masks.data(), nullptr}, // blocks, no algorithm
        {4, 256, 512, 0, 0, words.data(), masks.data(), nullptr}, // complete beyond count
        {4, 512, 300, 0, 0, words.data(), masks.data(), nullptr}, // not whole blocks
        {4, 512, 512, 0, 0, nullptr, masks.data(), nullptr}};     // no words
    for (const EngineFrames &bad : refused)
        EXPECT_EQ(ENG_E_INVALID_ARG, eng_encode_stream_xml(&bad, &text)) << bad.complete;
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_encode_stream_block(&frames, 2, &text));
    const std::string document = encode(frames);
    Decoded d = decode(document);
    ASSERT_EQ(ENG_OK, d.result) << eng_decode_problem();
    EXPECT_EQ(words, std::vector<uint32_t>(d.frames.words, d.frames.words + 512));
    EXPECT_EQ(quiet, std::vector<uint8_t>(d.frames.quiet, d.frames.quiet + 512));
    eng_free_frames(&d.frames);
    EXPECT_EQ(ENG_OK, eng_free_frames(&frames));
    EXPECT_EQ(nullptr, frames.words);
    EXPECT_EQ(7u, words[0]);
}

} // namespace
