// The search on an index of sequences built here: excerpts found at their
// offset with bits flipped where the masks say bits flip, quiet frames and
// unknown sequences never matched, copies reported as the same recording
// rather than as rivals, a near rival refused by the margin; and the
// acceptance rule's bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "vokid/index/memory_store.h"
#include "vokid/index/postings.h"
#include "vokid/search/matcher.h"
#include "vokid/search/stream_print.h"

namespace {

using vokid::SubFingerprints;
using vokid::TrackPrint;

// A random walk like music's: most steps change a bit or two.
TrackPrint walk(size_t blocks, uint32_t seed)
{
    std::mt19937 random(seed);
    TrackPrint print;
    uint32_t word = static_cast<uint32_t>(random());
    for (size_t i = 0; i < blocks * 256; ++i) {
        for (unsigned flips = random() % 4; flips > 0; --flips)
            word ^= 1u << (random() % 32);
        print.words.push_back(word);
        print.quiet.push_back(0);
    }
    // The 14 low bits weak, as a mask of Stream1 marks 14.
    print.masks.assign(blocks * 86, 0x00003FFFu);
    return print;
}

// A word with `count` of the bits in [low, low + span) flipped.
uint32_t flipped(uint32_t word, unsigned count, unsigned low, unsigned span, std::mt19937 &random)
{
    uint32_t bits = 0;
    while (static_cast<unsigned>(__builtin_popcount(bits)) < count)
        bits |= 1u << (low + random() % span);
    return word ^ bits;
}

// `length` sub-fingerprints of a print from `start`, every second one with
// `flips` of its weak bits flipped: a bit error rate of flips / 64.
SubFingerprints excerpt(const TrackPrint &print, size_t start, size_t length, unsigned flips,
                        uint32_t seed)
{
    std::mt19937 random(seed);
    SubFingerprints query = vokid::stretchOf(print.subFingerprints(), static_cast<int64_t>(start),
                                             static_cast<int64_t>(length));
    for (size_t i = 1; i < query.size(); i += 2)
        query.words[i] = flipped(query.words[i], flips, 0, 14, random);
    return query;
}

class VokidMatcher : public ::testing::Test {
protected:
    void SetUp() override
    {
        store = std::make_unique<vokid::MemoryStore>();
        const auto batch = store->batch();
        for (uint32_t t = 0; t < 8; ++t) {
            prints.push_back(walk(8, 100 + t));
            vokid::TrackInfo info;
            info.path = "/t/" + std::to_string(t);
            put(*batch, info, prints.back());
        }
        batch->commit();
    }

    void put(vokid::IndexBatch &batch, const vokid::TrackInfo &info, const TrackPrint &print)
    {
        batch.put(info, print, vokid::postingsOf(print, store->step()));
    }

    vokid::Match search(const SubFingerprints &query, uint32_t exclude = 0)
    {
        const auto view = store->view();
        return vokid::Matcher(*view).search(query, exclude);
    }

