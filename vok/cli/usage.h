// The usage text of the program.
#ifndef VOK_CLI_USAGE_H
#define VOK_CLI_USAGE_H

#include <cstdio>

namespace Zuvanti {

// Writes the usage text to out, each line ended by a line feed and flushed.
void printUsage(std::FILE *out);

} // namespace Zuvanti

#endif
