#include "vokid/compare/acceptance.h"

namespace vokid {

bool accepts(const AcceptanceRule &rule, const Alignment &best, double runnerUpBer)
{
    if (best.evidencePairs() < rule.minPairs)
        return false;
    const double ber = best.ber();
    return ber <= rule.maxBer && runnerUpBer - ber >= rule.minMargin;
}

} // namespace vokid
