#include "vokid/cli/init_command.h"

#include <stdexcept>

#include "vokid/cli/exit_codes.h"
#include "vokid/cli/usage_error.h"
#include "vokid/index/index_error.h"
#include "vokid/index/open_store.h"

namespace vokid {

namespace {

// "created an empty index in DB (step 2)", and its shards.
std::string madeLine(const InitOptions &options)
{
    std::string line = "created an empty index in " + shownLocation(options.db) + " (step " +
                       std::to_string(options.step) + ")";
    if (!options.shards.empty()) {
        line += " on " + std::to_string(options.shards.size()) +
                (options.shards.size() == 1 ? " shard:" : " shards:");
        for (const std::string &shard : options.shards)
            line += " " + shownLocation(shard);
    }
    return line + "\n";
}

} // namespace

int runInit(const InitOptions &options, Console &console)
{
    const bool postgres = isPostgresLocation(options.db);
    if (!options.shards.empty() && !postgres)
        throw UsageError("init: --shard goes with an index in PostgreSQL (a postgresql:// DB)");
    for (const std::string &shard : options.shards)
        if (!isPostgresLocation(shard))
            throw UsageError("init: a shard is a postgresql:// URI, not " + shownLocation(shard));
    try {
        createIndexAt(options.db, options.step, options.shards);
    } catch (const IndexError &error) {
        console.failure(options.db, error.what());
        return kExitFailure;
    } catch (const std::invalid_argument &error) {
        throw UsageError(std::string("init: ") + error.what());
    }
    console.write(madeLine(options));
    return kExitSuccess;
}

} // namespace vokid
