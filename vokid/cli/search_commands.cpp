// `vokid identify DB FILE...`.
#include <cstdio>
#include <new>
#include <thread>

#include "vokid/cli/command_support.h"
#include "vokid/cli/exit_codes.h"
#include "vokid/cli/index_commands.h"
#include "vokid/cli/json_text.h"
#include "vokid/cli/ordered_parallel.h"
#include "vokid/cli/result_json.h"
#include "vokid/index/index_error.h"
#include "vokid/index/shard_watch.h"
#include "vokid/input/input_error.h"
#include "vokid/search/identifier.h"

namespace vokid {

namespace {

struct ClipOutcome {
    Identification found;
    std::optional<TrackInfo> track; // of an accepted match
    std::string failure;
    std::string damage; // of the index: the run stops
    std::vector<std::string> shardsDown; // of a sharded index: the answer is partial
    size_t shards = 0;
};

// " (partial: 1 of 2 shards)" after the clip's first line.
std::string withPartial(std::string text, const ClipOutcome &outcome)
{
    if (outcome.shardsDown.empty())
        return text;
    const size_t answered = outcome.shards - outcome.shardsDown.size();
    const size_t end = text.find('\n');
    text.insert(end == std::string::npos ? text.size() : end,
                " (partial: " + std::to_string(answered) + " of " +
                    std::to_string(outcome.shards) + " shards)");
    return text;
}

// "partial": true and the shards down, after what the clip's answer says.
std::string partialJson(nlohmann::ordered_json answer, const ClipOutcome &outcome)
{
    if (!outcome.shardsDown.empty()) {
        answer["partial"] = true;
        answer["shards_down"] = outcome.shardsDown;
    }
    return compactJson(answer);
}

// One track heard: where in it, how sure, and where in the clip when that
// is not the whole clip (or `span`).
std::string heardText(const std::string &file, const Identification &found, const Heard &heard,
                      const std::optional<TrackInfo> &track, bool span)
{
    const Match &match = heard.match;
    std::string line = shownText(file) + ": track " + std::to_string(match.best.track) + " at " +
                       seconds3(heard.trackStart) + " s";
    char figures[128];
    std::snprintf(figures, sizeof figures, ", BER %.3f, %.2f s matched, confidence %.2f",
                  match.best.ber(), heard.matchedSeconds, match.confidence());
    line += figures + paceText(heard.speed, heard.tempo);
    if (span || heard.clipStart >= 1 || found.seconds - heard.clipEnd >= 1)
        line += ", heard " + seconds3(heard.clipStart) + " to " + seconds3(heard.clipEnd) +
                " s of the clip";
    return line + ": " + (track ? describeTrack(*track) : std::string("(removed)")) + "\n";
}

// Why a clip has no match, and what came nearest, for people.
std::string explainText(const Identification &found)
{
    static const char *const why[] = {
        "", "too quiet: fewer than 256 sub-fingerprints that are not silence",
        "no candidate: no indexed track shares its sub-fingerprints",
        "BER too high: the nearest track differs in too many bits",
        "margin too small: another recording matches nearly as well"};
    std::string text = std::string("  why: ") + why[static_cast<int>(found.reason)] + "\n";
    const Match &nearest = found.match;
    if (found.reason == MissReason::TooQuiet || !nearest.found)
        return text;
    const Alignment &best = nearest.best.alignment;
    char figures[160];
    std::snprintf(figures, sizeof figures,
                  "  nearest: track %u, BER %.3f, %.2f s matched, margin %.3f\n",
                  nearest.best.track, best.ber(),
                  static_cast<double>(best.evidencePairs()) * indexFrameSeconds(),
                  nearest.runnerUpBer - best.ber());
    return text + figures;
}

std::string clipText(const std::string &file, const Identification &found,
                     const std::optional<TrackInfo> &track, const IndexOptions &options)
{
    if (!found.match.accepted)
        return shownText(file) + ": no match\n" + (options.explain ? explainText(found) : "");
    if (!options.all)
        return heardText(file, found, found, track, false);
    std::string text;
    for (const Heard &heard : found.all)
        text += heardText(file, found, heard, heard.track, true);
    return text;
}

} // namespace

int runIdentify(const IndexOptions &options, Console &console)
{
    const std::unique_ptr<IndexStore> store = openReporting(options.db, StoreAccess::Read, console);
    if (!store)
        return kExitFailure;
    WorkerPool pool(cores());
    bool failed = false;
    try {
        runInOrder<ClipOutcome>(
            options.files.size(), options.jobs,
            [&](size_t i) {
                ClipOutcome outcome;
                ShardWatch watch(*store);
                Identifier identifier(watch, pool, options.speeds);
                try {
                    outcome.found = identifyInput(identifier, options.files[i], options.length,
                                                  outcome.track, options.all);
                } catch (const IndexDamaged &error) {
                    outcome.damage = error.what();
                } catch (const std::bad_alloc &) {
                    outcome.failure = "out of memory";
                } catch (const std::exception &error) {
                    outcome.failure = error.what();
                }
                outcome.shardsDown = watch.shardsDown();
                outcome.shards = watch.shardCount();
                return outcome;
            },
            [&](size_t i, ClipOutcome outcome) {
                const std::string &file = options.files[i];
                if (!outcome.damage.empty())
                    throw IndexError(outcome.damage);
                if (!outcome.failure.empty()) {
                    console.failure(file, outcome.failure);
                    failed = true;
                    return;
                }
                console.write(
                    options.json
                        ? partialJson(identificationJson(file, outcome.found, outcome.track,
                                                         options.all),
                                      outcome) +
                              "\n"
                        : withPartial(clipText(file, outcome.found, outcome.track, options),
                                      outcome));
            });
    } catch (const IndexError &error) {
        console.failure(options.db, error.what());
        return kExitFailure;
    }
    return failed ? kExitFailure : kExitSuccess;
}

} // namespace vokid
