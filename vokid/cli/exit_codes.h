// vokid's exit codes.
#ifndef VOKID_CLI_EXIT_CODES_H
#define VOKID_CLI_EXIT_CODES_H

namespace vokid {

constexpr int kExitSuccess = 0; // every input done
constexpr int kExitFailure = 1; // an input failed, or the output could not be written
constexpr int kExitUsage = 2;   // the command line asks for something impossible

} // namespace vokid

#endif
