// Tracks of an index that are the same recording: a copy, a re-encoding,
// an excerpt, a copy at another tempo. Stretches of each track are
// searched in the index like clips (the track itself left out), as stored
// and, when that finds nothing, laid at each tempo hypothesis (atTempo);
// for each pair the stretches where they agree are measured, and pairs
// whose stretches cover enough of the shorter track are grouped.
// Only the stored sequences are there, no audio: a copy played at another
// speed (pitch and tempo together) has its bands moved as well, which no
// laying of stored words undoes. Laid at the tempo, such a copy still
// agrees up to 3% off (on generated music: bit error rate 0.10 at 1%, 0.13
// at 2%, 0.21 at 3%; the acceptance rule takes 0.25) and is reported as a
// tempo; from 4% off it is not found. Identify and compare, which read
// the audio back, find those.
#ifndef VOKID_SEARCH_DUPLICATES_H
#define VOKID_SEARCH_DUPLICATES_H

#include <cstdint>
#include <vector>

#include "vokid/index/index_store.h"
#include "vokid/search/worker_pool.h"

namespace vokid {

struct DuplicatePair {
    uint32_t a = 0; // a < b
    uint32_t b = 0;
    double aStart = 0; // seconds: the stretch starts here in a ...
    double bStart = 0; // ... and here in b
    double seconds = 0;
    double ber = 0;
    uint64_t pairs = 0; // sub-fingerprint pairs without quiet frames
    // Of each track, the fraction its agreeing stretches cover, 0 to 1.
    double aCoverage = 0;
    double bCoverage = 0;
    double tempo = 1; // of b relative to a: 1.02 when b goes 2% faster
};

struct DuplicateGroup {
    std::vector<uint32_t> tracks; // ascending
    std::vector<DuplicatePair> pairs;
};

// Pairs that cover less than `minCoverage` (0 to 1) of the shorter
// track are left out. Groups in order of their first track.
std::vector<DuplicateGroup> findDuplicates(IndexStore &store, WorkerPool &pool,
                                           double minCoverage = 0.5);

} // namespace vokid

#endif
