// `vokid list`, `remove`, `stats` and `duplicates`: what an index holds,
// taking tracks out of it, its size (with the store's own figures), and
// the tracks that are the same recording.
#include <cmath>
#include <cstdio>
#include <new>

#include "vokid/cli/command_support.h"
#include "vokid/cli/exit_codes.h"
#include "vokid/cli/index_commands.h"
#include "vokid/cli/json_text.h"
#include "vokid/cli/result_json.h"
#include "vokid/index/index_check.h"
#include "vokid/index/index_error.h"
#include "vokid/search/duplicates.h"
#include "vokid/search/track_source.h"

namespace vokid {

namespace {

// A track named by its id (digits only) or by its path.
std::optional<TrackInfo> trackNamed(IndexView &view, const std::string &name)
{
    const bool digits = !name.empty() && name.size() <= 10 &&
                        name.find_first_not_of("0123456789") == std::string::npos;
    if (digits) {
        const unsigned long long id = std::stoull(name);
        if (id > 0 && id <= 0xFFFFFFFFu)
            if (std::optional<TrackInfo> track = view.track(static_cast<uint32_t>(id)))
                return track;
    }
    return view.trackAt(absolutePath(name));
}

// The store's own figures: "store:", then "  kind: lmdb" and a line each.
std::string storeText(const StoreStats &stats)
{
    std::string text = "store:\n  kind: " + stats.kind + "\n";
    for (const StoreFact &fact : stats.facts)
        text += "  " + fact.label + ": " + std::to_string(fact.value) +
                (fact.unit.empty() ? "" : " " + fact.unit) + "\n";
    return text;
}

std::string statsText(const StoreStats &stats)
{
    const double hours = stats.seconds / 3600;
    const auto perHour = [&](uint64_t bytes) {
        return hours > 0 ? megabytes(static_cast<uint64_t>(static_cast<double>(bytes) / hours))
                         : std::string("-");
    };
    char lines[640];
    std::snprintf(lines, sizeof lines,
                  "tracks: %llu\naudio: %.2f h\nsub-fingerprints: %llu\n"
                  "postings: %llu (every %u%s sub-fingerprint that is not a quiet frame)\n",
                  static_cast<unsigned long long>(stats.tracks), hours,
                  static_cast<unsigned long long>(stats.words),
                  static_cast<unsigned long long>(stats.postings), stats.step,
                  stats.step == 1   ? ""
                  : stats.step == 2 ? "nd"
                  : stats.step == 3 ? "rd"
                                    : "th");
    return std::string(lines) +
           "tracks with FileFloat values: " + std::to_string(stats.tracksWithValues) +
           "\nbytes on disk: " + megabytes(stats.fileBytes) + ", " + perHour(stats.fileBytes) +
           " an hour of audio\n  postings: " + megabytes(stats.postingBytes) + ", " +
           perHour(stats.postingBytes) +
           " an hour\n  sequences: " + megabytes(stats.sequenceBytes) + ", " +
           perHour(stats.sequenceBytes) +
           " an hour\n  metadata: " + megabytes(stats.metadataBytes) +
           "\n  free pages: " + megabytes(stats.freeBytes) + "\n" + storeText(stats);
}

std::string statsJson(const StoreStats &stats)
{
    return readableJson(statsObject(stats));
}

std::string checkText(const CheckReport &report)
{
    if (report.ok())
        return "ok\n";
    std::string text = "damaged\n";
    for (const TrackProblem &track : report.damaged)
        text += std::to_string(track.id) + "\t" + track.path + "\t" + track.problem + "\n";
    for (const std::string &problem : report.problems)
        text += "index: " + problem + "\n";
    return text;
}

std::string checkJson(const CheckReport &report)
{
    nlohmann::ordered_json tracks = nlohmann::ordered_json::array();
    for (const TrackProblem &track : report.damaged)
        tracks.push_back({{"id", track.id}, {"path", track.path}, {"problem", track.problem}});
    return nlohmann::ordered_json{{"state", report.ok() ? "ok" : "damaged"},
                                  {"tracks", tracks},
                                  {"problems", report.problems}}
               .dump() +
           "\n";
}

// A fraction to 3 decimals.
double rounded3(double value)
{
    return std::round(value * 1000) / 1000;
}

nlohmann::ordered_json pairJson(const DuplicatePair &pair)
{
    return {{"a", pair.a},
            {"b", pair.b},
            {"a_start", roundedSeconds(pair.aStart)},
            {"b_start", roundedSeconds(pair.bStart)},
            {"seconds", roundedSeconds(pair.seconds)},
            {"ber", rounded4(pair.ber)},
            {"a_coverage", rounded3(pair.aCoverage)},
            {"b_coverage", rounded3(pair.bCoverage)},
            {"speed", 1.0}, // stored words cannot tell a speed (duplicates.h)
            {"tempo", pair.tempo}};
}

// "  tracks 1 and 2: ... BER 0.031, covering 98% of 1 and 100% of 2",
// then ", tempo 2% faster" for b at another tempo.
std::string pairText(const DuplicatePair &pair)
{
    char line[320];
    std::snprintf(line, sizeof line,
                  "  tracks %u and %u: %.3f s from %.3f s in %u and %.3f s in %u, BER %.3f, "
                  "covering %.0f%% of %u and %.0f%% of %u",
                  pair.a, pair.b, pair.seconds, pair.aStart, pair.a, pair.bStart, pair.b, pair.ber,
                  pair.aCoverage * 100, pair.a, pair.bCoverage * 100, pair.b);
    return line + paceText(1, pair.tempo) + "\n";
}

} // namespace

int runCheck(const IndexOptions &options, Console &console)
{
    const std::unique_ptr<IndexStore> store = openReporting(options.db, StoreAccess::Read, console);
    if (!store)
        return kExitFailure;
    try {
        const CheckReport report = checkIndex(*store, [&](size_t done, size_t total) {
            console.status("checked " + std::to_string(done) + "/" + std::to_string(total) +
                           " tracks");
        });
        console.clearStatus();
        console.write(options.json ? checkJson(report) : checkText(report));
        if (report.ok())
            return kExitSuccess;
        console.failure(options.db,
                        "the index is damaged: " + std::to_string(report.damaged.size()) + " of " +
                            std::to_string(report.tracks) + " tracks do not read back whole, " +
                            std::to_string(report.problems.size()) + " other problems");
    } catch (const IndexError &error) {
        console.failure(options.db, error.what());
    }
    return kExitFailure;
}

int runList(const IndexOptions &options, Console &console)
{
    const std::unique_ptr<IndexStore> store = openReporting(options.db, StoreAccess::Read, console);
    if (!store)
        return kExitFailure;
    try {
        for (const TrackInfo &track : store->view()->tracks()) {
            if (options.json) {
                console.write(compactJson(listedTrackJson(track)) + "\n");
            } else {
                const std::string tags = tagsOf(track);
                console.write(std::to_string(track.id) + "\t" + clockTime(track.duration) + "\t" +
                              shownText(track.path) + (tags.empty() ? "" : "\t" + tags) + "\n");
            }
        }
    } catch (const IndexError &error) {
        console.failure(options.db, error.what());
        return kExitFailure;
    }
    return kExitSuccess;
}

namespace {

// One batch removes the tracks named; the lines to print once it is
// committed. Names of no track are reported as they are met.
std::vector<std::string> removeNamed(IndexStore &store, const IndexOptions &options,
                                     Console &console, bool &failed)
{
    const std::unique_ptr<IndexBatch> batch = store.batch();
    std::vector<std::string> removed;
    for (const std::string &name : options.files) {
        const std::optional<TrackInfo> track = trackNamed(*batch, name);
        if (!track) {
            console.failure(name, "no such track in the index");
            failed = true;
            continue;
        }
        batch->remove(track->id);
        removed.push_back("removed track " + std::to_string(track->id) + ": " + track->path + "\n");
    }
    batch->commit();
    return removed;
}

} // namespace

// On a full disk the removal is tried again with the room the index keeps
// for it (its reserve) given back.
int runRemove(const IndexOptions &options, Console &console)
{
    const std::unique_ptr<IndexStore> store =
        openReporting(options.db, StoreAccess::Update, console);
    if (!store)
        return kExitFailure;
    store->setWaitNotice([&console, &options] {
        console.failure(options.db, "waiting for another process that writes to the index");
    });
    bool failed = false;
    try {
        std::vector<std::string> removed;
        try {
            removed = removeNamed(*store, options, console, failed);
        } catch (const NoSpaceError &) {
            if (!store->releaseReserve())
                throw;
            IndexOptions found = options; // the names of no track are reported once
            found.files.clear();
            for (const std::string &name : options.files)
                if (trackNamed(*store->view(), name))
                    found.files.push_back(name);
            removed = removeNamed(*store, found, console, failed);
        }
        for (const std::string &line : removed)
            console.write(line);
    } catch (const IndexError &error) {
        console.failure(options.db, error.what());
        return kExitFailure;
    }
    return failed ? kExitFailure : kExitSuccess;
}

int runStats(const IndexOptions &options, Console &console)
{
    const std::unique_ptr<IndexStore> store = openReporting(options.db, StoreAccess::Read, console);
    if (!store)
        return kExitFailure;
    try {
        const StoreStats stats = store->view()->stats();
        console.write(options.json ? statsJson(stats) : statsText(stats));
        // One snapshot: the postings and the tracks' own counts agree.
        if (stats.postings != stats.trackPostings) {
            console.failure(options.db, "the index is damaged: it holds " +
                                            std::to_string(stats.postings) +
                                            " postings, its tracks account for " +
                                            std::to_string(stats.trackPostings));
            return kExitFailure;
        }
    } catch (const IndexError &error) {
        console.failure(options.db, error.what());
        return kExitFailure;
    }
    return kExitSuccess;
}

int runDuplicates(const IndexOptions &options, Console &console)
{
    const std::unique_ptr<IndexStore> store = openReporting(options.db, StoreAccess::Read, console);
    if (!store)
        return kExitFailure;
    try {
        WorkerPool pool(std::max(1u, options.jobs));
        const std::vector<DuplicateGroup> groups = findDuplicates(*store, pool, options.minCoverage);
        const std::unique_ptr<IndexView> view = store->view();
        size_t number = 0;
        for (const DuplicateGroup &group : groups) {
            ++number;
            nlohmann::ordered_json tracks = nlohmann::ordered_json::array();
            std::string text = "group " + std::to_string(number) + ":\n";
            for (uint32_t id : group.tracks) {
                const std::optional<TrackInfo> track = view->track(id);
                if (track) {
                    tracks.push_back(trackJson(*track));
                    text += "  track " + std::to_string(id) + ": " + describeTrack(*track) + "\n";
                }
            }
            nlohmann::ordered_json pairs = nlohmann::ordered_json::array();
            for (const DuplicatePair &pair : group.pairs) {
                pairs.push_back(pairJson(pair));
                text += pairText(pair);
            }
            if (options.json)
                console.write(compactJson(nlohmann::ordered_json{
                                  {"group", number}, {"tracks", tracks}, {"pairs", pairs}}) +
                              "\n");
            else
                console.write(text);
        }
    } catch (const IndexError &error) {
        console.failure(options.db, error.what());
        return kExitFailure;
    }
    return kExitSuccess;
}

} // namespace vokid
