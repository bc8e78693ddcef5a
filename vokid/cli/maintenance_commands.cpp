// `vokid upgrade`, `backup` and `compact`: each copies the index record by
// record, with its progress on a terminal, and says what it made.
#include "vokid/cli/maintenance_commands.h"

#include <cstdio>

#include "vokid/cli/command_support.h"
#include "vokid/cli/exit_codes.h"
#include "vokid/index/index_error.h"
#include "vokid/index/open_store.h"

namespace vokid {

namespace {

std::string tracksText(uint64_t tracks)
{
    return std::to_string(tracks) + (tracks == 1 ? " track" : " tracks");
}

// Runs the work; an IndexError is reported on the index, with `hint` after
// a full disk's.
template <class Work>
int reporting(const std::string &db, Console &console, Work work, const std::string &hint = "")
{
    try {
        work();
    } catch (const NoSpaceError &error) {
        console.failure(db, error.what() + hint);
        return kExitFailure;
    } catch (const IndexError &error) {
        console.failure(db, error.what());
        return kExitFailure;
    }
    return kExitSuccess;
}

} // namespace

int runUpgrade(const CopyOptions &options, Console &console)
{
    return reporting(options.db, console, [&] {
        const CopyReport report =
            upgradeIndex(options.db, progressOn(console, options.db, "upgrade"));
        console.clearStatus();
        console.write(report.done ? "upgraded " + options.db + " to format version 2 (" +
                                        tracksText(report.tracks) + ")\n"
                                  : options.db + " has format version 2 already (" +
                                        tracksText(report.tracks) + ")\n");
    });
}

int runBackup(const CopyOptions &options, Console &console)
{
    return reporting(options.db, console, [&] {
        const CopyReport report = backupIndex(options.db, options.destination,
                                              progressOn(console, options.db, "backup"));
        console.clearStatus();
        console.write("backed up " + options.db + " to " + options.destination + ": " +
                      tracksText(report.tracks) + ", commit " + std::to_string(report.commits) +
                      ", " + megabytes(report.bytesAfter) + "\n");
    });
}

int runCompact(const CopyOptions &options, Console &console)
{
    const std::string hint =
        options.destination.empty()
            ? ": vokid compact " + options.db + " --into DIR writes the copy to another folder"
            : "";
    return reporting(
        options.db, console,
        [&] {
            const CopyReport report = compactIndex(options.db, options.destination,
                                                   progressOn(console, options.db, "compact"));
            console.clearStatus();
            const std::string sizes =
                megabytes(report.bytesBefore) + " to " + megabytes(report.bytesAfter) + " (" +
                tracksText(report.tracks) + ")";
            console.write(options.destination.empty()
                              ? "compacted " + options.db + ": " + sizes + "\n"
                              : "compacted " + options.db + " into " + options.destination +
                                    ": " + sizes + "; " + options.db +
                                    " is as it was (put the copy in its place once no "
                                    "process uses it)\n");
        },
        hint);
}

} // namespace vokid
