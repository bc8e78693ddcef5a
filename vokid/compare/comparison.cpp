#include "vokid/compare/comparison.h"

#include <stdexcept>

namespace vokid {

StreamComparison compareStreaming(const SubFingerprints &first, const SubFingerprints &second,
                                  double threshold)
{
    if (first.blockLength != second.blockLength)
        throw std::invalid_argument("the fingerprints have different block lengths");
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

bool improves(const StreamComparison &x, const StreamComparison &y)
{
    if (x.sameRecording != y.sameRecording)
        return x.sameRecording;
    const double xBer = x.alignment.ber(), yBer = y.alignment.ber();
    return xBer >= 0 && (yBer < 0 || xBer < yBer);
}

uint64_t spectralDistance(const std::vector<uint32_t> &a, const std::vector<uint32_t> &b)
{
    if (a.size() != b.size())
        throw std::invalid_argument("spectral fingerprints of different sizes");
    uint64_t distance = 0;
    for (size_t i = 0; i < a.size(); ++i)
        distance += a[i] > b[i] ? a[i] - b[i] : b[i] - a[i];
    return distance;
}

} // namespace vokid
