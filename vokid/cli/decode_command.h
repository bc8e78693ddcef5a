// `vokid decode`: fingerprint documents as JSON: each document's family,
// variant and block length, each block's sub-fingerprints, kept masks and
// quiet frames, or the spectral values.
#ifndef VOKID_CLI_DECODE_COMMAND_H
#define VOKID_CLI_DECODE_COMMAND_H

#include <string>

#include "vokid/cli/console.h"

namespace vokid {

// The exit code: 0, or 1 when the input cannot be read or is malformed.
int runDecode(const std::string &input, Console &console);

} // namespace vokid

#endif
