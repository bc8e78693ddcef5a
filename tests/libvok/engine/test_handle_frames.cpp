// A live handle's frames as numbers: checked against the handle's own
// document read back by the tests' decoder, against longer audio, across
// the three streaming ids and every way of cutting the audio; the grid,
// discarding (and the flat memory it keeps), the spectral values against
// the document's text, and the refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/eng_memory.h"
#include "tests/libvok/algo/stream/stream_decoding.h"
#include "tests/libvok/engine/documents.h"
#include "tests/support/recording.h"
#include <vok/vok_engine.h>

namespace {

struct Frames {
    std::vector<uint32_t> words, masks;
    std::vector<uint8_t> quiet;
    size_t complete = 0;
    double frame_seconds = 0, first_offset_seconds = 0;
};

// A streaming handle over mono 11025 Hz audio.
class Handle {
public:
    explicit Handle(uint32_t id, uint32_t rate = 11025)
    {
        const EngineConfig config = {nullptr, 0, 0};
        EXPECT_EQ(ENG_OK, eng_initialize(&config));
        EXPECT_EQ(ENG_OK, eng_create(id, SAMPLE_PCM_S16, rate, 1, &handle));
    }
    ~Handle() { eng_destroy(&handle); }
    void add(const int16_t *samples, size_t count)
    {
        uint8_t done = 0;
        ASSERT_EQ(ENG_OK, eng_add_audio(handle, reinterpret_cast<const uint8_t *>(samples),
                                        static_cast<uint32_t>(count * 2), &done));
    }
    void add(const std::vector<int16_t> &samples) { add(samples.data(), samples.size()); }
    Frames frames()
    {
        EngineFrames raw{};
        EXPECT_EQ(ENG_OK, eng_stream_frames(handle, &raw));
        Frames out;
        out.words.assign(raw.words, raw.words + raw.count);
        out.masks.assign(raw.masks, raw.masks + raw.count);
        out.quiet.assign(raw.quiet, raw.quiet + raw.count);
        out.complete = raw.complete;
        out.frame_seconds = raw.frame_seconds;
        out.first_offset_seconds = raw.first_offset_seconds;
        return out;
    }
    std::string document()
    {
        char *text = nullptr;
        EXPECT_EQ(ENG_OK, eng_serialize_xml(handle, &text));
        std::string out = text ? text : "";
        eng_free_text(&text);
        return out;
    }
    EngineHandle *get() { return handle; }

private:
    EngineHandle *handle = nullptr;
};

// The tests' own decoding of a document's blocks: words, and each frame's
// nearest kept mask.
void decodeDocument(const std::string &document, std::vector<uint32_t> &words,
                    std::vector<uint32_t> &masks)
{
    for (const std::string &text : documents::block_texts(document)) {
        const stream_test::DecodedBlock block =
            stream_test::decode_block(stream_test::base64_decode(text));
        for (size_t i = 0; i < 256; ++i) {
            words.push_back(block.words[i]);
            masks.push_back(block.masks[(i + 1) / 3]);
        }
    }
}

std::vector<int16_t> musicWithSilence(double seconds)
{
    std::vector<int16_t> samples = vok_test::recording(9, seconds, 11025, 1);
    // Two seconds of silence in the middle: quiet frames among the others.
    std::fill(samples.begin() + 5 * 11025, samples.begin() + 7 * 11025, 0);
    return samples;
}

TEST(HandleFrames, WholeBlocksAreTheDocumentsAndTheRestLongerAudios)
{
    const std::vector<int16_t> samples = musicWithSilence(14);
    for (uint32_t id : {ENG_ALG_STREAM1, ENG_ALG_STREAM4, ENG_ALG_STREAM6}) {
        Handle handle(id);
        handle.add(samples.data(), samples.size() * 3 / 4);
        const Frames part = handle.frames();
        std::vector<uint32_t> words, masks;
        decodeDocument(handle.document(), words, masks);
        ASSERT_EQ(words.size(), part.complete) << id;
        ASSERT_GT(part.words.size(), part.complete) << id;
        for (size_t i = 0; i < part.complete; ++i) {
            ASSERT_EQ(words[i], part.words[i]) << id << " " << i;
            ASSERT_EQ(masks[i], part.masks[i]) << id << " " << i;
        }
        // The frames after the whole blocks are those of longer audio, and
        // so are their masks, but for a last one whose kept mask is to come.
        handle.add(samples.data() + samples.size() * 3 / 4, samples.size() - samples.size() * 3 / 4);
        const Frames whole = handle.frames();
        ASSERT_GT(whole.words.size(), part.words.size()) << id;
        for (size_t i = 0; i < part.words.size(); ++i) {
            ASSERT_EQ(whole.words[i], part.words[i]) << id << " " << i;
            ASSERT_EQ(whole.quiet[i], part.quiet[i]) << id << " " << i;
            if (i + 1 < part.words.size() || i % 256 % 3 != 2) {
                ASSERT_EQ(whole.masks[i], part.masks[i]) << id << " " << i;
            }
        }
        size_t quiet = 0;
        for (uint8_t q : whole.quiet)
            quiet += q;
        EXPECT_GT(quiet, 40u) << id; // two seconds of silence, less a window
        EXPECT_LT(quiet, whole.quiet.size() / 2) << id;
    }
}

TEST(HandleFrames, QuietFramesAreTheDecodedDocuments)
{
    Handle handle(ENG_ALG_STREAM1);
    handle.add(musicWithSilence(12));
    const Frames frames = handle.frames();
    const std::string document = handle.document();
    EngineFrames decoded{};
    size_t used = 0;
    ASSERT_EQ(ENG_OK, eng_decode_stream_xml(document.data(), document.size(), &decoded, &used));
    ASSERT_EQ(frames.complete, decoded.count);
    EXPECT_EQ(0, std::memcmp(frames.quiet.data(), decoded.quiet, decoded.count));
    EXPECT_EQ(0, std::memcmp(frames.masks.data(), decoded.masks, 4 * decoded.count));
    EXPECT_EQ(frames.frame_seconds, decoded.frame_seconds);
    EXPECT_EQ(frames.first_offset_seconds, decoded.first_offset_seconds);
    eng_free_frames(&decoded);
}

TEST(HandleFrames, TheSameWhateverTheAudiosPiecesAndTheAsking)
{
    const std::vector<int16_t> samples = musicWithSilence(10);
    Handle whole(ENG_ALG_STREAM4);
    whole.add(samples);
    const Frames expected = whole.frames();
    for (size_t piece : {1u, 63u, 4096u, 40000u}) {
        Handle handle(ENG_ALG_STREAM4);
        for (size_t at = 0; at < samples.size(); at += piece) {
            handle.add(samples.data() + at, std::min(piece, samples.size() - at));
            if (at / piece % 7 == 0)
                handle.frames(); // asked in between
        }
        const Frames got = handle.frames();
        EXPECT_EQ(expected.words, got.words) << piece;
        EXPECT_EQ(expected.masks, got.masks) << piece;
        EXPECT_EQ(expected.quiet, got.quiet) << piece;
        EXPECT_EQ(expected.complete, got.complete) << piece;
    }
}

// Sub-fingerprint i ends at first_offset + i * frame_seconds: after S
// samples at 11025 Hz (halved to 5512.5 Hz) a handle holds the frames that
// have ended by then, within one for the resampling filter's delay.
TEST(HandleFrames, TheGridSaysWhenEachFrameEnds)
{
    const struct {
        uint32_t id;
        double hop, window;
    } rows[] = {{ENG_ALG_STREAM1, 64, 2048}, {ENG_ALG_STREAM4, 64, 2048}, {ENG_ALG_STREAM6, 128, 4096}};
    const std::vector<int16_t> samples = vok_test::recording(4, 8, 11025, 1);
    for (const auto &row : rows) {
        Handle handle(row.id);
        const Frames empty = handle.frames();
        EXPECT_TRUE(empty.words.empty());
        EXPECT_DOUBLE_EQ(row.hop / 5512.5, empty.frame_seconds);
        EXPECT_DOUBLE_EQ((row.window + row.hop) / 5512.5, empty.first_offset_seconds);
        size_t fed = 0;
        for (size_t end : {size_t{5000}, size_t{20000}, size_t{50000}, samples.size()}) {
            handle.add(samples.data() + fed, end - fed);
            fed = end;
            const double seconds = static_cast<double>(fed) / 11025;
            const double ended = (seconds - empty.first_offset_seconds) / empty.frame_seconds + 1;
            const double expected = ended < 0 ? 0 : std::floor(ended);
            EXPECT_NEAR(expected, static_cast<double>(handle.frames().words.size()), 1)
                << row.id << " " << fed;
        }
    }
}

TEST(HandleFrames, DiscardingKeepsTheRestAndDropsWholeBlocks)
{
    const std::vector<int16_t> samples = musicWithSilence(16);
    Handle reference(ENG_ALG_STREAM1);
    reference.add(samples);
    const Frames all = reference.frames(); // 1300 frames, 5 blocks
    const std::string document = reference.document();
    const std::vector<std::string> blocks = documents::block_texts(document);
    const struct {
        std::vector<size_t> drops;
    } cases[] = {{{0}}, {{100}}, {{256}}, {{255, 1, 300}}, {{600, 700}}, {{all.words.size()}}};
    for (const auto &c : cases) {
        Handle handle(ENG_ALG_STREAM1);
        handle.add(samples);
        size_t dropped = 0;
        for (size_t drop : c.drops) {
            handle.frames();
            ASSERT_EQ(ENG_OK, eng_stream_discard(handle.get(), drop));
            dropped += drop;
        }
        const Frames rest = handle.frames();
        ASSERT_EQ(all.words.size() - dropped, rest.words.size()) << dropped;
        for (size_t i = 0; i < rest.words.size(); ++i) {
            ASSERT_EQ(all.words[dropped + i], rest.words[i]) << dropped;
            ASSERT_EQ(all.masks[dropped + i], rest.masks[i]) << dropped;
            ASSERT_EQ(all.quiet[dropped + i], rest.quiet[i]) << dropped;
        }
        EXPECT_EQ(all.complete > dropped ? all.complete - dropped : 0, rest.complete) << dropped;
        EXPECT_DOUBLE_EQ(all.first_offset_seconds + dropped * all.frame_seconds,
                         rest.first_offset_seconds);
        // The document keeps the blocks that still hold a frame.
        const std::vector<std::string> kept = documents::block_texts(handle.document());
        ASSERT_EQ(blocks.size() - std::min(blocks.size(), dropped / 256), kept.size()) << dropped;
        for (size_t b = 0; b < kept.size(); ++b)
            EXPECT_EQ(blocks[blocks.size() - kept.size() + b], kept[b]) << dropped;
    }
    Handle handle(ENG_ALG_STREAM1);
    handle.add(samples);
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_stream_discard(handle.get(), all.words.size() + 1));
}