    std::unique_ptr<vokid::IndexStore> store;
    std::vector<TrackPrint> prints;
};

TEST_F(VokidMatcher, FindsExcerptsWhereTheyAre)
{
    const struct {
        uint32_t track;
        size_t start, length;
        unsigned flips;
    } cases[] = {{1, 0, 480, 0}, {4, 700, 480, 2}, {8, 1500, 300, 4}, {6, 1792, 256, 6}};
    for (const auto &c : cases) {
        const vokid::Match match =
            search(excerpt(prints[c.track - 1], c.start, c.length, c.flips, c.track));
        ASSERT_TRUE(match.accepted) << c.track;
        EXPECT_EQ(c.track, match.best.track);
        EXPECT_EQ(static_cast<int64_t>(c.start), match.best.alignment.offset);
        EXPECT_DOUBLE_EQ(c.flips / 64.0, match.best.ber());
        EXPECT_EQ(c.length, match.best.alignment.evidencePairs());
        // The runner-up is another track, near chance.
        EXPECT_GT(match.runnerUpBer, 0.35);
        EXPECT_GT(match.confidence(), 0.4);
        EXPECT_TRUE(match.sameRecording.empty());
    }
    // Left out, the track is not found at all.
    EXPECT_FALSE(search(excerpt(prints[3], 700, 480, 2, 9), 4).accepted);
}

TEST_F(VokidMatcher, NeverMatchesUnknownOrQuietQueries)
{
    EXPECT_FALSE(search(excerpt(walk(2, 999), 0, 480, 0, 1)).accepted);
    // Quiet frames: the generator's words, as in any fingerprint of
    // silence (here the engine's own), and those of track 1 if it had
    // opened with silence.
    const std::vector<int16_t> silence(6 * 11025, 0);
    const SubFingerprints quiet = vokid::clipPrint(silence.data(), silence.size(), 11025, 1);
    ASSERT_EQ(quiet.size(), static_cast<size_t>(std::count(quiet.quiet.begin(), quiet.quiet.end(), 1)));
    const vokid::Match match = search(quiet);
    EXPECT_FALSE(match.found);
    EXPECT_FALSE(match.accepted);
    // Too few pairs without quiet frames, however well they agree.
    SubFingerprints mostlyQuiet = excerpt(prints[2], 100, 480, 0, 1);
    for (size_t i = vokid::kAcceptance.minPairs - 1; i < mostlyQuiet.size(); ++i)
        mostlyQuiet.quiet[i] = 1;
    EXPECT_FALSE(search(mostlyQuiet).accepted);
}

TEST_F(VokidMatcher, CopiesAreTheSameRecordingNearRivalsAreRefused)
{
    // Track 9 is track 2 with a weak bit flipped in every fourth word;
    // track 10 agrees with track 5 only as a rival could: a bit error rate
    // 0.05 above what the rule accepts.
    const auto rivalBits =
        static_cast<unsigned>(std::ceil((vokid::kAcceptance.maxBer + 0.05) * 32));
    {
        const auto batch = store->batch();
        TrackPrint copy = prints[1];
        TrackPrint rival = prints[4];
        std::mt19937 random(7);
        for (size_t i = 0; i < copy.size(); i += 4)
            copy.words[i] = flipped(copy.words[i], 1, 0, 14, random);
        for (uint32_t &word : rival.words)
            word = flipped(word, rivalBits, 0, 32, random);
        vokid::TrackInfo info;
        info.path = "/t/copy";
        put(*batch, info, copy);
        info.path = "/t/rival";
        put(*batch, info, rival);
        batch->commit();
    }
    const vokid::Match copied = search(excerpt(prints[1], 900, 480, 1, 3));
    ASSERT_TRUE(copied.accepted);
    EXPECT_EQ(2u, copied.best.track);
    ASSERT_EQ(1u, copied.sameRecording.size());
    EXPECT_EQ(9u, copied.sameRecording.front().track);
    EXPECT_EQ(900, copied.sameRecording.front().alignment.offset);

    // A query halfway between track 5 and its rival: both near, neither
    // clearly the one.
    SubFingerprints between = excerpt(prints[4], 300, 480, 0, 4);
    {
        const auto view = store->view();
        int64_t first = 0;
        const SubFingerprints rival = view->sequence(10, 300, 480, first);
        for (size_t i = 0; i < between.size(); i += 2)
            between.words[i] = rival.words[i];
    }
    const vokid::Match torn = search(between);
    EXPECT_TRUE(torn.found);
    EXPECT_FALSE(torn.accepted);
    EXPECT_LT(torn.runnerUpBer - torn.best.ber(), vokid::kAcceptance.minMargin);
}

TEST(VokidAcceptance, RuleBounds)
{
    const vokid::AcceptanceRule rule = vokid::kAcceptance;
    const auto alignment = [](uint64_t pairs, uint64_t quiet, uint64_t errors) {
        vokid::Alignment a;
        a.pairs = pairs + quiet;
        a.quietPairs = quiet;
        a.errorBits = errors;
        return a;
    };
    // The most differing bits the threshold allows over n pairs.
    const auto most = [&](uint64_t n) {
        const double threshold =
            n >= rule.fullPairs
                ? rule.maxBer
                : 0.5 - (0.5 - rule.maxBer) * std::sqrt(static_cast<double>(rule.fullPairs) / n);
        return static_cast<uint64_t>(std::floor(threshold * 32 * static_cast<double>(n)));
    };
    const uint64_t n = rule.minPairs, full = rule.fullPairs;
    const struct {
        const char *name;
        vokid::Alignment best;
        double runnerUp;
        bool accepted;
    } cases[] = {
        {"full, at the threshold", alignment(full, 0, most(full)), 0.5, true},
        {"full, a bit more", alignment(full, 0, most(full) + 1), 0.5, false},
        {"more than full", alignment(2 * full, 0, most(2 * full)), 0.5, true},
        {"fewest, at their threshold", alignment(n, 0, most(n)), 0.5, true},
        {"fewest, a bit more", alignment(n, 0, most(n) + 1), 0.5, false},
        {"between", alignment(370, 0, most(370)), 0.5, true},
        {"between, a bit more", alignment(370, 0, most(370) + 1), 0.5, false},
        {"one pair short", alignment(n - 1, 0, 0), 0.5, false},
        {"quiet pairs do not count", alignment(n - 1, 500, 0), 0.5, false},
        // A bit error rate of 0.125: 4 bits in 32.
        {"runner-up just beyond the margin", alignment(full, 0, 4 * full),
         0.125 + rule.minMargin + 1e-9, true},
        {"runner-up just within", alignment(full, 0, 4 * full), 0.125 + rule.minMargin - 1e-9,
         false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.accepted, vokid::accepts(rule, c.best, c.runnerUp)) << c.name;
}

} // namespace
