// Comparing two fingerprints: for streaming ones, the best alignment and a
// verdict; for spectral ones, the distance of their values.
#ifndef VOKID_COMPARE_COMPARISON_H
#define VOKID_COMPARE_COMPARISON_H

#include <cstdint>

#include <vector>

#include "vokid/compare/acceptance.h"
#include "vokid/compare/alignment.h"

namespace vokid {

struct StreamComparison {
    Alignment alignment;
    double frameSeconds = 0;
    double threshold = kAcceptance.maxBer; // as applied to the pairs counted
    bool sameRecording = false;

    double offsetSeconds() const { return static_cast<double>(alignment.offset) * frameSeconds; }
    double overlapSeconds() const { return static_cast<double>(alignment.pairs) * frameSeconds; }
};

// Two sequences of the same block length. The verdict is the acceptance
// rule's, with `threshold` as its bit error rate over a full clip's pairs.
StreamComparison compareStreaming(const SubFingerprints &a, const SubFingerprints &b,
                                  double threshold);

// Two spectral fingerprints: the sum of the absolute differences of their
// values.
uint64_t spectralDistance(const std::vector<uint32_t> &a, const std::vector<uint32_t> &b);

} // namespace vokid

#endif
