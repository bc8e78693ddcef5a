#include "vokid/cli/result_json.h"

#include <cmath>

#include "vokid/cli/command_support.h"
#include "vokid/cli/json_text.h"

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

nlohmann::ordered_json identificationJson(const std::string &file, const Identification &found,
                                          const std::optional<TrackInfo> &track)
{
    const Match &match = found.match;
    nlohmann::ordered_json object = {{"file", file}, {"seconds", roundedSeconds(found.seconds)}};
    if (!match.accepted) {
        object["match"] = nullptr;
        return object;
    }
    nlohmann::ordered_json result =
        track ? trackJson(*track) : nlohmann::ordered_json{{"track", match.best.track}};
    result["offset_seconds"] =
        roundedSeconds(static_cast<double>(match.best.alignment.offset) * indexFrameSeconds());
    result["ber"] = rounded4(match.best.ber());
    result["matched_seconds"] = roundedSeconds(
        static_cast<double>(match.best.alignment.evidencePairs()) * indexFrameSeconds());
    result["confidence"] = rounded4(match.confidence());
    result["speed"] = found.speed;
    result["runner_up_ber"] = rounded4(match.runnerUpBer);
    nlohmann::ordered_json same = nlohmann::ordered_json::array();
    for (const Candidate &other : match.sameRecording)
        same.push_back(other.track);
    result["same_recording"] = same;
    object["match"] = result;
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
