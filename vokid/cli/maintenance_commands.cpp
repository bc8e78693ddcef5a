// `vokid upgrade`, `backup` and `compact`: each copies the index record by
// record, with its progress on a terminal, and says what it made; upgrade
// then gives the tracks that lack them their file's FileFloat values.
#include "vokid/cli/maintenance_commands.h"

#include <cstdio>

#include "vokid/cli/command_support.h"
#include "vokid/cli/exit_codes.h"
#include "vokid/cli/upgrade_values.h"
#include "vokid/index/index_error.h"
#include "vokid/index/open_store.h"
#include "vokid/index/store_copy.h"
#include "vokid/index/stored_form.h"

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

// A PostgreSQL index is copied and compacted by PostgreSQL's own tools:
// says which, and refuses (usage: the command cannot be asked of it).
bool refusedOnPostgres(const std::string &db, Console &console, const std::string &advice)
{
    if (!isPostgresLocation(db))
        return false;
    console.failure(db, "a PostgreSQL index " + advice);
    return true;
}

} // namespace

namespace {

// "values: 12 tracks given their file's FileFloat values, 3 could not be
// (file gone or changed, or no audio in it)"
std::string valuesLine(const ValuesTally &tally)
{
    return "values: " + tracksText(tally.given) + " given their file's FileFloat values, " +
           std::to_string(tally.without) +
           " could not be (file gone or changed, or too little audio in it)\n";
}

} // namespace

// The format converted, then every track without values given them where
// its file allows.
int runUpgrade(const CopyOptions &options, Console &console)
{
    return reporting(options.db, console, [&] {
        const CopyReport report =
            upgradeIndex(options.db, progressOn(console, options.db, "upgrade"));
        console.clearStatus();
        const std::string shown = shownLocation(options.db);
        console.write(report.done ? "upgraded " + shown + " to " + report.version + " (" +
                                        tracksText(report.tracks) + ")\n"
                                  : shown + " has " + report.version + " already (" +
                                        tracksText(report.tracks) + ")\n");
        const std::unique_ptr<IndexStore> store = openStore(options.db, StoreAccess::Update);
        store->setWaitNotice([&console, &options] {
            console.failure(options.db, "waiting for another process that writes to the index");
        });
        const ValuesTally tally =
            giveMissingValues(*store, cores(), [&console](size_t done, size_t total) {
                console.status("values: " + std::to_string(done) + "/" + std::to_string(total) +
                               " tracks");
            });
        console.clearStatus();
        console.write(valuesLine(tally));
    });
}

int runBackup(const CopyOptions &options, Console &console)
{
    if (refusedOnPostgres(options.db, console,
                          "is backed up with pg_dump (pg_dump --schema=vokid DATABASE), or with "
                          "the server's own backups"))
        return kExitUsage;
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
    if (refusedOnPostgres(options.db, console,
                          "gives its free space back with VACUUM (VACUUM FULL vokid.postings, "
                          "vokid.sequences, vokid.tracks), which autovacuum runs as needed"))
        return kExitUsage;
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

namespace {

// Tracks per transaction of a copy: a few seconds of work each, so that an
// interruption loses little.
constexpr size_t kCopyBatch = 200;

} // namespace

int runCopy(const CopyOptions &options, Console &console)
{
    if (options.db == options.destination) {
        console.failure(options.destination, "is the index copied: give another destination");
        return kExitUsage;
    }
    const std::unique_ptr<IndexStore> source =
        openReporting(options.db, StoreAccess::Read, console);
    if (!source)
        return kExitFailure;
    // A destination made here gets the source's step.
    const std::unique_ptr<IndexStore> destination =
        openReporting(options.destination, StoreAccess::Write, console, source->step());
    if (!destination)
        return kExitFailure;
    const std::string from = shownLocation(options.db);
    const std::string to = shownLocation(options.destination);
    StoreCopyReport report;
    const auto step = [&console](uint64_t done, uint64_t total) {
        console.status("copy: " + std::to_string(done) + "/" + std::to_string(total) + " tracks");
    };
    const auto kept = [&report] {
        return report.copied == 0 ? std::string()
                                  : "; the " + tracksText(report.copied) +
                                        " copied before it are kept, and the same copy again "
                                        "goes on from there";
    };
    try {
        copyStore(*source, *destination, kCopyBatch, step, report);
    } catch (const IndexDamaged &error) {
        console.failure(options.db, error.what() + kept());
        return kExitFailure;
    } catch (const IndexError &error) {
        console.failure(options.destination, error.what() + kept());
        return kExitFailure;
    }
    console.clearStatus();
    const StoreStats stats = destination->view()->stats();
    char hours[32];
    std::snprintf(hours, sizeof hours, "%.2f h", stats.seconds / 3600);
    console.write("copied " + tracksText(report.copied) + " from " + from + " to " + to +
                  (report.present > 0 ? " (" + std::to_string(report.present) + " there already)"
                                      : "") +
                  "; " + to + " holds " + tracksText(stats.tracks) + ", " + hours + "\n");
    return kExitSuccess;
}

} // namespace vokid
