#include "vokid/compare/sub_fingerprints.h"

#include <algorithm>
#include <stdexcept>

#include "vokid/document/block_decoder.h"

namespace vokid {

SubFingerprints::SubFingerprints(const Document &document)
    : words(document.words), quiet(document.quiet), frameSeconds(document.frameSeconds()),
      blockLength(document.blockLength)
{
    if (document.family != Family::Streaming)
        throw std::invalid_argument("a spectral fingerprint has no sub-fingerprints");
    weak.resize(words.size());
    for (size_t i = 0; i < words.size(); ++i) {
        const size_t block = i / kBlockWords;
        weak[i] = document.masks[block * kKeptMasks + nearestKeptMask(i % kBlockWords)];
    }
}

bool SubFingerprints::anyQuiet() const
{
    return std::find(quiet.begin(), quiet.end(), 1) != quiet.end();
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
