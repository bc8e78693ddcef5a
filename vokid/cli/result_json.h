// The JSON forms of vokid's results that more than one place prints: the
// commands, and the lookup server's API, which answers exactly what the
// commands print.
#ifndef VOKID_CLI_RESULT_JSON_H
#define VOKID_CLI_RESULT_JSON_H

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "vokid/index/index_store.h"
#include "vokid/search/identifier.h"

namespace vokid {

// identify --json: {"file", "seconds", "match": null or the match}; with
// `all`, "matches": every track heard, in clip order; without a match,
// "reason" and "nearest" (null or {"track", "ber", "matched_seconds",
// "margin"}).
nlohmann::ordered_json identificationJson(const std::string &file, const Identification &found,
                                          const std::optional<TrackInfo> &track,
                                          bool all = false);
// list --json: a track with its sizes.
nlohmann::ordered_json listedTrackJson(const TrackInfo &track);
// stats --json.
nlohmann::ordered_json statsObject(const StoreStats &stats);

} // namespace vokid

#endif
