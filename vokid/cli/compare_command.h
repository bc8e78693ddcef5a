// `vokid compare A B`: two fingerprints, each given as audio or as a
// fingerprint document, compared at the best alignment (streaming) or by
// the distance of their values (spectral).
#ifndef VOKID_CLI_COMPARE_COMMAND_H
#define VOKID_CLI_COMPARE_COMMAND_H

#include <optional>
#include <string>

#include "vokid/cli/console.h"
#include "vokid/compare/comparison.h"
#include "vokid/fingerprint/algorithm.h"

namespace vokid {

struct CompareOptions {
    std::string a;
    std::string b;
    std::optional<Algorithm> algorithm; // for audio inputs; Stream1 when not given
    double threshold = kAcceptance.maxBer;
    bool json = false;
};

// The exit code: 0 when both inputs were compared (whatever the verdict),
// 1 when one cannot be read. Throws UsageError for fingerprints that
// cannot be compared with each other.
int runCompare(const CompareOptions &options, Console &console);

} // namespace vokid

#endif
