// The lane paths against the plain scalar path (chosen with the test hook
// strm_use_path): every sub-fingerprint, mask, document and the state left
// behind must agree, for every variant, rate and sample format, on audio
// that reaches the transform's extremes and flips the quiet-frame test.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "algo/stream/strm_lanes.h"
#include "engine/eng_memory.h"
#include "query/qe_xml_writer.h"
#include "tests/support/alloc_faults.h"

namespace {

const uint32_t kRates[] = {8000, 11025, 16000, 22050, 24000, 32000, 44100, 48000};

// Mono samples, one second of each kind in turn: music-like tones, a fade to
// near silence (one or two units: the quiet-frame test turns over), white
// noise at full scale, digital silence, full-scale square waves, and a
// passage of +-1.
std::vector<int32_t> test_signal(uint32_t rate, uint32_t seconds)
{
    std::vector<int32_t> out;
    uint32_t noise = 7;
    const double pi = 3.141592653589793;
    for (uint32_t n = 0; n < rate * seconds; ++n) {
        const double t = static_cast<double>(n) / rate;
        const uint32_t kind = (n / rate) % 6;
        noise = noise * 1664525u + 1013904223u;
        double v = 0;
        if (kind == 0)
            v = (0.5 + 0.4 * std::sin(2 * pi * 1.3 * t)) *
                (0.4 * std::sin(2 * pi * (300 + 80 * t) * t) + 0.2 * std::sin(2 * pi * 1250 * t));
        else if (kind == 1)
            v = std::exp(-12.0 * std::fmod(t, 1.0)) * 0.3 * std::sin(2 * pi * 700 * t) +
                2.0 / 32768 * std::sin(2 * pi * 440 * t);
        else if (kind == 2)
            v = static_cast<int32_t>(noise) / 2147483648.0;
        else if (kind == 4)
            v = std::fmod(t * (150 + 40 * (n / rate)), 1.0) < 0.5 ? 1.0 : -1.0;
        else if (kind == 5)
            v = (noise >> 31) ? 1.0 / 32768 : -1.0 / 32768;
        const int32_t sample = static_cast<int32_t>(std::lround(v * 32768));
        out.push_back(std::max(-32768, std::min(32767, sample)));
    }
    return out;
}

// The signal in a sample format: 8-bit offset, 16-bit little-endian, or a
// companded byte (any byte is valid); the second channel inverted.
std::vector<uint8_t> encode(const std::vector<int32_t> &mono, SampleType type, uint32_t channels)
{
    std::vector<uint8_t> bytes;
    for (int32_t v : mono) {
        for (uint32_t ch = 0; ch < channels; ++ch) {
            const int32_t s = ch == 0 ? v : std::max(-32768, -v);
            if (type == SAMPLE_PCM_S16) {
                bytes.push_back(static_cast<uint8_t>(s & 0xFF));
                bytes.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
            } else {
                bytes.push_back(static_cast<uint8_t>((s >> 8) + 128));
            }
        }
    }
    return bytes;
}

// Every finished block's sub-fingerprints and masks, collected on the way
// to the state's own block handler.
struct Collected {
    StreamState *state;
    std::vector<uint32_t> words;
};

ResultCode collect(const uint8_t *encoded, void *context)
{
    auto *c = static_cast<Collected *>(context);
    c->words.insert(c->words.end(), c->state->fingerprints, c->state->fingerprints + 256);
    c->words.insert(c->words.end(), c->state->masks, c->state->masks + 256);
    return strm_block_done(encoded, c->state);
}

struct PathRun {
    std::vector<uint32_t> words; // blocks, then the open block's entries
    std::string document;
    std::vector<int32_t> carried; // the state that carries over
};

PathRun fingerprint(StreamPath path, uint32_t id, uint32_t rate, SampleType type, uint32_t channels,
                    const std::vector<uint8_t> &audio, const std::vector<uint32_t> &pieces)
{
    PathRun run;
    EXPECT_EQ(ENG_OK, strm_use_path(path));
    void *made = nullptr;
    EXPECT_EQ(ENG_OK, strm_create(id, rate, type, channels, &made));
    strm_use_path(STRM_PATH_BEST);
    auto *s = static_cast<StreamState *>(made);
    if (!s)
        return run;
    EXPECT_EQ(path == STRM_PATH_BEST ? strm_creation_path() : path, s->path);
    Collected collected{s, {}};
    s->block_handler = collect;
    s->block_context = &collected;
    const uint32_t frame_bytes = channels * (type == SAMPLE_PCM_S16 ? 2 : 1);
    size_t at = 0;
    for (size_t k = 0; at < audio.size(); ++k) {
        const size_t take =
            std::min<size_t>(pieces[k % pieces.size()] * frame_bytes, audio.size() - at);
        uint8_t ready = 9;
        EXPECT_EQ(ENG_OK,
                  strm_add_audio(s, audio.data() + at, static_cast<uint32_t>(take), &ready));
        EXPECT_EQ(s->blocks ? 1 : 0, ready);
        at += take;
    }
    run.words = collected.words;
    run.words.insert(run.words.end(), s->fingerprints, s->fingerprints + s->count);
    run.words.insert(run.words.end(), s->masks, s->masks + s->count);
    QueryElement *root = nullptr;
    EXPECT_EQ(ENG_OK, strm_serialize(s, &root));
    char *text = qe_write_xml(root, 1, 1, 1);
    run.document = text ? text : "";
    eng_free(text);
    qe_destroy(&root);
    const int32_t n = s->frame_length;
    run.carried = {
        s->input_index,         static_cast<int32_t>(s->phase), s->ring_position, s->ring_filled,
        s->have_previous_frame, s->previous_exponent,           s->random.index,  s->count};
    run.carried.insert(run.carried.end(), s->input_ring, s->input_ring + 2 * STRM_INPUT_RING);
    run.carried.insert(run.carried.end(), s->frame_ring, s->frame_ring + n);
    run.carried.insert(run.carried.end(), s->previous_filter, s->previous_filter + 32);
    for (uint32_t w : s->random.words)
        run.carried.push_back(static_cast<int32_t>(w));
    strm_destroy(s);
    return run;
}

// The lane paths this machine runs; none on other processors.
std::vector<StreamPath> lane_paths()
{
    std::vector<StreamPath> paths;
    for (StreamPath p : {STRM_PATH_AVX2, STRM_PATH_AVX512}) {
        if (strm_path_available(p))
            paths.push_back(p);
    }
    return paths;
}

class StreamPaths : public ::testing::Test {
protected:
    void SetUp() override { vok_test::start_memory_layer(); }
    void TearDown() override { strm_use_path(STRM_PATH_BEST); }

