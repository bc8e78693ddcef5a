// Why a clip has no match, judged from its nearest candidate by the rule
// the clip had to pass; and the hypotheses a window is searched at.
#include <gtest/gtest.h>

#include <set>

#include "vokid/search/identifier.h"
#include "vokid/search/speed.h"
#include "vokid/search/window_search.h"

namespace {

using vokid::MissReason;

vokid::Match nearest(bool found, uint64_t pairs, uint64_t quiet, double ber, double runnerUp)
{
    vokid::Match match;
    match.found = found;
    match.best.alignment.pairs = pairs;
    match.best.alignment.quietPairs = quiet;
    match.best.alignment.errorBits =
        static_cast<uint64_t>(ber * 32 * static_cast<double>(pairs - quiet) + 0.5);
    match.runnerUpBer = runnerUp;
    return match;
}

TEST(VokidMissReason, FromTheNearestCandidate)
{
    const vokid::AcceptanceRule &rule = vokid::kAcceptance; // 0.25 over 480 pairs, margin 0.08
    const struct {
        const char *name;
        vokid::Match match;
        MissReason reason;
        const char *text;
    } cases[] = {
        {"no candidate", nearest(false, 0, 0, 0, 0.5), MissReason::NoCandidate, "no_candidate"},
        {"BER over the bar", nearest(true, 480, 0, 0.26, 0.5), MissReason::BerTooHigh,
         "ber_too_high"},
        {"BER at the bar", nearest(true, 480, 0, 0.25, 0.5), MissReason::None, ""},
        // Over 300 pairs the bar is 0.5 - 0.25 * sqrt(480 / 300) = 0.184.
        {"short overlap, BER over its bar", nearest(true, 300, 0, 0.19, 0.5),
         MissReason::BerTooHigh, "ber_too_high"},
        {"too few pairs besides quiet ones", nearest(true, 480, 230, 0.05, 0.5),
         MissReason::BerTooHigh, "ber_too_high"},
        {"margin under 0.08", nearest(true, 480, 0, 0.2, 0.279), MissReason::MarginTooSmall,
         "margin_too_small"},
        {"margin of 0.08", nearest(true, 480, 0, 0.2, 0.28), MissReason::None, ""},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.reason, vokid::missReason(rule, c.match)) << c.name;
        EXPECT_STREQ(c.text, vokid::reasonName(c.reason)) << c.name;
    }
    EXPECT_STREQ("too_quiet", vokid::reasonName(MissReason::TooQuiet));
    // The stricter rules take fewer: a BER of 0.23 passes the rule, not
    // the lone window's nor the tempo's.
    const vokid::Match close = nearest(true, 480, 0, 0.23, 0.5);
    EXPECT_EQ(MissReason::None, vokid::missReason(rule, close));
    EXPECT_EQ(MissReason::BerTooHigh, vokid::missReason(vokid::kLoneWindowAcceptance, close));
    EXPECT_EQ(MissReason::BerTooHigh, vokid::missReason(vokid::kTempoAcceptance, close));
}

// As played first, then each tempo, then each speed other than 1, each
// changing one of the two only, every one once.
TEST(VokidMissReason, HypothesesOfAWindow)
{
    const std::vector<vokid::Hypothesis> &all = vokid::searchHypotheses();
    ASSERT_EQ(1 + vokid::tempoHypotheses().size() + vokid::speedHypotheses().size() - 1,
              all.size());
    EXPECT_EQ(1.0, all[0].speed);
    EXPECT_EQ(1.0, all[0].tempo);
    std::set<std::pair<double, double>> seen;
    for (size_t k = 0; k < all.size(); ++k) {
        const bool tempo = k >= 1 && k <= vokid::tempoHypotheses().size();
        EXPECT_EQ(tempo ? 1.0 : all[k].speed, all[k].speed) << k;
        EXPECT_EQ(tempo ? all[k].tempo : 1.0, all[k].tempo) << k;
        EXPECT_DOUBLE_EQ(all[k].speed * all[k].tempo, all[k].rate()) << k;
        EXPECT_TRUE(seen.insert({all[k].speed, all[k].tempo}).second) << k;
    }
    EXPECT_EQ(1.05, all.back().speed);
}

} // namespace
