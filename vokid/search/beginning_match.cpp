#include "vokid/search/beginning_match.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace vokid {

namespace {

void requireQuery(const std::vector<uint32_t> &query)
{
    if (query.size() != kFileValueCount)
        throw std::invalid_argument("a spectral query has " + std::to_string(kFileValueCount) +
                                    " values, not " + std::to_string(query.size()));
    for (uint32_t value : query)
        if (value > 0xFFFFu)
            throw std::invalid_argument("a spectral value is 0 to 65535, not " +
                                        std::to_string(value));
}

// The L1 distance of one track's values from the query, given up (and
// anything above `bound` returned) once it passes `bound`.
uint32_t distanceWithin(const uint16_t *stored, const std::vector<uint32_t> &query, uint32_t bound)
{
    uint32_t sum = 0; // at most 30 * 65535, well within 32 bits
    for (size_t i = 0; i < kFileValueCount; ++i) {
        const uint32_t a = stored[i], b = query[i];
        sum += a > b ? a - b : b - a;
        if (sum > bound)
            return sum;
    }
    return sum;
}

} // namespace

SpectralTable::SpectralTable(const std::vector<TrackInfo> &tracks)
{
    std::vector<const TrackInfo *> kept;
    for (const TrackInfo &track : tracks)
        if (track.values)
            kept.push_back(&track);
    std::sort(kept.begin(), kept.end(),
              [](const TrackInfo *a, const TrackInfo *b) { return a->id < b->id; });
    ids.reserve(kept.size());
    values.reserve(kept.size() * kFileValueCount);
    for (const TrackInfo *track : kept) {
        ids.push_back(track->id);
        values.insert(values.end(), track->values->begin(), track->values->end());
    }
}

SpectralTable SpectralTable::of(IndexView &view)
{
    return SpectralTable(view.tracks());
}

std::optional<SpectralMatch> SpectralTable::nearest(const std::vector<uint32_t> &query,
                                                    uint32_t tolerance) const
{
    requireQuery(query);
    std::optional<SpectralMatch> best;
    uint32_t bound = tolerance;
    for (size_t t = 0; t < ids.size(); ++t) {
        const uint32_t distance = distanceWithin(&values[t * kFileValueCount], query, bound);
        // Ids ascend: of tracks as near, the one found first is the lower.
        if (distance > bound || (best && distance == best->distance))
            continue;
        best = SpectralMatch{ids[t], distance};
        bound = distance;
    }
    return best;
}

std::shared_ptr<const SpectralTable> SharedSpectralTable::current() const
{
    const std::lock_guard<std::mutex> lock(mutex);
    return table;
}

void SharedSpectralTable::refresh(IndexStore &store)
{
    // Made outside the lock: lookups go on meanwhile on the old table.
    auto made = std::make_shared<const SpectralTable>(SpectralTable::of(*store.view()));
    const std::lock_guard<std::mutex> lock(mutex);
    table = std::move(made);
}

} // namespace vokid
