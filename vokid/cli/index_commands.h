// The commands on an identification index: add, identify, monitor, list,
// remove, stats, duplicates and check. Each opens the index folder DB (add
// creates it), does its work and returns the exit code: 0 when every input
// was done, 1 when the index or an input failed (named on standard error
// with the cause).
#ifndef VOKID_CLI_INDEX_COMMANDS_H
#define VOKID_CLI_INDEX_COMMANDS_H

#include <cstdint>
#include <string>
#include <vector>

#include "vokid/cli/console.h"

namespace vokid {

// monitor's source and its segments.
struct MonitorRequest {
    bool follow = false;     // the file is still being written
    std::string inputFormat; // FFmpeg's ("alsa" for a sound card)
    std::string pcm;         // raw PCM's sample format ("s16le")
    uint32_t rate = 0;       // ... its rate and channels
    uint32_t channels = 0;
    double retryFor = 300;  // seconds a dropped URL or device is tried again
    double minLength = 6;   // the shortest segment reported
};

struct IndexOptions {
    std::string db;
    std::vector<std::string> files; // add, identify, monitor; remove: ids or paths
    unsigned jobs = 1;              // inputs at once
    unsigned batch = 32;            // add: files per transaction
    double minCoverage = 0.5;       // duplicates: of the shorter track, to group a pair
    double length = 0;              // identify: seconds of each clip searched (0: all)
    bool speeds = true;             // identify, monitor: try other playback speeds
    bool json = false;
    bool all = false;     // identify: every track heard in a clip
    bool explain = false; // identify: why a clip has no match, in text
    std::string name; // add: the track's path for audio from standard input
    bool changed = false; // prune: also tracks whose file changed
    bool dryRun = false;  // prune: only tell what would go
    MonitorRequest monitor;
};

int runAdd(const IndexOptions &options, Console &console);
int runIdentify(const IndexOptions &options, Console &console);
int runMonitor(const IndexOptions &options, Console &console);
int runList(const IndexOptions &options, Console &console);
int runRemove(const IndexOptions &options, Console &console);
int runStats(const IndexOptions &options, Console &console);
int runDuplicates(const IndexOptions &options, Console &console);
// Walks the whole index (index_check.h): "ok", or "damaged" and a line per
// damaged track (id, path, cause) and per problem of the whole.
int runCheck(const IndexOptions &options, Console &console);
int runPrune(const IndexOptions &options, Console &console);

} // namespace vokid

#endif
