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
    // The hypothesis B was found at, relative to A: 1.03 for B played 3%
    // fast (pitch too), or its tempo 3% faster (pitch kept); at most one
    // of them differs from 1.
    double speed = 1;
    double tempo = 1;

    double offsetSeconds() const { return static_cast<double>(alignment.offset) * frameSeconds; }
    double overlapSeconds() const { return static_cast<double>(alignment.pairs) * frameSeconds; }
};

// Two sequences of the same block length. The verdict is the acceptance
// rule's, with `threshold` as its bit error rate over a full clip's pairs.
StreamComparison compareStreaming(const SubFingerprints &a, const SubFingerprints &b,
                                  double threshold);

// Whether x is the better finding of the same pair: the one the
// acceptance rule takes, then the lower bit error rate.
bool improves(const StreamComparison &x, const StreamComparison &y);

// Two spectral fingerprints: the sum of the absolute differences of their
// values.
uint64_t spectralDistance(const std::vector<uint32_t> &a, const std::vector<uint32_t> &b);

} // namespace vokid

#endif
