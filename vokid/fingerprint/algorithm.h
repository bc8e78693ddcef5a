// The four algorithms by name: vokid's one table of them, with what the
// engine tells about each (its id, the input rates it takes, its grid) and
// what their users need to know (how much audio a fingerprint needs).
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
// The algorithm of an engine id; nothing for id 5, which has no name.
std::optional<Algorithm> algorithmOfEngineId(uint32_t id);
Family familyOf(Algorithm algorithm);

// The input rates the engine takes for the algorithm (empty: any rate),
// and the rate other audio is resampled to.
const std::vector<uint32_t> &acceptedRates(Algorithm algorithm);
uint32_t fallbackRate(Algorithm algorithm);

// Seconds of audio (for the spectral ones: of sound after leading
// silence) that one fingerprint needs, rounded up to a tenth.
double minimumSeconds(Algorithm algorithm);

} // namespace vokid

#endif
