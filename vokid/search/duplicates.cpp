#include "vokid/search/duplicates.h"

#include <algorithm>
#include <cmath>
#include <future>
#include <map>
#include <mutex>
#include <numeric>

#include "vokid/compare/acceptance.h"
#include "vokid/search/matcher.h"
#include "vokid/search/speed.h"

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

// Word p of track x pairs with word shift + p * rate of track y: rate is
// 1 for a copy as stored, 1.02 for y 2% slower (more words for the same
// music).
struct Found {
    uint32_t x;
    uint32_t y;
    double shift;
    double rate = 1;
    double ber = 0;
    double anchor = 0; // the word of x where the pairing was found

    double yAt(double p) const { return shift + p * rate; }
    // The same pairing from y's side.
    Found reversed() const { return Found{y, x, -shift / rate, 1 / rate, ber, yAt(anchor)}; }
    // The pairing at another rate, through the same anchor.
    Found atRate(double other) const
    {
        return Found{x, y, yAt(anchor) - anchor * other, other, ber, anchor};
    }
};

std::vector<int64_t> probeStarts(int64_t size)
{
    std::vector<int64_t> starts;
    for (double at : kProbesAt) {
        const int64_t start = std::max<int64_t>(
            0, static_cast<int64_t>(at * static_cast<double>(size - kProbeWords)));
        if (std::find(starts.begin(), starts.end(), start) == starts.end())
            starts.push_back(start);
    }
    return starts;
}

// The accepted match of a query and the tracks of the same recording,
// its word 0 standing for word `start` of track `id`.
void collect(const Match &match, uint32_t id, int64_t start, double rate,
             std::vector<Found> &found)
{
    if (!match.accepted)
        return;
    const double at = static_cast<double>(start) * rate;
    const double anchor = static_cast<double>(start + kProbeWords / 2);
    found.push_back(Found{id, match.best.track,
                          static_cast<double>(match.best.alignment.offset) - at, rate,
                          match.best.ber(), anchor});
    for (const Candidate &same : match.sameRecording)
        found.push_back(Found{id, same.track, static_cast<double>(same.alignment.offset) - at,
                              rate, same.ber(), anchor});
}

std::vector<Found> probe(IndexView &view, uint32_t id)
{
    std::vector<Found> found;
    const std::optional<TrackPrint> stored = view.print(id);
    if (!stored)
        return found;
    const SubFingerprints print = stored->subFingerprints();
    const std::vector<int64_t> starts = probeStarts(static_cast<int64_t>(print.size()));
    Matcher matcher(view);
    for (int64_t start : starts)
        collect(matcher.search(stretchOf(print, start, kProbeWords), id), id, start, 1, found);
    if (!found.empty())
        return found;
    // At the tempos, only the middle stretch: ten searches more for each
    // track, and a copy at another tempo shares its middle. The best
    // tempo's matches are kept.
    const int64_t middle = starts[starts.size() / 2];
    const SubFingerprints stretch = stretchOf(print, middle, kProbeWords);
    for (double tempo : tempoHypotheses()) {
        std::vector<Found> atThisTempo;
        collect(matcher.search(atTempo(stretch, tempo), id), id, middle, tempo, atThisTempo);
        if (!atThisTempo.empty() && (found.empty() || atThisTempo.front().ber < found.front().ber))
            found = std::move(atThisTempo);
    }
    return found;
}

// Words [from, from + length) of a, laid on b's time grid.
SubFingerprints laid(const SubFingerprints &a, int64_t from, int64_t length, double rate)
{
    const SubFingerprints stretch = stretchOf(a, from, length);
    return rate == 1 ? stretch : atTempo(stretch, rate);
}

// The runs of chunks of a where the two tracks agree (quiet chunks
// neither end nor make a run): the longest, and the words all cover.
struct Runs {
    int64_t from = 0;
    int64_t to = 0;
    int64_t covered = 0;
};

Runs agreeingRuns(const SubFingerprints &a, const SubFingerprints &b, const Found &pair)
{
    const double sizeB = static_cast<double>(b.size());
    const int64_t begin = std::max<int64_t>(0, std::llround(std::ceil(-pair.shift / pair.rate)));
    const int64_t end = std::min<int64_t>(static_cast<int64_t>(a.size()),
                                          std::llround((sizeB - pair.shift) / pair.rate));
    Runs runs;
    int64_t runFrom = -1, runTo = -1; // the run's first and last agreeing chunk
    for (int64_t from = begin; from < end; from += kChunk) {
        const Alignment chunk =
            alignAt(b, laid(a, from, std::min(kChunk, end - from), pair.rate),
                    std::llround(pair.shift + static_cast<double>(from) * pair.rate));
        if (chunk.evidencePairs() < static_cast<uint64_t>(kChunk / 2))
            continue; // quiet: neither ends nor makes the run
        if (chunk.ber() > kAcceptance.maxBer) {
            runFrom = -1;
            continue;
        }
        const int64_t to = std::min(end, from + kChunk);
        runs.covered += runFrom < 0 ? to - from : to - runTo;
        if (runFrom < 0)
            runFrom = from;
        runTo = to;
        if (runTo - runFrom > runs.to - runs.from) {
            runs.from = runFrom;
            runs.to = runTo;
        }
    }
    return runs;
}

