// The index behind a small interface, so that other stores (a lookup
// server, a database server for collections that outgrow one machine) can
// take the place of the local one: a view is one consistent state of the
// index, a batch is one transaction that changes it. openStore
// (open_store.h) picks the store from the location the user gives.
//
// What is stored:
//   tracks     id -> TrackInfo (with the FileFloat values of the file's
//              beginning, for spectral lookups: beginning_match.h)
//   sequences  id -> the track's whole print (words, kept masks, quiet frames)
//   postings   32-bit word -> (track, position) for every indexed position
//   paths      path -> id, to find a file added before
//
// Which positions are indexed is not the store's to decide: a batch is
// handed a track's postings with its print (postings.h).
#ifndef VOKID_INDEX_INDEX_STORE_H
#define VOKID_INDEX_INDEX_STORE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vokid/compare/sub_fingerprints.h"
#include "vokid/index/postings.h"
#include "vokid/index/track_info.h"
#include "vokid/index/track_print.h"

namespace vokid {

enum class StoreAccess {
    Read,   // the index must exist; views only
    Update, // the index must exist; views and batches
    Write,  // views and batches; created where the store creates one
};

struct Posting {
    uint32_t track;
    uint32_t position; // of the sub-fingerprint in the track
};

// The postings of a list of words, looked up together: word i's are
// at(i), in order of track and position, and count(i) is how many it has
// (also when they were too many to be listed; past the lookup's limit, a
// store may stop counting at limit + 1).
class PostingLists {
public:
    struct Range {
        const Posting *first;
        const Posting *last;
        const Posting *begin() const { return first; }
        const Posting *end() const { return last; }
        size_t size() const { return static_cast<size_t>(last - first); }
    };

    size_t size() const { return counts.size(); }
    size_t count(size_t i) const { return counts[i]; }
    Range at(size_t i) const;

    // For stores: cleared before a lookup (keeping the memory), then each
    // word's postings added and the word closed with its count.
    void clear();
    void add(Posting posting) { postings.push_back(posting); }
    void addAll(const std::vector<Posting> &more)
    {
        postings.insert(postings.end(), more.begin(), more.end());
    }
    void close(size_t count);

private:
    std::vector<Posting> postings;
    std::vector<size_t> ends; // of each word's postings
    std::vector<size_t> counts;
};

// Throws std::invalid_argument unless the words ascend without repeats.
void requireAscending(const std::vector<uint32_t> &words);

// A stretch of a track's sequence asked for with others, and what a view
// gives for it: as sequence() does.
struct StretchRequest {
    uint32_t track = 0;
    int64_t from = 0;
    size_t length = 0;
};
struct Stretch {
    SubFingerprints frames;
    int64_t first = 0;
};

// A figure of the store's own, for `vokid stats`: "page_size", "page
// size", 4096, "bytes" for "page size: 4096 bytes".
struct StoreFact {
    std::string key;   // JSON member
    std::string label; // in the text
    uint64_t value = 0;
    std::string unit; // in the text after the value; may be empty
};

struct StoreStats {
    uint64_t tracks = 0;
    uint64_t tracksWithValues = 0; // that have their file's FileFloat values
    double seconds = 0;            // of audio, all tracks together
    uint64_t words = 0;            // sub-fingerprints stored
    uint64_t postings = 0;         // as the postings themselves count
    uint64_t trackPostings = 0;    // as the track records count them
    // Bytes each part takes where the store keeps it, and of the whole.
    uint64_t postingBytes = 0;
    uint64_t sequenceBytes = 0;
    uint64_t metadataBytes = 0; // track records, paths, the store's own
    uint64_t freeBytes = 0;     // freed and not yet reused
    uint64_t fileBytes = 0;     // the whole store (on disk: its files)
    uint32_t step = 1;
    std::string kind; // "lmdb", "memory"
    std::vector<StoreFact> facts;
};

// One consistent state of the index: what a committed transaction left,
// whatever is written meanwhile.
class IndexView {
public:
    virtual ~IndexView() = default;

