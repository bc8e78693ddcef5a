// The index behind a small interface, so that another store (a server for
// collections that outgrow one machine) can take the place of the local
// one: a view is one consistent state of the index, a batch is one
// transaction that changes it.
//
// What is stored:
//   tracks     id -> TrackInfo
//   sequences  id -> the track's whole print (words, kept masks, quiet frames)
//   postings   32-bit word -> (track, position) for every indexed position
//   paths      path -> id, to find a file added before
#ifndef VOKID_INDEX_INDEX_STORE_H
#define VOKID_INDEX_INDEX_STORE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vokid/compare/sub_fingerprints.h"
#include "vokid/index/track_info.h"
#include "vokid/index/track_print.h"

namespace vokid {

struct Posting {
    uint32_t track;
    uint32_t position; // of the sub-fingerprint in the track
};

struct StoreStats {
    uint64_t tracks = 0;
    double seconds = 0;         // of audio, all tracks together
    uint64_t words = 0;         // sub-fingerprints stored
    uint64_t postings = 0;      // as the postings themselves count
    uint64_t trackPostings = 0; // as the track records count them
    // Bytes of the pages each part takes, and of the data file.
    uint64_t postingBytes = 0;
    uint64_t sequenceBytes = 0;
    uint64_t metadataBytes = 0; // track records, paths, the store's own
    uint64_t freeBytes = 0;     // pages freed and not yet reused
    uint64_t fileBytes = 0;     // the whole folder
    uint32_t step = 1;
};

// One consistent state of the index: what a committed transaction left,
// whatever is written meanwhile.
class IndexView {
public:
    virtual ~IndexView() = default;

    virtual std::optional<TrackInfo> track(uint32_t id) = 0;
    virtual std::optional<TrackInfo> trackAt(const std::string &path) = 0;
    virtual std::vector<TrackInfo> tracks() = 0;

    // Appends the postings of a word to `out`, unless there are more than
    // `limit` (a word that common is no evidence); returns how many there are.
    virtual size_t postings(uint32_t word, size_t limit, std::vector<Posting> &out) = 0;

    // Sub-fingerprints [from, from + length) of a track, clipped to it;
    // `first` receives the position of the first one returned. Empty for
    // an unknown track.
    virtual SubFingerprints sequence(uint32_t track, int64_t from, size_t length,
                                     int64_t &first) = 0;
    virtual std::optional<TrackPrint> print(uint32_t track) = 0;

    virtual StoreStats stats() = 0;
};

// One transaction. Nothing it does is seen by others, or kept, until
// commit(); a batch destroyed without commit() leaves the index as it was.
class IndexBatch : public IndexView {
public:
    // Stores a track (under a new id when info.id is 0, else replacing the
    // track of that id) with its print and postings; returns the id.
    virtual uint32_t put(TrackInfo info, const TrackPrint &print) = 0;
    // Removes a track, its print and its postings; false when there is none.
    virtual bool remove(uint32_t id) = 0;
    virtual void commit() = 0;
};

class IndexStore {
public:
    virtual ~IndexStore() = default;
    virtual std::unique_ptr<IndexView> view() = 0;
    // Only one batch at a time is open on an index, across processes:
    // a second one waits for the first to end.
    virtual std::unique_ptr<IndexBatch> batch() = 0;
    virtual uint32_t step() const = 0;
};

} // namespace vokid

#endif
