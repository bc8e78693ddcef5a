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
#include "vokid/input/input_error.h"
#include "vokid/search/identifier.h"

namespace vokid {

namespace {

// "2% fast", "1% slow"
std::string speedText(double speed)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.0f%% %s", std::abs(speed - 1) * 100,
                  speed > 1 ? "fast" : "slow");
    return text;
}

struct ClipOutcome {
    Identification found;
    std::optional<TrackInfo> track; // of an accepted match
    std::string failure;
    std::string damage; // of the index: the run stops
};

std::string clipText(const std::string &file, const Identification &found,
                     const std::optional<TrackInfo> &track)
{
    const Match &match = found.match;
    if (!match.accepted)
        return shownText(file) + ": no match\n";
    std::string line = shownText(file) + ": track " + std::to_string(match.best.track) + " at " +
                       seconds3(static_cast<double>(match.best.alignment.offset) * indexFrameSeconds()) +
                       " s";
    char figures[128];
    std::snprintf(figures, sizeof figures, ", BER %.3f, %.2f s matched, confidence %.2f",
                  match.best.ber(),
                  static_cast<double>(match.best.alignment.evidencePairs()) * indexFrameSeconds(),
                  match.confidence());
    line += figures;
    if (found.speed != 1)
        line += ", played " + speedText(found.speed);
    return line + ": " + (track ? describeTrack(*track) : std::string("(removed)")) + "\n";
}

} // namespace

int runIdentify(const IndexOptions &options, Console &console)
{
    const std::unique_ptr<IndexStore> store = openReporting(options.db, StoreAccess::Read, console);
    if (!store)
        return kExitFailure;
    WorkerPool pool(cores());
    Identifier identifier(*store, pool, options.speeds);
    bool failed = false;
    try {
        runInOrder<ClipOutcome>(
            options.files.size(), options.jobs,
            [&](size_t i) {
                ClipOutcome outcome;
                try {
                    outcome.found =
                        identifyInput(identifier, options.files[i], options.length, outcome.track);
                } catch (const IndexDamaged &error) {
                    outcome.damage = error.what();
                } catch (const std::bad_alloc &) {
                    outcome.failure = "out of memory";
                } catch (const std::exception &error) {
                    outcome.failure = error.what();
                }
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
                console.write(options.json ? compactJson(identificationJson(file, outcome.found, outcome.track)) + "\n"
                                           : clipText(file, outcome.found, outcome.track));
            });
    } catch (const IndexError &error) {
        console.failure(options.db, error.what());
        return kExitFailure;
    }
    return failed ? kExitFailure : kExitSuccess;
}

} // namespace vokid
