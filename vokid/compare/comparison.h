// Comparing two fingerprints: for streaming ones, the best alignment and a
// verdict; for spectral ones, the distance of their values.
#ifndef VOKID_COMPARE_COMPARISON_H
#define VOKID_COMPARE_COMPARISON_H

#include <cstdint>

#include "vokid/compare/acceptance.h"
#include "vokid/compare/alignment.h"
#include "vokid/document/document.h"

namespace vokid {

struct StreamComparison {
    Alignment alignment;
    double frameSeconds = 0;
    double threshold = kAcceptance.maxBer; // as applied to the pairs counted
    bool sameRecording = false;

    double offsetSeconds() const { return static_cast<double>(alignment.offset) * frameSeconds; }
    double overlapSeconds() const { return static_cast<double>(alignment.pairs) * frameSeconds; }
};

// Both documents streaming, with the same block length. The verdict is the
// acceptance rule's, with `threshold` as its bit error rate over a full
// clip's pairs.
StreamComparison compareStreaming(const Document &a, const Document &b, double threshold);

// Both documents spectral: the sum of the absolute differences of their
// 30 values.
uint64_t spectralDistance(const Document &a, const Document &b);

} // namespace vokid

#endif
