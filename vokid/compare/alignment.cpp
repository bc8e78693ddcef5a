#include "vokid/compare/alignment.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "vokid/compare/popcount.h"

namespace vokid {

namespace {

// The search scores every offset on a sample of its pairs, then measures
// the best few exactly. A sample of 128 pairs (4096 bits) puts the bit
// error rate of unrelated sequences (0.5) many standard deviations above
// any threshold worth using; the sample budget keeps a 10-minute
// fingerprint against a 10-second one to a few milliseconds, and every
// offset gets at least that sample where its overlap has it.
constexpr uint64_t kSampleBudgetPairs = uint64_t{4} << 20;
constexpr uint64_t kMinSamplePairs = 128;
constexpr size_t kCandidates = 16;
constexpr int64_t kRefineRadius = 2; // neighbours measured around each candidate
constexpr uint64_t kMinOverlap = 256;

// Word i and word i + 1 of a sequence in one 64-bit lane, and the bits of
// the lane that count: those of words that are not quiet. Without quiet
// frames on either side every bit counts, and the masks are left out.
struct Lanes {
    std::vector<uint64_t> words;
    std::vector<uint64_t> counted;

    Lanes(const SubFingerprints &s, bool masked) : words(s.size())
    {
        for (size_t i = 0; i + 1 < s.size(); ++i)
            words[i] = s.words[i] | uint64_t{s.words[i + 1]} << 32;
        if (!masked)
            return;
        counted.resize(s.size());
        const auto bits = [&](size_t i) -> uint64_t { return s.quiet[i] ? 0u : 0xFFFFFFFFu; };
        for (size_t i = 0; i + 1 < s.size(); ++i)
            counted[i] = bits(i) | bits(i + 1) << 32;
    }
};

// How far an offset's bits stand from chance: unrelated sequences differ
// in half their bits, with a spread that shrinks as the square root of the
// bits counted. Ranking by this rather than by the bare bit error rate
// keeps a short overlap whose few bits happen to agree (the lowest of
// thousands of small samples) from beating a long one that truly matches.
double significance(uint64_t errors, uint64_t bits)
{
    if (bits == 0)
        return 0;
    const double counted = static_cast<double>(bits);
    return (0.5 - static_cast<double>(errors) / counted) * std::sqrt(counted);
}

struct Score {
    double significance; // higher is better
    int64_t offset;
};

struct Search {
    const Lanes &a;
    const Lanes &b;
    int64_t first; // lowest offset searched
    int64_t last;  // highest offset searched
    uint64_t stride;
};

// The pairs of B that overlap A at an offset: [begin, end).
std::pair<int64_t, int64_t> overlapAt(int64_t sizeA, int64_t sizeB, int64_t offset)
{
    return {std::max<int64_t>(0, -offset), std::min<int64_t>(sizeB, sizeA - offset)};
}

void keepBest(std::vector<Score> &best, Score score)
{
    if (best.size() == kCandidates && score.significance <= best.back().significance)
        return;
    if (best.size() == kCandidates)
        best.pop_back();
    best.insert(std::upper_bound(
                    best.begin(), best.end(), score,
                    [](const Score &x, const Score &y) { return x.significance > y.significance; }),
                score);
}

// Scores every offset on every stride-th lane of its overlap (each lane
// two pairs; an odd last pair is left to the exact measure), keeping the
// most significant.
template <bool Masked>
__attribute__((always_inline)) inline std::vector<Score> scanInline(const Search &search)
{
    std::vector<Score> best;
    const auto sizeA = static_cast<int64_t>(search.a.words.size());
    const auto sizeB = static_cast<int64_t>(search.b.words.size());
    const uint64_t *a = search.a.words.data();
    const uint64_t *b = search.b.words.data();
    const uint64_t *countedA = search.a.counted.data();
    const uint64_t *countedB = search.b.counted.data();
    for (int64_t offset = search.first; offset <= search.last; ++offset) {
        const auto range = overlapAt(sizeA, sizeB, offset);
        const auto overlap = static_cast<uint64_t>(range.second - range.first);
        const uint64_t stride =
            std::max<uint64_t>(1, std::min(search.stride, overlap / kMinSamplePairs));
        const auto step = static_cast<int64_t>(2 * stride);
        uint64_t errors = 0;
        uint64_t counted = 0;
        for (int64_t j = range.first; j + 1 < range.second; j += step) {
            const uint64_t differ = a[j + offset] ^ b[j];
            if (Masked) {
                const uint64_t both = countedA[j + offset] & countedB[j];
                errors += popcount64(differ & both);
                counted += popcount64(both);
            } else {
                errors += popcount64(differ);
                counted += 64;
            }
        }
        if (counted > 0)
            keepBest(best, Score{significance(errors, counted), offset});
    }
    return best;
}

template <bool Masked>
VOKID_POPCNT_TARGET std::vector<Score> scanWithInstruction(const Search &search)
{
    return scanInline<Masked>(search);
}

template <bool Masked>
std::vector<Score> scanPortable(const Search &search)
{
    return scanInline<Masked>(search);
}

std::vector<Score> scan(const Search &search, bool masked)
{
    if (hasPopcountInstruction())
        return masked ? scanWithInstruction<true>(search) : scanWithInstruction<false>(search);
    return masked ? scanPortable<true>(search) : scanPortable<false>(search);
}

__attribute__((always_inline)) inline Alignment
alignAtInline(const SubFingerprints &a, const SubFingerprints &b, int64_t offset)
{
    Alignment result;
    result.offset = offset;
    const auto range =
        overlapAt(static_cast<int64_t>(a.size()), static_cast<int64_t>(b.size()), offset);
    for (int64_t j = range.first; j < range.second; ++j) {
        const auto i = static_cast<size_t>(j + offset);
        const auto k = static_cast<size_t>(j);
        ++result.pairs;
        if (a.quiet[i] || b.quiet[k]) {
            ++result.quietPairs;
            continue;
        }
        const uint32_t differ = a.words[i] ^ b.words[k];
        const uint32_t strong = ~(a.weak[i] | b.weak[k]);
        result.errorBits += popcount32(differ);
        result.strongBits += popcount32(strong);
        result.strongErrors += popcount32(differ & strong);
    }
    return result;
}

VOKID_POPCNT_TARGET Alignment alignWithInstruction(const SubFingerprints &a,
                                                   const SubFingerprints &b, int64_t offset)
{
    return alignAtInline(a, b, offset);
}

Alignment alignPortable(const SubFingerprints &a, const SubFingerprints &b, int64_t offset)
{
    return alignAtInline(a, b, offset);
}

// Enough evidence for a verdict first, then the more significant; among
// equals, more evidence.
bool better(const Alignment &x, const Alignment &y)
{
    const bool xEnough = x.evidencePairs() >= kMinOverlap;
    const bool yEnough = y.evidencePairs() >= kMinOverlap;
    if (xEnough != yEnough)
        return xEnough;
    const double xSignificance = significance(x.errorBits, 32 * x.evidencePairs());
    const double ySignificance = significance(y.errorBits, 32 * y.evidencePairs());
    if (xSignificance != ySignificance)
        return xSignificance > ySignificance;
    return x.evidencePairs() > y.evidencePairs();
}

} // namespace

double Alignment::ber() const
{
    const uint64_t bits = 32 * evidencePairs();
    return bits ? static_cast<double>(errorBits) / static_cast<double>(bits) : -1.0;
}

double Alignment::strongBer() const
{
    return strongBits ? static_cast<double>(strongErrors) / static_cast<double>(strongBits) : -1.0;
}

Alignment alignAt(const SubFingerprints &a, const SubFingerprints &b, int64_t offset)
{
    return hasPopcountInstruction() ? alignWithInstruction(a, b, offset)
                                    : alignPortable(a, b, offset);
}

Alignment bestAlignment(const SubFingerprints &a, const SubFingerprints &b)
{
    if (a.size() == 0 || b.size() == 0)
        throw std::invalid_argument("an empty sub-fingerprint sequence has no alignment");
    const auto sizeA = static_cast<int64_t>(a.size());
    const auto sizeB = static_cast<int64_t>(b.size());
    const auto minOverlap =
        static_cast<int64_t>(std::min<uint64_t>({kMinOverlap, a.size(), b.size()}));

    const bool masked = a.anyQuiet() || b.anyQuiet();
    const Lanes lanesA(a, masked);
    const Lanes lanesB(b, masked);
    Search search{lanesA, lanesB, minOverlap - sizeB, sizeA - minOverlap, 1};
    uint64_t totalPairs = 0;
    for (int64_t offset = search.first; offset <= search.last; ++offset) {
        const auto range = overlapAt(sizeA, sizeB, offset);
        totalPairs += static_cast<uint64_t>(range.second - range.first);
    }
    search.stride = std::max<uint64_t>(1, totalPairs / kSampleBudgetPairs);
    const std::vector<Score> candidates = scan(search, masked);

    // Nothing to count anywhere (quiet frames throughout): report the
    // offset 0, or the nearest one searched.
    Alignment best = alignAt(a, b, std::clamp<int64_t>(0, search.first, search.last));
    std::vector<int64_t> measured;
    for (const Score &candidate : candidates) {
        for (int64_t offset = std::max(search.first, candidate.offset - kRefineRadius);
             offset <= std::min(search.last, candidate.offset + kRefineRadius); ++offset) {
            if (std::find(measured.begin(), measured.end(), offset) != measured.end())
                continue;
            measured.push_back(offset);
            const Alignment alignment = alignAt(a, b, offset);
            if (better(alignment, best))
                best = alignment;
        }
    }
    return best;
}

} // namespace vokid
