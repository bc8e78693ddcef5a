// The streaming fingerprint's vector paths against the plain scalar path
// over whole audio: any bytes at any rate, sample type and channel count,
// added in one call on the scalar path and in pieces cut where the input
// chooses on each vector path (which batches waiting frames, and analyses
// the few left at the end of a call one by one), to a block already partly
// filled. Every finished block and the whole state must be identical.
// Slower than the stage targets (up to 20000 frames of audio an input);
// fuzz_stream_paths_frames checks the analysis itself many times faster.
//
// Input: the choices from the back, the audio's pattern from the front.
#include <vector>

#include "fuzz/libvok/stream_paths.h"

using fuzz_support::require;

namespace {

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

    for (StreamPath path : stage::other_paths()) {
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
    stage::other_paths();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    compare_audio(in);
    return 0;
}
