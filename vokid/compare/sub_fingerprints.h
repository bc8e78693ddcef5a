// A streaming fingerprint laid out for comparison: its sub-fingerprints,
// for each the weak bits of the nearest kept mask, and which ones stand
// for quiet frames; with where they stand in time. Made from the engine's
// frames (a handle's or a decoded document's).
#ifndef VOKID_COMPARE_SUB_FINGERPRINTS_H
#define VOKID_COMPARE_SUB_FINGERPRINTS_H

#include <cstdint>
#include <vector>

#include <vok/vok_engine.h>

namespace vokid {

// Where the sub-fingerprints of an algorithm stand in time, as the engine
// tells it.
struct StreamGrid {
    double frameSeconds = 0;       // from one sub-fingerprint to the next
    double firstOffsetSeconds = 0; // audio the first one has heard
    unsigned blockLength = 0;      // seconds a block stands for: 3, or 6
};

// The grid of a streaming algorithm id (ENG_ALG_STREAM1, ...). Throws
// EngineError for another id.
const StreamGrid &streamGrid(uint32_t algorithm);

struct SubFingerprints {
    std::vector<uint32_t> words;
    std::vector<uint32_t> weak; // per word: the nearest kept mask
    std::vector<uint8_t> quiet; // per word: 1 for a quiet frame
    double frameSeconds = 0;    // seconds from one word to the next
    unsigned blockLength = 0;   // 3 or 6: sequences of other lengths do not compare

    // The first `count` of the engine's frames (all when count is larger).
    static SubFingerprints of(const EngineFrames &frames, size_t count = SIZE_MAX);

    size_t size() const { return words.size(); }
    bool anyQuiet() const;
    // The engine's view of these frames (valid while they live).
    EngineFrames engineFrames(uint32_t algorithm, size_t complete) const;
};

// Sub-fingerprints [from, from + length) of a sequence, clipped to it.
SubFingerprints stretchOf(const SubFingerprints &sequence, int64_t from, int64_t length);

} // namespace vokid

#endif
