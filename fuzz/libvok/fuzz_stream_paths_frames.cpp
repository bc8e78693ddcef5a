// The streaming fingerprint's vector paths against the plain scalar path,
// frame by frame: one batch of consecutive frames (1 to the path's 8 or 16
// lanes) with any previous exponent, filter history and generator
// position, analysed by strm_analyze_frames on the scalar path and on one
// vector path. The words, masks and the history left behind (which the
// next batch starts from) must be identical. Runs of several batches, and
// the frames the stream cuts itself, are fuzz_stream_paths_audio's.
//
// Every lane costs the scalar path a whole frame analysis (about 0.2 ms
// under the sanitizers), so an input takes one batch on one vector path:
// the history a batch starts from is the fuzzer's anyway, and the one it
// leaves is compared, which is what joins batches.
//
// Input: the choices from the back, the signal's pattern from the front.
#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz/libvok/stream_paths.h"

using fuzz_support::require;

namespace {

// Buffers kept from one input to the next: a batch of frames is up to
// 16 x 4096 samples, which the allocator would map and clear every time.
template <typename T>
T *room(std::vector<T> &buffer, size_t size)
{
    if (buffer.size() < size)
        buffer.resize(size);
    return buffer.data();
}

// The vector path (the widest or the narrowest this processor runs) and
// the frames to analyse.
struct Batch {
    StreamPath path;
    uint32_t id;
    int32_t count;
    stage::History history;
};

Batch batch_of(FuzzedDataProvider &in)
{
    const std::vector<StreamPath> &paths = stage::other_paths();
    Batch batch;
    batch.path = in.ConsumeBool() ? paths.back() : paths.front();
    batch.id = in.ConsumeIntegralInRange<uint32_t>(3, 5);
    const int32_t lanes = std::max(stage::lanes(batch.path), 8);
    batch.count = in.ConsumeIntegralInRange<int32_t>(1, lanes);
    batch.history.previous_exponent = in.ConsumeIntegral<int32_t>();
    for (int32_t &v : batch.history.previous_filter)
        v = in.ConsumeIntegral<int32_t>();
    strm_random_start(&batch.history.random);
    batch.history.random.index = in.ConsumeIntegralInRange<int32_t>(0, STRM_RANDOM_WORDS - 1);
    return batch;
}

void compare_frames(FuzzedDataProvider &in)
{
    static std::vector<int32_t> signal_buffer, frames_buffer;
    static std::vector<uint32_t> expected_buffer, results_buffer;
    const Batch batch = batch_of(in);
    const fuzz_support::Signal signal(in);

    stage::Finished finished;
    StreamState *scalar =
        stage::state_for(STRM_PATH_SCALAR, batch.id, 0, SAMPLE_PCM_S16, 1, 0, 0, finished);
    const size_t n = static_cast<size_t>(stage::frame_length(scalar));
    const size_t hop = static_cast<size_t>(stage::hop(scalar));
    const size_t count = static_cast<size_t>(batch.count);
    // Consecutive frames of one signal, a hop apart, as the stream makes
    // them: the stretch they cover is made once and copied from.
    const size_t stretch = n + hop * (count - 1);
    int32_t *signal_samples = room(signal_buffer, stretch);
    signal.fill(signal_samples, stretch);
    int32_t *frames = room(frames_buffer, n * count);
    for (size_t f = 0; f < count; ++f)
        std::memcpy(frames + n * f, signal_samples + hop * f, n * sizeof(int32_t));
    uint32_t *expected = room(expected_buffer, 2 * count);
    stage::set_history(scalar, batch.history);
    stage::analyse(scalar, STRM_PATH_SCALAR, frames, batch.count, expected, expected + count);

    StreamState *s = stage::state_for(batch.path, batch.id, 0, SAMPLE_PCM_S16, 1, 0, 0, finished);
    uint32_t *results = room(results_buffer, 2 * count);
    stage::set_history(s, batch.history);
    stage::analyse(s, batch.path, frames, batch.count, results, results + count);
    require(std::equal(expected, expected + 2 * count, results),
            "the same words and masks on every path");
    require(stage::history_of(s) == stage::history_of(scalar), "the same history on every path");
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