    // The scalar path in whole pieces against each lane path in pieces
    // of every size from one frame up, so that batches are cut anywhere.
    void compare(uint32_t id, uint32_t rate, SampleType type, uint32_t channels, uint32_t seconds)
    {
        const std::vector<uint8_t> audio = encode(test_signal(rate, seconds), type, channels);
        const PathRun scalar =
            fingerprint(STRM_PATH_SCALAR, id, rate, type, channels, audio, {rate});
        ASSERT_GT(scalar.words.size(), 512u) << "no block was finished";
        for (StreamPath path : lane_paths()) {
            const PathRun lanes = fingerprint(path, id, rate, type, channels, audio,
                                              {1, 7, rate / 3, 64, 4099, rate * 2});
            const std::string where = "id " + std::to_string(id) + ", " + std::to_string(rate) +
                                      " Hz, type " + std::to_string(type) + ", " +
                                      std::to_string(channels) + " channels, path " +
                                      std::to_string(path);
            ASSERT_EQ(scalar.words.size(), lanes.words.size()) << where;
            for (size_t k = 0; k < scalar.words.size(); ++k)
                ASSERT_EQ(scalar.words[k], lanes.words[k]) << where << ", word " << k;
            EXPECT_EQ(scalar.document, lanes.document) << where;
            EXPECT_EQ(scalar.carried, lanes.carried) << where;
        }
    }
};

TEST_F(StreamPaths, TheHookChoosesOnlyPathsTheProcessorRuns)
{
    EXPECT_EQ(ENG_OK, strm_use_path(STRM_PATH_SCALAR));
    EXPECT_EQ(STRM_PATH_SCALAR, strm_creation_path());
    EXPECT_EQ(STRM_E_INVALID_ARG, strm_use_path(static_cast<StreamPath>(9)));
    EXPECT_EQ(STRM_PATH_SCALAR, strm_creation_path());
    for (StreamPath p : {STRM_PATH_AVX2, STRM_PATH_AVX512})
        EXPECT_EQ(strm_path_available(p) ? ENG_OK : STRM_E_INVALID_ARG, strm_use_path(p));
    EXPECT_EQ(ENG_OK, strm_use_path(STRM_PATH_BEST));
    EXPECT_NE(STRM_PATH_BEST, strm_creation_path());
}

TEST_F(StreamPaths, EveryVariantAndRateGivesTheScalarPathsWords)
{
    for (uint32_t id : {3u, 4u, 5u}) {
        for (uint32_t rate : kRates)
            compare(id, rate, SAMPLE_PCM_S16, 2, 14);
    }
}

TEST_F(StreamPaths, EverySampleFormatGivesTheScalarPathsWords)
{
    for (SampleType type : {SAMPLE_PCM_U8, SAMPLE_PCM_S16, SAMPLE_ALAW, SAMPLE_MULAW}) {
        for (uint32_t channels : {1u, 2u})
            compare(3, 22050, type, channels, 7);
    }
}

// Frame by frame through strm_analyze_frames, with frames no resampler
// produces: full-scale extremes, alternating signs, random 32-bit values,
// single spikes and near-silence, so that every normalisation shift, the
// exponent steps of 32 and more, and the generator are reached.
TEST_F(StreamPaths, ExtremeFramesGiveTheScalarPathsWords)
{
    for (uint32_t id : {3u, 5u}) {
        for (StreamPath path : lane_paths()) {
            void *made[2] = {nullptr, nullptr};
            ASSERT_EQ(ENG_OK, strm_use_path(path));
            ASSERT_EQ(ENG_OK, strm_create(id, 44100, SAMPLE_PCM_S16, 2, &made[0]));
            ASSERT_EQ(ENG_OK, strm_create(id, 44100, SAMPLE_PCM_S16, 2, &made[1]));
            auto *scalar = static_cast<StreamState *>(made[0]);
            auto *lanes = static_cast<StreamState *>(made[1]);
            const int32_t n = scalar->frame_length;
            const int32_t count = 45; // batches of 16 and 8 with a remainder
            std::vector<int32_t> frames(static_cast<size_t>(n) * count);
            uint32_t noise = 99;
            for (int32_t f = 0; f < count; ++f) {
                for (int32_t k = 0; k < n; ++k) {
                    noise = noise * 1664525u + 1013904223u;
                    const int32_t random = static_cast<int32_t>(noise);
                    const int32_t values[9] = {
                        INT32_MIN, INT32_MAX,          k % 2 ? INT32_MIN : INT32_MAX,
                        random,    random >> (f % 31), k == f ? 1 : 0,
                        0,         random >> 30,       (k / 7) % 2 ? 32767 : -32768};
                    frames[static_cast<size_t>(f) * n + k] = values[(f * 5) % 9];
                }
            }
            std::vector<uint32_t> words[2][2];
            for (int32_t side = 0; side < 2; ++side) {
                StreamState *s = side ? lanes : scalar;
                words[side][0].resize(count);
                words[side][1].resize(count);
                ASSERT_EQ(ENG_OK,
                          strm_analyze_frames(s, side ? path : STRM_PATH_SCALAR, frames.data(),
                                              count, words[side][0].data(), words[side][1].data()));
            }
            EXPECT_EQ(words[0][0], words[1][0]) << "id " << id << ", path " << path;
            EXPECT_EQ(words[0][1], words[1][1]) << "id " << id << ", path " << path;
            EXPECT_EQ(0, std::memcmp(scalar->previous_filter, lanes->previous_filter, 128));
            EXPECT_EQ(scalar->previous_exponent, lanes->previous_exponent);
            EXPECT_EQ(scalar->random.index, lanes->random.index);
            // Another state's path is refused.
            const StreamPath other = path == STRM_PATH_AVX2 ? STRM_PATH_AVX512 : STRM_PATH_AVX2;
            EXPECT_EQ(STRM_E_INVALID_ARG,
                      strm_analyze_frames(lanes, other, frames.data(), 1, words[1][0].data(),
                                          words[1][1].data()));
            strm_destroy(scalar);
            strm_destroy(lanes);
        }
    }
}

} // namespace