// A handle fed for an hour of audio and emptied as it goes holds no more
// memory at the end than after its first minute.
TEST(HandleFrames, DiscardingKeepsMemoryFlat)
{
    const std::vector<int16_t> minute = vok_test::recording(5, 60, 11025, 1);
    Handle handle(ENG_ALG_STREAM1);
    int64_t afterFirst = 0;
    for (int m = 0; m < 60; ++m) {
        handle.add(minute);
        EngineFrames frames{};
        ASSERT_EQ(ENG_OK, eng_stream_frames(handle.get(), &frames));
        ASSERT_EQ(ENG_OK, eng_stream_discard(handle.get(), frames.count));
        if (m == 0)
            afterFirst = eng_mem_live_blocks();
    }
    EXPECT_LE(eng_mem_live_blocks(), afterFirst);
}

// The values against the numbers of the document's text.
TEST(HandleFrames, SpectralValuesAreTheDocuments)
{
    const std::vector<int16_t> samples = vok_test::recording(7, 20, 11025, 1);
    for (uint32_t id : {ENG_ALG_FILE_FIXED, ENG_ALG_FILE_FLOAT}) {
        Handle handle(id);
        int16_t values[30];
        EXPECT_EQ(SFP_E_NOT_COMPLETE, eng_spectral_values(handle.get(), values)) << id;
        handle.add(samples);
        ASSERT_EQ(ENG_OK, eng_spectral_values(handle.get(), values)) << id;
        const std::string text = documents::block_texts(handle.document()).at(0);
        std::string expected;
        for (int16_t value : values)
            expected += (expected.empty() ? "" : " ") + std::to_string(static_cast<uint16_t>(value));
        EXPECT_EQ(text, expected) << id;
    }
}

