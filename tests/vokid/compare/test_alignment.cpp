// Comparison on sequences built here: the offset found wherever B lies in
// A, the bit error rates counted independently, quiet frames never taken
// as evidence, the verdict's rule, and the spectral distance.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "vokid/compare/comparison.h"

namespace {

using vokid::SubFingerprints;

// A sequence of `blocks` blocks of random words on the three-second grid;
// every word's weak bits are its 14 low bits.
SubFingerprints randomSequence(size_t blocks, uint32_t seed)
{
    std::mt19937 random(seed);
    SubFingerprints sequence;
    sequence.frameSeconds = 64 / 5512.5;
    sequence.blockLength = 3;
    for (size_t i = 0; i < blocks * 256; ++i)
        sequence.words.push_back(static_cast<uint32_t>(random()));
    sequence.weak.assign(sequence.words.size(), 0x00003FFFu);
    sequence.quiet.assign(sequence.words.size(), 0);
    return sequence;
}

// B: `length` words of A from `start` (which may lie outside A: those are
// random words), with `flips` bits flipped in every word, in strong bits
// (above the 14 weak ones) when `strong`.
SubFingerprints excerpt(const SubFingerprints &a, long start, size_t length, unsigned flips,
                        bool strong)
{
    SubFingerprints b = randomSequence((length + 255) / 256, 99);
    std::mt19937 random(5);
    for (size_t j = 0; j < length; ++j) {
        const long i = start + static_cast<long>(j);
        if (i >= 0 && i < static_cast<long>(a.words.size()))
            b.words[j] = a.words[static_cast<size_t>(i)];
        for (unsigned f = 0; f < flips; ++f)
            b.words[j] ^= 1u << (strong ? 14 + f : f); // at most 18 strong or 14 weak bits
    }
    b.words.resize(length);
    b.weak.resize(length);
    b.quiet.resize(length);
    return b;
}

TEST(VokidAlignment, FindsWhereBLiesInA)
{
    const SubFingerprints a = randomSequence(12, 1); // 3072 words, about 36 s
    const struct {
        long start;
        size_t length;
        unsigned flips;
    } cases[] = {{0, 512, 0}, {700, 768, 3}, {2600, 768, 8}, {-300, 768, 5}, {-200, 3584, 2}};
    for (const auto &c : cases) {
        const SubFingerprints b = excerpt(a, c.start, c.length, c.flips, true);
        const vokid::StreamComparison result = vokid::compareStreaming(a, b, 0.35);
        EXPECT_EQ(c.start, result.alignment.offset) << c.start;
        // Pairs with A's words: exactly `flips` differing bits each; the
        // rest (B's words past A's ends) are not in the overlap.
        const long first = std::max(0L, c.start);
        const long last = std::min<long>(3072, c.start + static_cast<long>(b.words.size()));
        const auto pairs = static_cast<uint64_t>(last - first);
        EXPECT_EQ(pairs, result.alignment.pairs) << c.start;
        EXPECT_DOUBLE_EQ(c.flips / 32.0, result.alignment.ber()) << c.start;
        EXPECT_DOUBLE_EQ(c.flips / 18.0, result.alignment.strongBer()) << c.start;
        EXPECT_TRUE(result.sameRecording);
        EXPECT_DOUBLE_EQ(c.start * 64 / 5512.5, result.offsetSeconds());
    }
}

TEST(VokidAlignment, WeakBitsOfEitherSideAreLeftOut)
{
    const SubFingerprints a = randomSequence(4, 2);
    SubFingerprints b = excerpt(a, 256, 512, 6, false); // flips among the 14 weak bits only
    vokid::StreamComparison result = vokid::compareStreaming(a, b, 0.35);
    EXPECT_EQ(256, result.alignment.offset);
    EXPECT_DOUBLE_EQ(6 / 32.0, result.alignment.ber());
    EXPECT_DOUBLE_EQ(0.0, result.alignment.strongBer());
    // Weak on B's side only: the 14 bits above A's weak ones.
    b = excerpt(a, 256, 512, 6, true); // flips in bits 14 to 19
    b.weak.assign(b.weak.size(), 0x0FFFC000u);
    result = vokid::compareStreaming(a, b, 0.35);
    EXPECT_DOUBLE_EQ(0.0, result.alignment.strongBer()); // 4 bits left: 28 to 31
    EXPECT_EQ(512u * 4, result.alignment.strongBits);
}

TEST(VokidAlignment, QuietFramesAreNeverEvidence)
{
    // Two different recordings that both open with 600 quiet frames: the
    // generator's words, the same in both.
    SubFingerprints a = randomSequence(4, 3), b = randomSequence(4, 4);
    for (size_t i = 0; i < 600; ++i) {
        b.words[i] = a.words[i];
        a.quiet[i] = b.quiet[i] = 1;
    }
    const vokid::StreamComparison result = vokid::compareStreaming(a, b, 0.35);
    EXPECT_FALSE(result.sameRecording);
    EXPECT_GT(result.alignment.ber(), 0.4);
    EXPECT_EQ(result.alignment.pairs,
              result.alignment.evidencePairs() + result.alignment.quietPairs);
    // All quiet: no evidence at all, no rate, no verdict of "same".
    const SubFingerprints silent = vokid::stretchOf(a, 0, 512);
    const SubFingerprints silentToo = vokid::stretchOf(b, 0, 512);
    const vokid::StreamComparison quiet = vokid::compareStreaming(silent, silentToo, 0.35);
    EXPECT_EQ(512u, quiet.alignment.pairs);
    EXPECT_EQ(0u, quiet.alignment.evidencePairs());
    EXPECT_LT(quiet.alignment.ber(), 0.0); // no rate without pairs to count
    EXPECT_FALSE(quiet.sameRecording);
}

TEST(VokidVerdict, TheAcceptanceRuleWithTheThresholdGiven)
{
    // The rule's evidence over pairs without quiet frames, its bit error
    // rate or the threshold given instead; no runner-up but chance.
    const SubFingerprints a = randomSequence(8, 6);
    const size_t n = vokid::kAcceptance.minPairs;
    const double rule = vokid::kAcceptance.maxBer;
    const auto flipsAt = [](double ber) { return static_cast<unsigned>(std::floor(ber * 32)); };
    // Over fewer pairs than a full clip's, as far below chance in
    // standard deviations: 0.5 - (0.5 - threshold) * sqrt(full / pairs).
    const double full = static_cast<double>(vokid::kAcceptance.fullPairs);
    const double atMin = 0.5 - (0.5 - rule) * std::sqrt(full / static_cast<double>(n));
    const struct {
        size_t length;
        unsigned flips;
        double threshold;
        bool same;
    } cases[] = {
        {n - 1, 0, rule, false},
        {n, 0, rule, true},
        {n, flipsAt(atMin), rule, true},
        {n, flipsAt(atMin) + 1, rule, false},
        {512, flipsAt(rule), rule, true},
        {512, flipsAt(rule) + 1, rule, false},
        {512, 12, 0.375, true},
        {512, 13, 0.375, false},
        {512, 0, 0.0, true},
    };
    for (const auto &c : cases) {
        const vokid::StreamComparison result =
            vokid::compareStreaming(a, excerpt(a, 1000, c.length, c.flips, true), c.threshold);
        EXPECT_EQ(c.same, result.sameRecording) << c.length << " " << c.flips;
    }
}

TEST(VokidVerdict, SpectralDistanceIsTheSumOfDifferences)
{
    std::vector<uint32_t> a, b;
    for (uint32_t i = 0; i < 30; ++i) {
        a.push_back(1000 + i);
        b.push_back(i % 2 ? 1000 : 32768);
    }
    EXPECT_EQ(0u, vokid::spectralDistance(a, a));
    uint64_t expected = 0;
    for (uint32_t i = 0; i < 30; ++i)
        expected += i % 2 ? i : 32768 - 1000 - i;
    EXPECT_EQ(expected, vokid::spectralDistance(a, b));
}

} // namespace
