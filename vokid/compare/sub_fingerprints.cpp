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

} // namespace vokid
