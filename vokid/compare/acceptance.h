// When two sub-fingerprint sequences are taken for the same recording: one
// rule for compare, identify, monitor and duplicates alike, chosen from
// measured distributions of the bit error rate (make bench prints them):
//   - the bit error rate over the pairs without a quiet frame is at most
//     maxBer;
//   - there are at least minPairs such pairs: quiet frames hold the same
//     generator words in every fingerprint and are never evidence;
//   - the runner-up, the best candidate of another recording, is at least
//     minMargin worse. With no other candidate (compare) it is chance.
#ifndef VOKID_COMPARE_ACCEPTANCE_H
#define VOKID_COMPARE_ACCEPTANCE_H

#include <cstdint>

#include "vokid/compare/alignment.h"

namespace vokid {

struct AcceptanceRule {
    double maxBer;
    double minMargin;
    uint64_t minPairs;
};

constexpr AcceptanceRule kAcceptance = {0.25, 0.08, 192};

// The bit error rate of unrelated sequences.
constexpr double kChanceBer = 0.5;

bool accepts(const AcceptanceRule &rule, const Alignment &best, double runnerUpBer = kChanceBer);

} // namespace vokid

#endif
