// Spectral lookups: the track whose file begins like a FileFixed or
// FileFloat fingerprint (30 band statistics of the first fourteen seconds
// of sound), found among the FileFloat values the index keeps for each
// track (track_info.h) by L1 distance.
//
// A SpectralTable is a compact copy of those values, made from one view:
// 60 bytes and an id per track, 640 kB for 10,000 tracks, searched whole
// in well under a millisecond. It never changes once made, so threads
// share one read-only; SharedSpectralTable hands out the current one and
// takes a new one made after the index changed, while lookups on the old
// one go on.
#ifndef VOKID_SEARCH_BEGINNING_MATCH_H
#define VOKID_SEARCH_BEGINNING_MATCH_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "vokid/index/index_store.h"

namespace vokid {

// The largest L1 distance (over the 30 values) at which a query is taken
// for a track's file. Measured on 64 generated pieces and spoken texts and
// 20 recordings not indexed (bench/vokid/vokid_beginning_bench.sh): vok's
// FileFloat of the same file lies at 0 from its stored values, its
// FileFixed within 27, FileFixed and FileFloat of an MP3 of it at 128
// kbit/s within 1,129; different recordings no nearer than 5,724. 2,500
// lies about a factor of 2.2 from each.
constexpr uint32_t kSpectralTolerance = 2500;

struct SpectralMatch {
    uint32_t track = 0;
    uint32_t distance = 0; // L1, over the 30 values
};

class SpectralTable {
public:
    SpectralTable() = default;
    // The tracks that have values, in order of id.
    explicit SpectralTable(const std::vector<TrackInfo> &tracks);
    // Every track of the view that has values.
    static SpectralTable of(IndexView &view);

    size_t size() const { return ids.size(); }

    // The track nearest to `query` (30 values of 0 to 65535, as
    // Document::values gives them), when no farther than `tolerance`; of
    // tracks as near, the lowest id. Throws std::invalid_argument for
    // another count of values or a value above 65535.
    std::optional<SpectralMatch> nearest(const std::vector<uint32_t> &query,
                                         uint32_t tolerance = kSpectralTolerance) const;

private:
    std::vector<uint32_t> ids;
    std::vector<uint16_t> values; // kFileValueCount per track, in the order of ids
};

// The table a server's threads search, replaced as a whole.
class SharedSpectralTable {
public:
    SharedSpectralTable() : table(std::make_shared<const SpectralTable>()) {}

    // The current table, kept alive by the caller for as long as it uses it.
    std::shared_ptr<const SpectralTable> current() const;
    // A new table from a view of `store` taken now.
    void refresh(IndexStore &store);

private:
    mutable std::mutex mutex;
    std::shared_ptr<const SpectralTable> table;
};

} // namespace vokid

#endif
