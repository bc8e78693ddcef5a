// The streaming fingerprint's vector paths against the plain scalar path,
// on the same input:
// - frames: consecutive frames (1 to a few batches of lanes) with any
//   previous exponent, filter history and generator position, analysed by
//   strm_analyze_frames on each path;
// - audio: any bytes at any rate, sample type and channel count, added in
//   one call on the scalar path and in pieces cut where the input chooses on
//   each vector path (which batches waiting frames, and analyses the few
//   left at the end of a call one by one), to a block already partly filled.
// Every sub-fingerprint, mask, finished block and what carries over (the
// difference filter, the previous exponent, the generator, the rings, the
// phase) must be identical. On a processor without a vector path the scalar
// path is compared with itself, which the target says once.
//
// Input: the choices from the back, the signal's or the audio's pattern
// from the front.
#include <array>
#include <cstring>
#include <map>
#include <tuple>
#include <vector>

#include "algo/stream/strm_lanes.h"
#include "engine/eng_memory.h"
#include "fuzz/fuzz_support.h"

using fuzz_support::require;

// --- Adapter: the paths as this target reaches them -------------------------------

namespace stage {

// The vector paths this build and processor run.
std::vector<StreamPath> vector_paths()
{
    std::vector<StreamPath> paths;
    for (StreamPath path : {STRM_PATH_AVX2, STRM_PATH_AVX512})
        if (strm_path_available(path))
            paths.push_back(path);
    return paths;
}

int32_t lanes(StreamPath path)
{
    return strm_path_lanes(path);
}

// Every sub-fingerprint and mask of the blocks finished, in order.
struct Finished {
    StreamState *state;
    std::vector<uint32_t> words;
};

ResultCode collect(const uint8_t *encoded, void *context)
{
    auto *f = static_cast<Finished *>(context);
    f->words.insert(f->words.end(), f->state->fingerprints,
                    f->state->fingerprints + STRM_BLOCK_WORDS);
    f->words.insert(f->words.end(), f->state->masks, f->state->masks + STRM_BLOCK_WORDS);
    return strm_block_done(encoded, f->state);
}

// One state per path and format, made on first use and kept (reachable) to
// the end of the process; restarted as if new, its current block filled to
// `count` with `fill` and its finished blocks collected into `finished`.
StreamState *state_for(StreamPath path, uint32_t id, int32_t row, SampleType type,
                       uint32_t channels, int32_t count, uint32_t fill, Finished &finished)
{
    static auto &states =
        *new std::map<std::tuple<int, uint32_t, int32_t, SampleType, uint32_t>, StreamState *>;
    StreamState *&s = states[{path, id, row, type, channels}];
    if (!s) {
        void *made = nullptr;
        require(strm_use_path(path) == ENG_OK, "path exists");
        require(strm_create(id, strm_rate_of_row(row), type, channels, &made) == ENG_OK,
                "state created");
        strm_use_path(STRM_PATH_BEST);
        s = static_cast<StreamState *>(made);
        require(s->path == path, "the state takes its path");
    }
    strm_reset(s);
    s->random_index = 0;
    std::memcpy(s->random_words, strm_random_seed(), sizeof s->random_words);
    while (EncodedBlock *block = s->blocks) {
        s->blocks = block->next;
        eng_free(block->text);
        eng_free(block);
    }
    s->last_block = nullptr;
    s->ready = 0;
    for (int32_t k = 0; k < count; ++k) {
        s->fingerprints[k] = fill + static_cast<uint32_t>(k);
        s->masks[k] = ~fill - static_cast<uint32_t>(k);
    }
    s->count = count;
    finished = {s, {}};
    s->block_handler = collect;
    s->block_context = &finished;
    return s;
}

struct History {
    int32_t previous_exponent;
    std::array<int32_t, STRM_FILTER_COUNT> previous_filter;
    int32_t random_index;
    std::array<uint32_t, STRM_RANDOM_WORDS> random_words;
};

void set_history(StreamState *s, const History &h)
{
    s->previous_exponent = h.previous_exponent;
    std::memcpy(s->previous_filter, h.previous_filter.data(), sizeof s->previous_filter);
    s->random_index = h.random_index;
    std::memcpy(s->random_words, h.random_words.data(), sizeof s->random_words);
}

// Everything that carries over, and the current block.
std::vector<int64_t> carried(const StreamState *s)
{
    std::vector<int64_t> out = {s->previous_exponent, s->random_index, s->count,
                                s->ring_position,     s->ring_filled,  s->have_previous_frame,
                                s->input_index,       s->phase,        s->ready};
    out.insert(out.end(), s->previous_filter, s->previous_filter + STRM_FILTER_COUNT);
    out.insert(out.end(), s->random_words, s->random_words + STRM_RANDOM_WORDS);
    out.insert(out.end(), s->fingerprints, s->fingerprints + s->count);
    out.insert(out.end(), s->masks, s->masks + s->count);
    out.insert(out.end(), s->frame_ring, s->frame_ring + s->frame_length);
    out.insert(out.end(), s->input_ring, s->input_ring + 2 * STRM_INPUT_RING);
    for (const EncodedBlock *b = s->blocks; b; b = b->next)
        out.insert(out.end(), b->text, b->text + b->length);
    return out;
}

int32_t frame_length(const StreamState *s)
{
    return s->frame_length;
}
int32_t hop(const StreamState *s)
{
    return s->hop;
}

void analyse(StreamState *s, StreamPath path, const std::vector<int32_t> &frames, int32_t count,
             std::vector<uint32_t> &results)
{
    results.resize(2 * static_cast<size_t>(count));
    require(strm_analyze_frames(s, path, frames.data(), count, results.data(),
                                results.data() + count) == ENG_OK,
            "frames analysed");
}

void add(StreamState *s, const uint8_t *bytes, size_t count)
{
    static const uint8_t none = 0; // an empty vector may have no array
    uint8_t ready = 0;
    const ResultCode added =
        strm_add_audio(s, count ? bytes : &none, static_cast<uint32_t>(count), &ready);
    require(added == ENG_OK, "audio added");
}

} // namespace stage

