// Comparing two fingerprints: for streaming ones, the best alignment and a
// verdict; for spectral ones, the distance of their values.
#ifndef VOKID_COMPARE_COMPARISON_H
#define VOKID_COMPARE_COMPARISON_H

#include <cstdint>

#include "vokid/compare/alignment.h"
#include "vokid/document/document.h"

namespace vokid {

// The long-standing threshold for this family of fingerprints: the share
// of differing bits at or below which two recordings are the same.
constexpr double kDefaultThreshold = 0.35;

// Pairs without a quiet frame that a verdict of "same recording" needs:
// one block's worth, about 3 s.
constexpr uint64_t kEvidencePairs = 256;

struct StreamComparison {
    Alignment alignment;
    double frameSeconds = 0;
    double threshold = kDefaultThreshold;
    bool sameRecording = false;

    double offsetSeconds() const { return static_cast<double>(alignment.offset) * frameSeconds; }
    double overlapSeconds() const { return static_cast<double>(alignment.pairs) * frameSeconds; }
};

// Both documents streaming, with the same block length.
StreamComparison compareStreaming(const Document &a, const Document &b, double threshold);

// Both documents spectral: the sum of the absolute differences of their
// 30 values.
uint64_t spectralDistance(const Document &a, const Document &b);

} // namespace vokid

#endif
