// The streaming fingerprint's paths as the two path-comparing fuzz targets
// reach them (fuzz_stream_paths_frames, fuzz_stream_paths_audio): the
// vector paths this processor runs, a state per path and format kept for
// the process, its history set and read back, frames analysed and audio
// added. Every sub-fingerprint, mask, finished block and what carries over
// (the difference filter, the previous exponent, the generator, the rings,
// the phase) must be identical on every path. On a processor without a
// vector path the scalar path is compared with itself, which the target
// says once.
#ifndef VOK_FUZZ_LIBVOK_STREAM_PATHS_H
#define VOK_FUZZ_LIBVOK_STREAM_PATHS_H

#include <array>
#include <cstring>
#include <map>
#include <tuple>
#include <vector>

#include "algo/stream/strm_lanes.h"
#include "engine/eng_memory.h"
#include "fuzz/fuzz_support.h"

namespace stage {

using fuzz_support::require;

// The vector paths this build and processor run.
inline std::vector<StreamPath> vector_paths()
{
    std::vector<StreamPath> paths;
    for (StreamPath path : {STRM_PATH_AVX2, STRM_PATH_AVX512})
        if (strm_path_available(path))
            paths.push_back(path);
    return paths;
}

inline int32_t lanes(StreamPath path)
{
    return strm_path_lanes(path);
}

// Every sub-fingerprint and mask of the blocks finished, in order.
struct Finished {
    StreamState *state;
    std::vector<uint32_t> words;
};

inline ResultCode collect(const uint8_t *encoded, void *context)
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
inline StreamState *state_for(StreamPath path, uint32_t id, int32_t row, SampleType type,
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
    strm_random_start(&s->random);
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
    StreamRandom random;
};

inline void set_history(StreamState *s, const History &h)
{
    s->previous_exponent = h.previous_exponent;
    std::memcpy(s->previous_filter, h.previous_filter.data(), sizeof s->previous_filter);
    s->random = h.random;
}

inline History history_of(const StreamState *s)
{
    History h;
    h.previous_exponent = s->previous_exponent;
    std::memcpy(h.previous_filter.data(), s->previous_filter, sizeof s->previous_filter);
    h.random = s->random;
    return h;
}

inline bool operator==(const History &a, const History &b)
{
    return a.previous_exponent == b.previous_exponent && a.previous_filter == b.previous_filter &&
           a.random.index == b.random.index &&
           std::memcmp(a.random.words, b.random.words, sizeof a.random.words) == 0;
}

// Everything that carries over, and the current block.
inline std::vector<int64_t> carried(const StreamState *s)
{
    std::vector<int64_t> out = {s->previous_exponent, s->random.index, s->count,
                                s->ring_position,     s->ring_filled,  s->have_previous_frame,
                                s->input_index,       s->phase,        s->ready};
    out.insert(out.end(), s->previous_filter, s->previous_filter + STRM_FILTER_COUNT);
    out.insert(out.end(), s->random.words, s->random.words + STRM_RANDOM_WORDS);
    out.insert(out.end(), s->fingerprints, s->fingerprints + s->count);
    out.insert(out.end(), s->masks, s->masks + s->count);
    out.insert(out.end(), s->frame_ring, s->frame_ring + s->frame_length);
    out.insert(out.end(), s->input_ring, s->input_ring + 2 * STRM_INPUT_RING);
    for (const EncodedBlock *b = s->blocks; b; b = b->next)
        out.insert(out.end(), b->text, b->text + b->length);
    return out;
}

inline int32_t frame_length(const StreamState *s)
{
    return s->frame_length;
}
inline int32_t hop(const StreamState *s)
{
    return s->hop;
}

inline void analyse(StreamState *s, StreamPath path, const int32_t *frames, int32_t count,
                    uint32_t *words, uint32_t *masks)
{
    require(strm_analyze_frames(s, path, frames, count, words, masks) == ENG_OK, "frames analysed");
}

inline void add(StreamState *s, const uint8_t *bytes, size_t count)
{
    static const uint8_t none = 0; // an empty vector may have no array
    uint8_t ready = 0;
    const ResultCode added =
        strm_add_audio(s, count ? bytes : &none, static_cast<uint32_t>(count), &ready);
    require(added == ENG_OK, "audio added");
}

// The paths compared with the scalar one: the vector paths, or, on a
// processor without any, the scalar path itself.
inline const std::vector<StreamPath> &other_paths()
{
    static const std::vector<StreamPath> paths = [] {
        std::vector<StreamPath> found = stage::vector_paths();
        if (found.empty()) {
            std::fprintf(stderr, "this processor runs no vector path; "
                                 "the scalar path is compared with itself\n");
            found.push_back(STRM_PATH_SCALAR);
        }
        return found;
    }();
    return paths;
}

} // namespace stage

#endif
