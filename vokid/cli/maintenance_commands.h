// The commands that work on a whole index: upgrade (an older format
// converted in place), backup (a consistent copy as a new index) and
// compact (free pages given back). Each returns the exit code: 0 when done,
// 1 when the index could not be (named on standard error with the cause).
#ifndef VOKID_CLI_MAINTENANCE_COMMANDS_H
#define VOKID_CLI_MAINTENANCE_COMMANDS_H

#include <string>

#include "vokid/cli/console.h"

namespace vokid {

struct CopyOptions {
    std::string db;
    std::string destination; // backup, copy: DEST; compact: --into DIR, or empty
};

int runUpgrade(const CopyOptions &options, Console &console);
int runBackup(const CopyOptions &options, Console &console);
int runCompact(const CopyOptions &options, Console &console);
// `vokid copy SRC DEST`: an index into another store, of any kind.
int runCopy(const CopyOptions &options, Console &console);

} // namespace vokid

#endif
