#include "vokid/cli/result_json.h"

#include <cmath>

#include "vokid/cli/command_support.h"
#include "vokid/cli/json_text.h"
#include "vokid/index/track_print.h"

namespace vokid {

namespace {

nlohmann::ordered_json storeJson(const StoreStats &stats)
{
    nlohmann::ordered_json store = {{"kind", stats.kind}};
    for (const StoreFact &fact : stats.facts)
        store[fact.key] = fact.value;
    return store;
}

} // namespace

namespace {

nlohmann::ordered_json heardJson(const Heard &heard, const std::optional<TrackInfo> &track)
{
    const Match &match = heard.match;
    nlohmann::ordered_json result =
        track ? trackJson(*track) : nlohmann::ordered_json{{"track", match.best.track}};
    result["offset_seconds"] = roundedSeconds(heard.trackStart);
    result["clip_start"] = roundedSeconds(heard.clipStart);
    result["clip_end"] = roundedSeconds(heard.clipEnd);
    result["ber"] = rounded4(match.best.ber());
    result["matched_seconds"] = roundedSeconds(heard.matchedSeconds);
    result["confidence"] = rounded4(match.confidence());
    result["speed"] = heard.speed;
    result["tempo"] = heard.tempo;
    result["runner_up_ber"] = rounded4(match.runnerUpBer);
    nlohmann::ordered_json same = nlohmann::ordered_json::array();
    for (const Candidate &other : match.sameRecording)
        same.push_back(other.track);
    result["same_recording"] = same;
    return result;
}

nlohmann::ordered_json nearestJson(const Match &nearest)
{
    if (!nearest.found)
        return nullptr;
    const Alignment &best = nearest.best.alignment;
    return {{"track", nearest.best.track},
            {"ber", rounded4(best.ber())},
            {"matched_seconds",
             roundedSeconds(static_cast<double>(best.evidencePairs()) * indexFrameSeconds())},
            {"margin", rounded4(nearest.runnerUpBer - best.ber())}};
}

} // namespace

nlohmann::ordered_json identificationJson(const std::string &file, const Identification &found,
                                          const std::optional<TrackInfo> &track, bool all)
{
    nlohmann::ordered_json object = {{"file", file}, {"seconds", roundedSeconds(found.seconds)}};
    const bool matched = found.match.accepted;
    object["match"] = matched ? heardJson(found, track) : nlohmann::ordered_json();
    if (all) {
        nlohmann::ordered_json matches = nlohmann::ordered_json::array();
        if (matched)
            for (const Heard &heard : found.all)
                matches.push_back(heardJson(heard, heard.track));
        object["matches"] = matches;
    }
    if (!matched) {
        object["reason"] = reasonName(found.reason);
        object["nearest"] = found.reason == MissReason::TooQuiet ? nlohmann::ordered_json()
                                                                 : nearestJson(found.match);
    }
    return object;
}

nlohmann::ordered_json listedTrackJson(const TrackInfo &track)
{
    nlohmann::ordered_json object = trackJson(track);
    object["duration"] = roundedSeconds(track.duration);
    object["algorithm"] = track.algorithm;
    object["sub_fingerprints"] = track.words;
    object["postings"] = track.postings;
    return object;
}

nlohmann::ordered_json statsObject(const StoreStats &stats)
{
    const double hours = stats.seconds / 3600;
    return {
        {"tracks", stats.tracks},
        {"tracks_with_values", stats.tracksWithValues},
        {"hours", rounded4(hours)},
        {"sub_fingerprints", stats.words},
        {"postings", stats.postings},
        {"step", stats.step},
        {"bytes", stats.fileBytes},
        {"bytes_per_hour", hours > 0 ? nlohmann::ordered_json(std::llround(
                                           static_cast<double>(stats.fileBytes) / hours))
                                     : nlohmann::ordered_json()},
        {"posting_bytes", stats.postingBytes},
        {"sequence_bytes", stats.sequenceBytes},
        {"metadata_bytes", stats.metadataBytes},
        {"free_bytes", stats.freeBytes},
        {"store", storeJson(stats)},
    };
}

} // namespace vokid
