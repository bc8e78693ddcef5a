// `vokid add DB FILE...`: files decoded and fingerprinted side by side, in
// argument order handed to one writer that commits a transaction per
// batch. What a batch committed stays when a later one is interrupted, and
// the files it holds are no-ops when the command is run again.
#include <algorithm>
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
#include "vokid/index/postings.h"
#include "vokid/input/input_error.h"
#include "vokid/search/track_source.h"

namespace vokid {

namespace {

using Clock = std::chrono::steady_clock;

// A batch is also committed once it has been open this long, so that a
// slow run keeps what it has done.
constexpr auto kBatchTime = std::chrono::seconds(10);

struct Work {
    std::string name; // as given, or found in a folder given
    TrackFile file;
    bool found = false; // in a folder: a file that is not audio is skipped
};

struct Outcome {
    std::optional<Indexable> track;
    PrintPostings postings; // of the track's print, for an index of this step
    std::string failure;
    bool notAudio = false;
};

// On a worker thread: the track and its postings, ready for the writer.
Outcome readFile(const Work &work, uint32_t step)
{
    Outcome outcome;
    try {
        outcome.track = readTrack(work.file);
        outcome.postings = postingsOf(outcome.track->print, step);
    } catch (const NotAudioError &error) {
        outcome.failure = error.what();
        outcome.notAudio = true;
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
    size_t skipped = 0;  // files in folders that are not audio
    size_t unusable = 0; // tracks without usable audio
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

// The files named, and those in the folders named (see filesInFolder).
std::vector<std::pair<std::string, bool>> filesNamed(const IndexOptions &options,
                                                     Console &console, Tally &tally)
{
    std::vector<std::pair<std::string, bool>> files;
    for (const std::string &name : options.files) {
        if (!isFolder(name)) {
            files.emplace_back(name, false);
            continue;
        }
        try {
            for (const std::string &file : filesInFolder(name))
                files.emplace_back(file, true);
        } catch (const std::exception &error) {
            console.failure(name, error.what());
            ++tally.failed;
        }
    }
    return files;
}

// The files that need work: each file once, those added before with the
// same size and time left out.
std::vector<Work> plan(const IndexOptions &options, IndexStore &store, Console &console,
                       Tally &tally)
{
    const std::unique_ptr<IndexView> view = store.view();
    std::vector<Work> work;
    std::set<std::string> seen;
    for (const auto &[name, found] : filesNamed(options, console, tally)) {
        Work item;
        item.name = name;
        item.found = found;
        try {
            item.file = name == "-" ? standardInputFile(options.name) : trackFile(name);
        } catch (const std::exception &error) {
            console.failure(name, error.what());
            ++tally.failed;
            continue;
        }
        if (!seen.insert(item.file.path).second)
            continue;
        const std::optional<TrackInfo> known = view->trackAt(item.file.path);
        if (known && !item.file.standardInput &&
            known->unchanged(item.file.size, item.file.modified)) {
            ++tally.unchanged;
            continue;
        }
        work.push_back(item);
    }
    // Writers at once on one store take their files in one order, the
    // paths', so that none waits for a file another holds while holding
    // one that the other waits for.
    if (store.concurrentBatches())
        std::stable_sort(work.begin(), work.end(),
                         [](const Work &a, const Work &b) { return a.file.path < b.file.path; });
    return work;
}

// The one writer: tracks in argument order into a batch, committed every
// `files` tracks, or once it has been open for kBatchTime. What a batch
// stores is counted once it is committed; the tracks of a batch whose
// commit fails (a full disk) are counted as failed.
class Writer {
public:
    Writer(IndexStore &indexStore, unsigned files, Tally &counts)
        : store(indexStore), batchFiles(files), tally(counts), batch(indexStore.batch())
    {
    }

    void take(const Work &work, Outcome &outcome, Console &console)
    {
        const size_t usable = usableFrames(outcome.track->print);
        if (usable < kLeastUsableFrames) {
            console.failure(work.name, "no usable audio (" + std::to_string(usable) +
                                           " sub-fingerprints that are not quiet, fewer than " +
                                           std::to_string(kLeastUsableFrames) +
                                           "); not indexed");
            ++tally.unusable;
            return;
        }
        // Another add may have stored the file meanwhile.
        const std::optional<TrackInfo> known = batch->trackAt(work.file.path);
        if (known && !work.file.standardInput &&
            known->unchanged(work.file.size, work.file.modified)) {
            ++tally.unchanged;
        } else {
            outcome.track->info.id = known ? known->id : 0;
            if (batch->put(outcome.track->info, outcome.track->print, outcome.postings) == 0) {
                ++tally.unchanged; // another writer has stored it meanwhile
                return;
            }
            ++(known ? pending.replaced : pending.added);
            pending.seconds += outcome.track->info.duration;
            ++inBatch;
        }
    }

    // After each file, stored or failed.
    void commitIfDue()
    {
        if (inBatch >= batchFiles || (inBatch > 0 && Clock::now() - batchStart >= kBatchTime)) {
            commit();
            batch = store.batch();
            batchStart = Clock::now();
        }
    }

    void commit()
    {
        try {
            batch->commit();
        } catch (const IndexError &) {
            tally.failed += inBatch;
            inBatch = 0;
            pending = Tally();
            throw;
        }
        tally.added += pending.added;
        tally.replaced += pending.replaced;
        tally.seconds += pending.seconds;
        pending = Tally();
        inBatch = 0;
    }

private:
    IndexStore &store;
    unsigned batchFiles;
    Tally &tally;
    Tally pending; // of the open batch
    std::unique_ptr<IndexBatch> batch;
    size_t inBatch = 0;
    Clock::time_point batchStart = Clock::now();
};

std::string summaryLine(const Tally &tally, const StoreStats &stats)
{
    // Files skipped in folders and tracks without usable audio are told
    // when there are any.
    std::string others;
    if (tally.skipped > 0)
        others += ", " + std::to_string(tally.skipped) + " skipped (not audio)";
    if (tally.unusable > 0)
        others += ", " + std::to_string(tally.unusable) + " without usable audio";
    char summary[320];
    std::snprintf(summary, sizeof summary,
                  "%zu added, %zu replaced, %zu unchanged, %zu failed%s (%.2f h of audio); the "
                  "index holds %llu track%s, %.2f h\n",
                  tally.added, tally.replaced, tally.unchanged, tally.failed, others.c_str(),
                  tally.seconds / 3600, static_cast<unsigned long long>(stats.tracks),
                  stats.tracks == 1 ? "" : "s", stats.seconds / 3600);
    return summary;
}

// The summary of what was committed, after a full disk stopped the run.
int stoppedByFullDisk(const IndexOptions &options, IndexStore &store, const Tally &tally,
                      const NoSpaceError &error, Console &console)
{
    console.failure(options.db, std::string(error.what()) +
                                    ": the tracks committed before it are kept");
    try {
        console.write(summaryLine(tally, store.view()->stats()));
    } catch (const IndexError &) {
    }
    return kExitFailure;
}

} // namespace

int runAdd(const IndexOptions &options, Console &console)
{
    const std::unique_ptr<IndexStore> store =
        openReporting(options.db, StoreAccess::Write, console);
    if (!store)
        return kExitFailure;
    store->setWaitNotice([&console, &options] {
        console.failure(options.db, "waiting for another process that writes to the index");
    });
    Tally tally;
    const uint32_t step = store->step();
    try {
        const std::vector<Work> work = plan(options, *store, console, tally);
        const Clock::time_point start = Clock::now();
        size_t done = 0;
        console.status(progressLine(0, work.size(), 0, start));
        Writer writer(*store, options.batch, tally);
        runInOrder<Outcome>(
            work.size(), options.jobs, [&](size_t i) { return readFile(work[i], step); },
            [&](size_t i, Outcome outcome) {
                ++done;
                if (!outcome.track && work[i].found && outcome.notAudio) {
                    ++tally.skipped;
                } else if (!outcome.track) {
                    console.failure(work[i].name, outcome.failure);
                    ++tally.failed;
                } else {
                    writer.take(work[i], outcome, console);
                }
                writer.commitIfDue();
                console.status(progressLine(done, work.size(), tally.seconds, start));
            });
        writer.commit();
        const StoreStats stats = store->view()->stats();
        console.clearStatus();
        console.write(summaryLine(tally, stats));
    } catch (const NoSpaceError &error) {
        return stoppedByFullDisk(options, *store, tally, error, console);
    } catch (const IndexError &error) {
        console.failure(options.db, error.what());
        return kExitFailure;
    }
    return tally.failed > 0 ? kExitFailure : kExitSuccess;
}

} // namespace vokid