namespace {

// The paths compared with the scalar one: the vector paths, or, on a
// processor without any, the scalar path itself.
const std::vector<StreamPath> &other_paths()
{
    static const std::vector<StreamPath> paths = [] {
        std::vector<StreamPath> found = stage::vector_paths();
        if (found.empty()) {
            std::fprintf(stderr, "fuzz_stream_paths: this processor runs no vector path; "
                                 "the scalar path is compared with itself\n");
            found.push_back(STRM_PATH_SCALAR);
        }
        return found;
    }();
    return paths;
}

void compare_frames(FuzzedDataProvider &in)
{
    const uint32_t id = in.ConsumeIntegralInRange<uint32_t>(3, 5);
    const int32_t count = in.ConsumeIntegralInRange<int32_t>(1, 2 * STRM_MAX_LANES + 1);
    stage::History history;
    history.previous_exponent = in.ConsumeIntegral<int32_t>();
    for (int32_t &v : history.previous_filter)
        v = in.ConsumeIntegral<int32_t>();
    history.random_index = in.ConsumeIntegralInRange<int32_t>(0, STRM_RANDOM_WORDS - 1);
    std::memcpy(history.random_words.data(), strm_random_seed(), sizeof history.random_words);
    const fuzz_support::Signal signal(in);

    stage::Finished finished;
    StreamState *scalar =
        stage::state_for(STRM_PATH_SCALAR, id, 0, SAMPLE_PCM_S16, 1, 0, 0, finished);
    const size_t n = static_cast<size_t>(stage::frame_length(scalar));
    const size_t hop = static_cast<size_t>(stage::hop(scalar));
    // Consecutive frames of one signal, a hop apart, as the stream makes them.
    std::vector<int32_t> frames(n * static_cast<size_t>(count));
    for (int32_t f = 0; f < count; ++f)
        signal.fill(frames.data() + n * static_cast<size_t>(f), n, hop * static_cast<size_t>(f));
    stage::set_history(scalar, history);
    std::vector<uint32_t> expected;
    stage::analyse(scalar, STRM_PATH_SCALAR, frames, count, expected);
    const std::vector<int64_t> carried = stage::carried(scalar);

    for (StreamPath path : other_paths()) {
        StreamState *s = stage::state_for(path, id, 0, SAMPLE_PCM_S16, 1, 0, 0, finished);
        stage::set_history(s, history);
        std::vector<uint32_t> results;
        stage::analyse(s, path, frames, count, results);
        require(results == expected, "the same words and masks on every path");
        require(stage::carried(s) == carried, "the same history on every path");
    }
}

void compare_audio(FuzzedDataProvider &in)
{
    const uint32_t id = in.ConsumeIntegralInRange<uint32_t>(3, 5);
    const int32_t row = in.ConsumeIntegralInRange<int32_t>(0, STRM_RATE_COUNT - 1);
    const SampleType type = in.ConsumeIntegralInRange<SampleType>(SAMPLE_PCM_U8, SAMPLE_MULAW);
    const uint32_t channels = in.ConsumeBool() ? 2 : 1;
    const int32_t count = in.ConsumeIntegralInRange<int32_t>(0, STRM_BLOCK_WORDS - 1);
    const uint32_t fill = in.ConsumeIntegral<uint32_t>();
    // Up to 20000 frames: at 8000 Hz, 13781 resampled samples, the ring's
    // 2048 and 183 frames analysed more, enough to finish a block begun
    // with at least 73 entries (id 3 and 4).
    const size_t wanted = in.ConsumeIntegralInRange<size_t>(0, 20000);
    std::vector<size_t> cuts(in.ConsumeIntegralInRange<size_t>(0, 16));
    for (size_t &cut : cuts)
        cut = in.ConsumeIntegralInRange<size_t>(0, 1 << 13);
    const fuzz_support::Audio audio = fuzz_support::repeated_audio(in, wanted, type, channels);

    stage::Finished expected;
    StreamState *scalar =
        stage::state_for(STRM_PATH_SCALAR, id, row, type, channels, count, fill, expected);
    stage::add(scalar, audio.bytes.data(), audio.bytes.size());
    const std::vector<int64_t> carried = stage::carried(scalar);

    for (StreamPath path : other_paths()) {
        stage::Finished finished;
        StreamState *s = stage::state_for(path, id, row, type, channels, count, fill, finished);
        fuzz_support::in_pieces(audio, cuts, [&](size_t, size_t at, size_t bytes) {
            stage::add(s, audio.bytes.data() + at, bytes);
        });
        require(finished.words == expected.words, "the same blocks on every path");
        require(stage::carried(s) == carried, "the same state on every path");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_support::start_engine();
    other_paths();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    if (in.ConsumeBool())
        compare_audio(in);
    else
        compare_frames(in);
    return 0;
}
