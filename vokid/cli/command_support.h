// What the index commands share: opening the index with its failure
// reported, and how they write seconds, durations and tracks.
#ifndef VOKID_CLI_COMMAND_SUPPORT_H
#define VOKID_CLI_COMMAND_SUPPORT_H

#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "vokid/cli/console.h"
#include "vokid/index/index_store.h"
#include "vokid/index/open_store.h"

namespace vokid {

// The store DB names (open_store.h), or null after the failure has been
// reported ("vokid: DB: cause"). An index of an older format opened for
// writing is first converted in place (vokid upgrade), once, with a line
// that says so and its progress on a terminal. An index StoreAccess::Write
// creates has `step` (kDefaultStep when 0).
std::unique_ptr<IndexStore> openReporting(const std::string &db, StoreAccess access,
                                          Console &console, uint32_t step = 0);
// "compact: 45% of 1200340 records" on the status line, and a line when
// the work waits for another writer.
CopyProgress progressOn(Console &console, const std::string &db, const char *work);
// Processor cores, at least 1.
unsigned cores();

// "63.420"
std::string seconds3(double seconds);
// ", played 2% fast" (a speed: pitch and tempo together), ", tempo 3%
// slower" (the pitch kept), or nothing when both are 1.
std::string paceText(double speed, double tempo);
// "27.8 MB"
std::string megabytes(uint64_t bytes);
// "3:25.4", "1:02:03.0"
std::string clockTime(double seconds);
// "Artist - Title [Album]", "Title", or empty.
std::string tagsOf(const TrackInfo &track);
// The track's path, and its tags in parentheses when it has any.
std::string describeTrack(const TrackInfo &track);
// id, path, title, artist (null when empty), album (only when not empty).
nlohmann::ordered_json trackJson(const TrackInfo &track);
// A rate rounded to four places, or seconds to the millisecond.
double rounded4(double value);

} // namespace vokid

#endif
