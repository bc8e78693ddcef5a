// The whole vokid program on an argument vector: the command line, the
// subcommand and the exit code. main() only calls it.
#ifndef VOKID_CLI_VOKID_APP_H
#define VOKID_CLI_VOKID_APP_H

#include <cstdio>

namespace vokid {

// 0 success, 1 an input failed, 2 a usage error.
int runVokid(int argc, const char *const *argv, std::FILE *out, std::FILE *err);

} // namespace vokid

#endif
