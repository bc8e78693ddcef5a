#include "vokid/compare/sub_fingerprints.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>

#include "vokid/support/engine.h"

namespace vokid {

namespace {

// A block is 256 hops: 2.97 s or 5.94 s, named by its whole seconds.
unsigned blockLengthOf(double frameSeconds)
{
    return static_cast<unsigned>(std::lround(ENG_BLOCK_FRAMES * frameSeconds));
}

// The grid read off a handle that has had no audio.
StreamGrid askEngine(uint32_t algorithm)
{
    startEngine();
    EngineHandle *handle = nullptr;
    checkEngine("create a fingerprint", eng_create(algorithm, SAMPLE_PCM_S16, 44100, 1, &handle));
    EngineFrames frames{};
    const ResultCode result = eng_stream_frames(handle, &frames);
    eng_destroy(&handle);
    checkEngine("give the frames", result);
    StreamGrid grid;
    grid.frameSeconds = frames.frame_seconds;
    grid.firstOffsetSeconds = frames.first_offset_seconds;
    grid.blockLength = blockLengthOf(frames.frame_seconds);
    return grid;
}

} // namespace

const StreamGrid &streamGrid(uint32_t algorithm)
{
    static std::once_flag asked[3];
    static std::array<StreamGrid, 3> grids;
    if (algorithm < ENG_ALG_STREAM1 || algorithm > ENG_ALG_STREAM6)
        throw EngineError("know the grid of", ENG_E_UNKNOWN_ALGORITHM);
    const size_t k = algorithm - ENG_ALG_STREAM1;
    std::call_once(asked[k], [&] { grids[k] = askEngine(algorithm); });
    return grids[k];
}

SubFingerprints SubFingerprints::of(const EngineFrames &frames, size_t count)
{
    const size_t n = std::min(count, frames.count);
    SubFingerprints out;
    out.words.assign(frames.words, frames.words + n);
    out.weak.assign(frames.masks, frames.masks + n);
    out.quiet.assign(frames.quiet, frames.quiet + n);
    out.frameSeconds = frames.frame_seconds;
    out.blockLength = blockLengthOf(frames.frame_seconds);
    return out;
}

bool SubFingerprints::anyQuiet() const
{
    return std::find(quiet.begin(), quiet.end(), 1) != quiet.end();
}

EngineFrames SubFingerprints::engineFrames(uint32_t algorithm, size_t complete) const
{
    EngineFrames frames{};
    frames.algorithm = algorithm;
    frames.count = words.size();
    frames.complete = std::min(complete, words.size());
    frames.frame_seconds = frameSeconds;
    frames.words = words.data();
    frames.masks = weak.data();
    frames.quiet = quiet.data();
    return frames;
}

SubFingerprints stretchOf(const SubFingerprints &sequence, int64_t from, int64_t length)
{
    SubFingerprints out;
    out.frameSeconds = sequence.frameSeconds;
    out.blockLength = sequence.blockLength;
    const auto size = static_cast<int64_t>(sequence.size());
    const int64_t begin = std::clamp<int64_t>(from, 0, size);
    const int64_t end = std::clamp<int64_t>(from + length, begin, size);
    out.words.assign(sequence.words.begin() + begin, sequence.words.begin() + end);
    out.weak.assign(sequence.weak.begin() + begin, sequence.weak.begin() + end);
    out.quiet.assign(sequence.quiet.begin() + begin, sequence.quiet.begin() + end);
    return out;
}

} // namespace vokid
