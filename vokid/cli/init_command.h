// `vokid init DB [--step N] [--shard URI ...]`: an empty index, made
// before the first add (which otherwise makes one with the default step):
// an index folder, or the tables in a PostgreSQL database, sharded over
// the --shard databases when there are any (pg_shards.h). Returns the
// exit code: 0 when made, 1 when an index is there already or the
// location cannot be used (named on standard error with the cause).
#ifndef VOKID_CLI_INIT_COMMAND_H
#define VOKID_CLI_INIT_COMMAND_H

#include <cstdint>
#include <string>
#include <vector>

#include "vokid/cli/console.h"
#include "vokid/index/postings.h"

namespace vokid {

struct InitOptions {
    std::string db;
    uint32_t step = kDefaultStep;
    std::vector<std::string> shards; // libpq URIs
};

// Throws UsageError for shards of an index folder.
int runInit(const InitOptions &options, Console &console);

} // namespace vokid

#endif
