// A streaming fingerprint laid out for comparison: its sub-fingerprints,
// for each the weak bits of the nearest kept mask, and which ones stand
// for quiet frames.
#ifndef VOKID_COMPARE_SUB_FINGERPRINTS_H
#define VOKID_COMPARE_SUB_FINGERPRINTS_H

#include <cstdint>
#include <vector>

#include "vokid/document/document.h"

namespace vokid {

struct SubFingerprints {
    std::vector<uint32_t> words;
    std::vector<uint32_t> weak; // per word: the nearest kept mask
    std::vector<uint8_t> quiet; // per word: 1 for a quiet frame
    double frameSeconds = 0;    // seconds from one word to the next
    unsigned blockLength = 0;

    SubFingerprints() = default;
    explicit SubFingerprints(const Document &document);
    size_t size() const { return words.size(); }
    bool anyQuiet() const;
};

// Sub-fingerprints [from, from + length) of a sequence, clipped to it.
SubFingerprints stretchOf(const SubFingerprints &sequence, int64_t from, int64_t length);

} // namespace vokid

#endif
