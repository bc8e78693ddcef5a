// Monitoring a long recording (a radio log, a DJ set): a window slides
// through it, each window is searched like a clip, and neighbouring
// windows that agree (the same track, its position advancing with the
// recording) are merged into segments, whose ends are then found to a
// third of a second.
#ifndef VOKID_SEARCH_MONITOR_H
#define VOKID_SEARCH_MONITOR_H

#include <cstdint>
#include <vector>

#include "vokid/index/index_store.h"
#include "vokid/input/audio_source.h"
#include "vokid/search/worker_pool.h"

namespace vokid {

struct MonitorOptions {
    double windowSeconds = 6;
    double hopSeconds = 3;
    bool speeds = true; // also search at the other speed hypotheses
};

struct Segment {
    double start = 0; // seconds in the recording
    double end = 0;
    uint32_t track = 0;
    double trackOffset = 0; // seconds in the track at the segment's start
    double speed = 1;       // the recording plays the track this much fast
    double ber = 0;         // over the segment
    uint64_t pairs = 0;     // sub-fingerprint pairs without quiet frames
};

// Throws InputError when the recording cannot be read or is shorter than
// one window.
std::vector<Segment> monitor(IndexStore &store, WorkerPool &pool, const AudioInput &recording,
                             const MonitorOptions &options);

} // namespace vokid

#endif
