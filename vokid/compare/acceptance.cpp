#include "vokid/compare/acceptance.h"

#include <cmath>

namespace vokid {

double AcceptanceRule::threshold(uint64_t pairs) const
{
    if (pairs >= fullPairs)
        return maxBer;
    if (pairs == 0)
        return 0;
    return kChanceBer - (kChanceBer - maxBer) *
                            std::sqrt(static_cast<double>(fullPairs) / static_cast<double>(pairs));
}

bool accepts(const AcceptanceRule &rule, const Alignment &best, double runnerUpBer)
{
    const uint64_t pairs = best.evidencePairs();
    if (pairs < rule.minPairs)
        return false;
    const double ber = best.ber();
    return ber <= rule.threshold(pairs) && runnerUpBer - ber >= rule.minMargin;
}

} // namespace vokid