TEST(HandleFrames, TheWrongFamilyOrNothingIsRefused)
{
    Handle spectral(ENG_ALG_FILE_FIXED);
    Handle streaming(ENG_ALG_STREAM1);
    EngineFrames frames{};
    int16_t values[30];
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_stream_frames(spectral.get(), &frames));
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_stream_discard(spectral.get(), 0));
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_spectral_values(streaming.get(), values));
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_stream_frames(nullptr, &frames));
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_stream_frames(streaming.get(), nullptr));
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_stream_discard(nullptr, 0));
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_spectral_values(nullptr, values));
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_spectral_values(spectral.get(), nullptr));
}

// Every allocation of a request failing in turn: the request fails with
// ENG_E_NO_MEMORY, and the next one gives the frames whole.
TEST(HandleFrames, AFailedAllocationLosesNothing)
{
    const std::vector<int16_t> samples = musicWithSilence(10);
    Handle reference(ENG_ALG_STREAM1);
    reference.add(samples);
    const Frames expected = reference.frames();
    for (uint32_t nth = 1;; ++nth) {
        Handle handle(ENG_ALG_STREAM1);
        handle.add(samples);
        eng_mem_fail_allocation(nth);
        EngineFrames frames{};
        const ResultCode result = eng_stream_frames(handle.get(), &frames);
        const bool failed = !eng_mem_failure_pending();
        eng_mem_fail_allocation(0);
        if (!failed) {
            EXPECT_EQ(ENG_OK, result);
            break;
        }
        EXPECT_EQ(ENG_E_NO_MEMORY, result) << nth;
        const Frames got = handle.frames();
        EXPECT_EQ(expected.words, got.words) << nth;
        EXPECT_EQ(expected.quiet, got.quiet) << nth;
    }
}

} // namespace
