// `vokid add DB FILE...`: files decoded and fingerprinted side by side, in
// argument order handed to one writer that commits a transaction per
// batch. What a batch committed stays when a later one is interrupted, and
// the files it holds are no-ops when the command is run again.
#include <chrono>
#include <cstdio>
#include <new>
#include <optional>
#include <set>

#include "vokid/cli/command_support.h"
#include "vokid/cli/exit_codes.h"
#include "vokid/cli/index_commands.h"
#include "vokid/cli/ordered_parallel.h"
#include "vokid/index/index_error.h"
#include "vokid/index/index_folder.h"
#include "vokid/search/track_source.h"

namespace vokid {

namespace {

using Clock = std::chrono::steady_clock;

// A batch is also committed once it has been open this long, so that a
// slow run keeps what it has done.
constexpr auto kBatchTime = std::chrono::seconds(10);

struct Work {
    std::string name; // as given
    TrackFile file;
};

struct Outcome {
    std::optional<Indexable> track;
    std::string failure;
};

Outcome readFile(const Work &work)
{
    Outcome outcome;
    try {
        outcome.track = readTrack(work.file);
    } catch (const std::bad_alloc &) {
        outcome.failure = "out of memory";
    } catch (const std::exception &error) {
        outcome.failure = error.what();
    }
    return outcome;
}

struct Tally {
    size_t added = 0;
    size_t replaced = 0;
    size_t unchanged = 0;
    size_t failed = 0;
    double seconds = 0;
};

// "12/340 files, 3.2 h of audio a minute, about 4 min left"
std::string progressLine(size_t done, size_t total, double audioSeconds, Clock::time_point start)
{
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    char text[160];
    if (done == 0 || elapsed <= 0) {
        std::snprintf(text, sizeof text, "%zu/%zu files", done, total);
        return text;
    }
    const double hoursPerMinute = audioSeconds / 3600 / (elapsed / 60);
    const double left = elapsed / static_cast<double>(done) * static_cast<double>(total - done);
    std::snprintf(text, sizeof text, "%zu/%zu files, %.1f h of audio a minute, about %s left", done,
                  total, hoursPerMinute, clockTime(left).c_str());
    return text;
}

// The files that need work: each file once, those added before with the
// same size and time left out.
std::vector<Work> plan(const IndexOptions &options, IndexStore &store, Console &console,
                       Tally &tally)
{
    const std::unique_ptr<IndexView> view = store.view();
    std::vector<Work> work;
    std::set<std::string> seen;
    for (const std::string &name : options.files) {
        Work item;
        item.name = name;
        try {
            item.file = trackFile(name);
        } catch (const std::exception &error) {
            console.failure(name, error.what());
            ++tally.failed;
            continue;
        }
        if (!seen.insert(item.file.path).second)
            continue;
        const std::optional<TrackInfo> known = view->trackAt(item.file.path);
        if (known && known->unchanged(item.file.size, item.file.modified)) {
            ++tally.unchanged;
            continue;
        }
        work.push_back(item);
    }
    return work;
}

} // namespace

int runAdd(const IndexOptions &options, Console &console)
{
    const std::unique_ptr<IndexStore> store =
        openReporting(options.db, IndexAccess::Write, console);
    if (!store)
        return kExitFailure;
    Tally tally;
    const std::vector<Work> work = plan(options, *store, console, tally);
    const Clock::time_point start = Clock::now();
    std::unique_ptr<IndexBatch> batch = store->batch();
    size_t inBatch = 0;
    Clock::time_point batchStart = Clock::now();
    size_t done = 0;
    console.status(progressLine(0, work.size(), 0, start));
    try {
        runInOrder<Outcome>(
            work.size(), options.jobs, [&](size_t i) { return readFile(work[i]); },
            [&](size_t i, Outcome outcome) {
                ++done;
                if (!outcome.track) {
                    console.failure(work[i].name, outcome.failure);
                    ++tally.failed;
                } else {
                    // Another add may have stored the file meanwhile.
                    const std::optional<TrackInfo> known = batch->trackAt(work[i].file.path);
                    if (known && known->unchanged(work[i].file.size, work[i].file.modified)) {
                        ++tally.unchanged;
                    } else {
                        outcome.track->info.id = known ? known->id : 0;
                        batch->put(outcome.track->info, outcome.track->print);
                        ++(known ? tally.replaced : tally.added);
                        tally.seconds += outcome.track->info.duration;
                        ++inBatch;
                    }
                }
                if (inBatch >= options.batch ||
                    (inBatch > 0 && Clock::now() - batchStart >= kBatchTime)) {
                    batch->commit();
                    batch = store->batch();
                    inBatch = 0;
                    batchStart = Clock::now();
                }
                console.status(progressLine(done, work.size(), tally.seconds, start));
            });
        batch->commit();
    } catch (const IndexError &error) {
        console.failure(options.db, error.what());
        return kExitFailure;
    }
    console.clearStatus();
    const StoreStats stats = store->view()->stats();
    char summary[256];
    std::snprintf(summary, sizeof summary,
                  "%zu added, %zu replaced, %zu unchanged, %zu failed (%.2f h of audio); the "
                  "index holds %llu track%s, %.2f h\n",
                  tally.added, tally.replaced, tally.unchanged, tally.failed, tally.seconds / 3600,
                  static_cast<unsigned long long>(stats.tracks), stats.tracks == 1 ? "" : "s",
                  stats.seconds / 3600);
    console.write(summary);
    return tally.failed > 0 ? kExitFailure : kExitSuccess;
}

} // namespace vokid
