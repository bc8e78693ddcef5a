// `vokid print`: fingerprints of any number of audio files, in parallel,
// printed in the order the files were named.
#ifndef VOKID_CLI_PRINT_COMMAND_H
#define VOKID_CLI_PRINT_COMMAND_H

#include <string>
#include <vector>

#include "vokid/cli/console.h"
#include "vokid/cli/print_formats.h"
#include "vokid/fingerprint/fingerprinter.h"

namespace vokid {

struct PrintOptions {
    FingerprintRequest request;
    PrintStyle style;
    unsigned jobs = 1;
    std::vector<std::string> files; // "-" is standard input
};

// The exit code: 0 when every file was printed, 1 when any failed.
int runPrint(const PrintOptions &options, Console &console);

} // namespace vokid

#endif