    virtual std::optional<TrackInfo> track(uint32_t id) = 0;
    // The track of the lowest id added from `path`.
    virtual std::optional<TrackInfo> trackAt(const std::string &path) = 0;
    // In order of id.
    virtual std::vector<TrackInfo> tracks() = 0;

    // The postings of every word of `words` (ascending, no repeats) in one
    // call, into `out` (cleared first); a word with more than `limit` has
    // none listed (a word that common is no evidence), only its count.
    virtual void postings(const std::vector<uint32_t> &words, size_t limit, PostingLists &out) = 0;

    // Sub-fingerprints [from, from + length) of a track, clipped to it;
    // `first` receives the position of the first one returned. Empty for
    // an unknown track.
    virtual SubFingerprints sequence(uint32_t track, int64_t from, size_t length,
                                     int64_t &first) = 0;
    // The stretches of `asked` in one call, into `out` (resized to match):
    // a store on a server answers them in one round trip. By default one
    // sequence() each.
    virtual void sequences(const std::vector<StretchRequest> &asked, std::vector<Stretch> &out);
    virtual std::optional<TrackPrint> print(uint32_t track) = 0;

    virtual StoreStats stats() = 0;

    // A store whose postings and sequences are spread over servers
    // (shards) may answer without the ones that are down: the view then
    // names them (their locations, shown without a password), and what it
    // read is partial. None, and 0 shards, for the other stores.
    virtual std::vector<std::string> shardsDown() { return {}; }
    virtual size_t shardCount() { return 0; }
};

// One transaction. Nothing it does is seen by others, or kept, until
// commit(); a batch destroyed without commit() leaves the index as it was.
// A committed batch is done: using it again throws std::logic_error.
class IndexBatch : public IndexView {
public:
    // Stores a track (under a new id when info.id is 0, else replacing the
    // track of that id) with its print and its postings, postingsOf(print,
    // step()); returns the id, or 0 (concurrentBatches() below). Ids are
    // never used again: a new track gets one above every id the index has
    // had. Throws std::invalid_argument
    // for a print or postings checkTrack refuses.
    virtual uint32_t put(TrackInfo info, const TrackPrint &print,
                         const PrintPostings &postings) = 0;
    // Gives track `id` the FileFloat values of its file's beginning, its
    // print and everything else left as they are; false when there is no
    // such track.
    virtual bool setValues(uint32_t id, const FileValues &values) = 0;
    // Removes a track, its print and its postings; false when there is none.
    virtual bool remove(uint32_t id) = 0;
    virtual void commit() = 0;
};

class IndexStore {
public:
    virtual ~IndexStore() = default;
    virtual std::unique_ptr<IndexView> view() = 0;
    // Only one batch at a time is open on an index (for a store others
    // share, across processes): a second one waits for the first to end;
    // unless concurrentBatches(). Throws std::logic_error for a store
    // opened for reading.
    virtual std::unique_ptr<IndexBatch> batch() = 0;
    // Whether batches write at once (a database server's store): then a
    // batch may not see what another one stores meanwhile, and put() of a
    // new track (info.id 0) of a file another batch has stored (the same
    // path, size and time; a size above 0) stores nothing and returns 0.
    virtual bool concurrentBatches() const { return false; }
    // Every step-th sub-fingerprint that is not a quiet frame has a posting.
    virtual uint32_t step() const = 0;

    // Called (once, from another thread) when batch() has waited a moment
    // for another process's batch to end; nothing by default.
    virtual void setWaitNotice(std::function<void()> notice) { (void)notice; }
    // Gives back the room a store keeps for a removal on a full disk (the
    // next batch may use it); false when it keeps none.
    virtual bool releaseReserve() { return false; }
};

} // namespace vokid

#endif
