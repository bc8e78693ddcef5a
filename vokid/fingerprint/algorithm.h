// The four algorithms by name, with what the engine needs to know about
// them and what their users need to know: the engine's id, the input rates
// each takes, and how much audio a fingerprint needs.
#ifndef VOKID_FINGERPRINT_ALGORITHM_H
#define VOKID_FINGERPRINT_ALGORITHM_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vokid/document/document.h"

namespace vokid {

enum class Algorithm { FileFixed, FileFloat, Stream1, Stream4 };

const char *algorithmName(Algorithm algorithm);
// Exact names as vok takes them; nothing for any other text.
std::optional<Algorithm> algorithmNamed(std::string_view name);
// All four names, in the order above.
std::vector<std::string> algorithmNames();

uint32_t engineId(Algorithm algorithm);
Family familyOf(Algorithm algorithm);

// The input rates the algorithm takes (empty: any rate), and the rate
// other audio is resampled to.
std::vector<uint32_t> acceptedRates(Algorithm algorithm);
uint32_t fallbackRate(Algorithm algorithm);

// Seconds of audio (for the spectral ones: of sound after leading
// silence) that one fingerprint needs, rounded up to a tenth.
double minimumSeconds(Algorithm algorithm);

} // namespace vokid

#endif
