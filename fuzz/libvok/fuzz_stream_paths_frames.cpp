// The streaming fingerprint's vector paths against the plain scalar path,
// frame by frame: consecutive frames (1 to a few batches of lanes) with any
// previous exponent, filter history and generator position, analysed by
// strm_analyze_frames on each path. The words, masks and the history left
// behind must be identical.
//
// Input: the choices from the back, the signal's pattern from the front.
#include <cstring>
#include <vector>

#include "fuzz/libvok/stream_paths.h"

using fuzz_support::require;

namespace {

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

    for (StreamPath path : stage::other_paths()) {
        StreamState *s = stage::state_for(path, id, 0, SAMPLE_PCM_S16, 1, 0, 0, finished);
        stage::set_history(s, history);
        std::vector<uint32_t> results;
        stage::analyse(s, path, frames, count, results);
        require(results == expected, "the same words and masks on every path");
        require(stage::carried(s) == carried, "the same history on every path");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_support::start_engine();
    stage::other_paths();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    compare_frames(in);
    return 0;
}