double coverage(double words, size_t size)
{
    return size == 0 ? 0 : std::min(1.0, words / static_cast<double>(size));
}

// The rates a pairing is measured at: as found, as stored, and each tempo
// hypothesis either way round (b faster, a faster). A 6-s probe is
// accepted as stored up to about 2% off; only the whole measure tells the
// rate.
std::vector<double> ratesToMeasure(double found)
{
    std::vector<double> rates = {found, 1};
    for (double tempo : tempoHypotheses())
        for (double rate : {tempo, 1 / tempo})
            rates.push_back(rate);
    return rates;
}

// The rate whose agreeing runs cover the most of a.
Found bestRate(const SubFingerprints &a, const SubFingerprints &b, const Found &pair, Runs &runs)
{
    Found best = pair;
    runs = Runs{};
    for (double rate : ratesToMeasure(pair.rate)) {
        const Found tried = pair.atRate(rate);
        const Runs measured = agreeingRuns(a, b, tried);
        if (measured.covered > runs.covered) {
            runs = measured;
            best = tried;
        }
    }
    return best;
}

// The longest run measured whole; the coverage of all of them. Nothing
// when they cover less than `minCoverage` of the shorter track.
std::optional<DuplicatePair> measurePair(IndexView &view, const Found &found, double minCoverage)
{
    const std::optional<TrackPrint> a = view.print(found.x);
    const std::optional<TrackPrint> b = view.print(found.y);
    if (!a || !b)
        return std::nullopt;
    const SubFingerprints printA = a->subFingerprints();
    const SubFingerprints printB = b->subFingerprints();
    Runs runs;
    const Found pair = bestRate(printA, printB, found, runs);
    if (runs.to <= runs.from)
        return std::nullopt;
    const double bFrom = pair.shift + static_cast<double>(runs.from) * pair.rate;
    const Alignment whole =
        alignAt(printB, laid(printA, runs.from, runs.to - runs.from, pair.rate), std::llround(bFrom));
    if (!accepts(kAcceptance, whole))
        return std::nullopt;
    DuplicatePair measured;
    measured.a = pair.x;
    measured.b = pair.y;
    measured.aStart = static_cast<double>(runs.from) * indexFrameSeconds();
    measured.bStart = static_cast<double>(std::llround(bFrom)) * indexFrameSeconds();
    measured.seconds = static_cast<double>(runs.to - runs.from) * indexFrameSeconds();
    measured.ber = whole.ber();
    measured.pairs = whole.evidencePairs();
    const auto covered = static_cast<double>(runs.covered);
    measured.aCoverage = coverage(covered, printA.size());
    measured.bCoverage = coverage(covered * pair.rate, printB.size());
    // Hypotheses go in steps of 0.01: 1 / 1.02 is b 2% faster.
    measured.tempo = std::round(100 / pair.rate) / 100;
    const double shorter =
        printA.size() <= printB.size() ? measured.aCoverage : measured.bCoverage;
    if (shorter < minCoverage)
        return std::nullopt;
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

// Of the pairings found for a pair from either side, the one nearest to
// the stored tempo, then the one found from a's side: the same answer
// whatever order the workers ran in.
bool preferred(const Found &x, const Found &y)
{
    const double offX = std::abs(x.rate - 1), offY = std::abs(y.rate - 1);
    if (offX != offY)
        return offX < offY;
    return x.x < y.x;
}

// a < b -> the pairing, as found from either side
using Pairings = std::map<std::pair<uint32_t, uint32_t>, std::pair<Found, Found>>;

Pairings probeAll(IndexStore &store, WorkerPool &pool)
{
    std::vector<uint32_t> ids;
    for (const TrackInfo &track : store.view()->tracks())
        ids.push_back(track.id);
    std::mutex mutex;
    Pairings found; // the pairing as found (which side), and from a's side
    std::vector<std::future<void>> running;
    for (uint32_t id : ids) {
        running.push_back(pool.submit([&, id] {
            const std::vector<Found> matches = probe(*store.view(), id);
            std::lock_guard<std::mutex> lock(mutex);
            for (const Found &match : matches) {
                const Found forward = match.x < match.y ? match : match.reversed();
                const auto key = std::make_pair(forward.x, forward.y);
                const auto it = found.find(key);
                if (it == found.end())
                    found.emplace(key, std::make_pair(match, forward));
                else if (preferred(match, it->second.first))
                    it->second = std::make_pair(match, forward);
            }
        }));
    }
    for (std::future<void> &task : running)
        task.wait();
    for (std::future<void> &task : running)
        task.get();
    return found;
}

} // namespace

std::vector<DuplicateGroup> findDuplicates(IndexStore &store, WorkerPool &pool, double minCoverage)
{
    const Pairings found = probeAll(store, pool);
    const std::unique_ptr<IndexView> view = store.view();
    Groups groups;
    std::vector<DuplicatePair> pairs;
    for (const auto &[key, pairing] : found) {
        if (const auto pair = measurePair(*view, pairing.second, minCoverage)) {
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
