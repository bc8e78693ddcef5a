// The extraction loop: fingerprints the input through the WAVE driver and
// writes each fingerprint to the output as soon as it is made.
#ifndef VOK_CLI_RUN_EXTRACTION_H
#define VOK_CLI_RUN_EXTRACTION_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "driver/algorithm_flags.h"

namespace Zuvanti {

// Asks the driver for one fingerprint, or, with Continuous set, again for
// as long as it reports that audio remains. A driver failure is reported on
// errors ("Error: Unable to extract fingerprint." and one line per chained
// message) with exit code 1, except in continuous mode after at least one
// fingerprint was written: then it ends the run quietly with 0. The loop
// stops at the first fingerprint the output does not take; writeError then
// receives the system's reason (errno), else it is left alone.
int runExtraction(const std::string &inputFile, std::FILE *output, int32_t blocks,
                  AlgorithmFlags flags, const std::string &outputMode, std::FILE *errors = stderr,
                  int *writeError = nullptr);

} // namespace Zuvanti

#endif
