#include "vokid/search/word_ring.h"

#include <algorithm>

namespace vokid {

void WordRing::append(const SubFingerprints &more)
{
    held.frameSeconds = more.frameSeconds;
    held.blockLength = more.blockLength;
    held.words.insert(held.words.end(), more.words.begin(), more.words.end());
    held.weak.insert(held.weak.end(), more.weak.begin(), more.weak.end());
    held.quiet.insert(held.quiet.end(), more.quiet.begin(), more.quiet.end());
}

void WordRing::dropBefore(int64_t position)
{
    if (position <= begin())
        return;
    dropped = static_cast<size_t>(std::min(position, end()) - base);
    // The dropped words are erased once they are as many as those kept:
    // each word is moved at most once on average, and the vectors never
    // hold more than twice what is kept.
    if (dropped * 2 < held.words.size())
        return;
    const auto cut = static_cast<std::ptrdiff_t>(dropped);
    held.words.erase(held.words.begin(), held.words.begin() + cut);
    held.weak.erase(held.weak.begin(), held.weak.begin() + cut);
    held.quiet.erase(held.quiet.begin(), held.quiet.begin() + cut);
    base += cut;
    dropped = 0;
}

SubFingerprints WordRing::stretch(int64_t from, int64_t length) const
{
    const int64_t first = std::max(from, begin());
    const int64_t last = std::min(from + std::max<int64_t>(length, 0), end());
    SubFingerprints out = stretchOf(held, 0, 0);
    if (last > first)
        out = stretchOf(held, first - base, last - first);
    return out;
}

} // namespace vokid
