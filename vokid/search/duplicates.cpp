#include "vokid/search/duplicates.h"

#include <algorithm>
#include <future>
#include <map>
#include <mutex>
#include <numeric>

#include "vokid/compare/acceptance.h"
#include "vokid/search/matcher.h"

namespace vokid {

namespace {

// Each track is searched with three stretches of 6 s, at a fifth, half
// and four fifths of its length: an excerpt or an edit of another track
// shares at least one of them.
constexpr int64_t kProbeWords = 512;
constexpr double kProbesAt[] = {0.2, 0.5, 0.8};
// The overlapping stretch is found in chunks of 64 sub-fingerprints
// (0.74 s); a chunk with fewer than half its pairs free of quiet frames
// neither ends nor makes a stretch.
constexpr int64_t kChunk = 64;

// Word p of track a pairs with word p + shift of track b.
struct Found {
    uint32_t a;
    uint32_t b;
    int64_t shift;
};

std::vector<Found> probe(IndexView &view, uint32_t id)
{
    std::vector<Found> found;
    const std::optional<TrackPrint> stored = view.print(id);
    if (!stored)
        return found;
    const SubFingerprints print = stored->subFingerprints();
    const auto size = static_cast<int64_t>(print.size());
    std::vector<int64_t> starts;
    for (double at : kProbesAt) {
        const int64_t start = std::max<int64_t>(
            0, static_cast<int64_t>(at * static_cast<double>(size - kProbeWords)));
        if (std::find(starts.begin(), starts.end(), start) == starts.end())
            starts.push_back(start);
    }
    Matcher matcher(view);
    for (int64_t start : starts) {
        const Match match = matcher.search(stretchOf(print, start, kProbeWords), id);
        if (!match.accepted)
            continue;
        found.push_back(Found{id, match.best.track, match.best.alignment.offset - start});
        for (const Candidate &same : match.sameRecording)
            found.push_back(Found{id, same.track, same.alignment.offset - start});
    }
    return found;
}

// The longest run of chunks where the two tracks agree, measured whole.
std::optional<DuplicatePair> measurePair(IndexView &view, const Found &pair)
{
    const std::optional<TrackPrint> a = view.print(pair.a);
    const std::optional<TrackPrint> b = view.print(pair.b);
    if (!a || !b)
        return std::nullopt;
    const SubFingerprints printA = a->subFingerprints();
    const SubFingerprints printB = b->subFingerprints();
    const int64_t begin = std::max<int64_t>(0, -pair.shift);
    const int64_t end = std::min<int64_t>(static_cast<int64_t>(printA.size()),
                                          static_cast<int64_t>(printB.size()) - pair.shift);
    int64_t bestFrom = 0, bestTo = 0;
    int64_t runFrom = -1, runTo = -1; // the run's first and last agreeing chunk
    for (int64_t from = begin; from < end; from += kChunk) {
        const Alignment chunk = alignAt(
            printB, stretchOf(printA, from, std::min(kChunk, end - from)), from + pair.shift);
        if (chunk.evidencePairs() < static_cast<uint64_t>(kChunk / 2))
            continue; // quiet: neither ends nor makes the run
        if (chunk.ber() > kAcceptance.maxBer) {
            runFrom = -1;
            continue;
        }
        if (runFrom < 0)
            runFrom = from;
        runTo = std::min(end, from + kChunk);
        if (runTo - runFrom > bestTo - bestFrom) {
            bestFrom = runFrom;
            bestTo = runTo;
        }
    }
    if (bestTo <= bestFrom)
        return std::nullopt;
    const Alignment whole =
        alignAt(printB, stretchOf(printA, bestFrom, bestTo - bestFrom), bestFrom + pair.shift);
    if (!accepts(kAcceptance, whole))
        return std::nullopt;
    DuplicatePair measured;
    measured.a = pair.a;
    measured.b = pair.b;
    measured.aStart = static_cast<double>(bestFrom) * indexFrameSeconds();
    measured.bStart = static_cast<double>(bestFrom + pair.shift) * indexFrameSeconds();
    measured.seconds = static_cast<double>(bestTo - bestFrom) * indexFrameSeconds();
    measured.ber = whole.ber();
    measured.pairs = whole.evidencePairs();
    return measured;
}

class Groups {
public:
    uint32_t root(uint32_t id)
    {
        auto it = parent.find(id);
        if (it == parent.end())
            return parent[id] = id;
        if (it->second != id)
            it->second = root(it->second);
        return parent[id];
    }
    void join(uint32_t a, uint32_t b) { parent[root(std::max(a, b))] = root(std::min(a, b)); }

private:
    std::map<uint32_t, uint32_t> parent;
};

} // namespace

std::vector<DuplicateGroup> findDuplicates(IndexStore &store, WorkerPool &pool)
{
    std::vector<uint32_t> ids;
    for (const TrackInfo &track : store.view()->tracks())
        ids.push_back(track.id);

    std::mutex mutex;
    std::map<std::pair<uint32_t, uint32_t>, int64_t> found; // (a < b) -> shift
    std::vector<std::future<void>> running;
    for (uint32_t id : ids) {
        running.push_back(pool.submit([&, id] {
            const std::vector<Found> matches = probe(*store.view(), id);
            std::lock_guard<std::mutex> lock(mutex);
            for (const Found &match : matches) {
                const bool forward = match.a < match.b;
                const auto key =
                    forward ? std::make_pair(match.a, match.b) : std::make_pair(match.b, match.a);
                found.emplace(key, forward ? match.shift : -match.shift);
            }
        }));
    }
    for (std::future<void> &task : running)
        task.wait();
    for (std::future<void> &task : running)
        task.get();

    const std::unique_ptr<IndexView> view = store.view();
    Groups groups;
    std::vector<DuplicatePair> pairs;
    for (const auto &[key, shift] : found) {
        if (const auto pair = measurePair(*view, Found{key.first, key.second, shift})) {
            pairs.push_back(*pair);
            groups.join(key.first, key.second);
        }
    }
    std::map<uint32_t, DuplicateGroup> byRoot;
    for (const DuplicatePair &pair : pairs) {
        DuplicateGroup &group = byRoot[groups.root(pair.a)];
        group.pairs.push_back(pair);
        for (uint32_t id : {pair.a, pair.b})
            if (std::find(group.tracks.begin(), group.tracks.end(), id) == group.tracks.end())
                group.tracks.push_back(id);
    }
    std::vector<DuplicateGroup> all;
    for (auto &[root, group] : byRoot) {
        std::sort(group.tracks.begin(), group.tracks.end());
        all.push_back(std::move(group));
    }
    return all;
}

} // namespace vokid
