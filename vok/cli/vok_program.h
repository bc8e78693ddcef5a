// The whole vok program on an argument vector: option validation, the
// output destination, the extraction and the exit code. main() only calls
// it, so that tests and fuzz targets can run the program in-process.
#ifndef VOK_CLI_VOK_PROGRAM_H
#define VOK_CLI_VOK_PROGRAM_H

#include <cstdio>

namespace Zuvanti {

// Runs vok on argc/argv (argv[0], the program's path, is not parsed) and
// answers the exit code, 0 or 1. A run whose output could not be written
// completely ends with 1 and a message. The usage text and the default output go
// to standardOutput, messages to standardError. An output file named by -o
// is closed before returning; standardOutput is flushed and left open for
// the process exit to close.
int runProgram(int argc, const char *const *argv, std::FILE *standardOutput,
               std::FILE *standardError);

} // namespace Zuvanti

#endif
