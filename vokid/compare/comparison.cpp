#include "vokid/compare/comparison.h"

#include <stdexcept>

namespace vokid {

StreamComparison compareStreaming(const Document &a, const Document &b, double threshold)
{
    if (a.family != Family::Streaming || b.family != Family::Streaming)
        throw std::invalid_argument("both fingerprints must be streaming ones");
    if (a.blockLength != b.blockLength)
        throw std::invalid_argument("the fingerprints have different block lengths");
    const SubFingerprints first(a);
    const SubFingerprints second(b);
    StreamComparison comparison;
    comparison.frameSeconds = first.frameSeconds;
    comparison.threshold = threshold;
    if (first.size() == 0 || second.size() == 0)
        return comparison; // no overlap: "different"
    comparison.alignment = bestAlignment(first, second);
    // Quiet frames are never evidence: only the other pairs count. There is
    // no other candidate: the runner-up is chance.
    AcceptanceRule rule = kAcceptance;
    rule.maxBer = threshold;
    comparison.sameRecording = accepts(rule, comparison.alignment);
    comparison.threshold = rule.threshold(comparison.alignment.evidencePairs());
    return comparison;
}

uint64_t spectralDistance(const Document &a, const Document &b)
{
    if (a.family != Family::Spectral || b.family != Family::Spectral ||
        a.values.size() != b.values.size())
        throw std::invalid_argument("both fingerprints must be spectral ones");
    uint64_t distance = 0;
    for (size_t i = 0; i < a.values.size(); ++i)
        distance +=
            a.values[i] > b.values[i] ? a.values[i] - b.values[i] : b.values[i] - a.values[i];
    return distance;
}

} // namespace vokid
