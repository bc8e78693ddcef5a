// Which positions of a track get a posting in the inverted index: the one
// rule every store is handed the result of, computed where the track is
// read (on the threads that fingerprint it), never by a store.
#ifndef VOKID_INDEX_POSTINGS_H
#define VOKID_INDEX_POSTINGS_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vokid/index/track_print.h"

namespace vokid {

// Every third sub-fingerprint has a posting: consecutive sub-fingerprints
// are equal 40% of the time and differ in 1.9 bits on average, so the
// others add little that a search can find. A clip of a few seconds still
// meets a track at a hundred of its postings or more; every category of
// the index benchmark found as many tracks at step 3 as at step 2, with
// two thirds of its postings. Indexes made with another step keep theirs.
constexpr uint32_t kDefaultStep = 3;
constexpr uint32_t kMaxStep = 16;

// One posting of a track, before it has an id: its word at a position.
struct WordPosition {
    uint32_t word;
    uint32_t position;

    bool operator==(const WordPosition &other) const
    {
        return word == other.word && position == other.position;
    }
};

// What postingsOf gives for one print: the step it was computed for (a
// store refuses another one) and the postings in order of position.
struct PrintPostings {
    uint32_t step = 0;
    std::vector<WordPosition> entries;
};

// Every `step`-th position (1 to kMaxStep) that is not a quiet frame:
// quiet frames hold the same generator words in every fingerprint, so
// they would match anything. Throws std::invalid_argument for a step out
// of range.
PrintPostings postingsOf(const TrackPrint &print, uint32_t step);

// What a store checks before it keeps a track: a print of whole blocks,
// and postings of its own step that name the print's words at positions
// within it, in order. Throws std::invalid_argument.
void checkTrack(const TrackPrint &print, const PrintPostings &postings, uint32_t step);

} // namespace vokid

#endif
