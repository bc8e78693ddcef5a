// One window of a clip (about 6 s) searched in the index: as played, then,
// when that finds nothing the acceptance rule takes, at the tempo
// hypotheses (its sub-fingerprints laid on the track's time grid: no audio
// work), then at the speed hypotheses (its audio read back), each family
// side by side until one is accepted. A match found at a rate a little off
// drifts through its track; the rates the drift tells are tried last, and
// the other family at the same rate (a clip played 3% fast can look like
// one 3% faster in tempo): the lowest accepted bit error rate stays.
#ifndef VOKID_SEARCH_WINDOW_SEARCH_H
#define VOKID_SEARCH_WINDOW_SEARCH_H

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "vokid/index/index_store.h"
#include "vokid/search/matcher.h"
#include "vokid/search/worker_pool.h"

namespace vokid {

struct Hypothesis {
    double speed = 1; // the audio read back (pitch and tempo together)
    double tempo = 1; // the sub-fingerprints laid on the track's grid
    // Track seconds per clip second.
    double rate() const { return speed * tempo; }
};

// 0: as played; then tempoHypotheses(), then the speeds other than 1.
const std::vector<Hypothesis> &searchHypotheses();

// Whether result x is better than y: an accepted match over any other,
// then one found, then the lower bit error rate.
bool improves(const Match &x, const Match &y);

enum class Hypotheses { AsPlayed, Tempos, All };

struct WindowResult {
    Match match; // accepted, or the best candidate any hypothesis found
    Hypothesis at;
    SubFingerprints query; // of that hypothesis: query position 0 is the window's start
};

class WindowSearch {
public:
    // `asPlayed`: the window's sub-fingerprints; `frames`: its audio
    // (interleaved, `count` frames), needed for the speed hypotheses only.
    WindowSearch(IndexStore &store, SubFingerprints asPlayed, const int16_t *frames, size_t count,
                 uint32_t rate, uint32_t channels);

    WindowResult run(WorkerPool &pool, Hypotheses which);

private:
    bool accepted() const { return best.match.accepted; }
    void tryAt(size_t k);
    void trySideBySide(WorkerPool &pool, const std::vector<size_t> &order, bool firstAccepted);
    std::vector<size_t> towardsDrift(Hypotheses which);
    const SubFingerprints &queryAt(size_t k);
    void makeMono();

    IndexStore &store;
    const int16_t *frames;
    size_t count;
    uint32_t rate;
    uint32_t channels;
    std::vector<int16_t> mono;            // at 11025 Hz, made once when needed
    std::vector<SubFingerprints> queries; // per hypothesis
    std::vector<char> tried;
    std::mutex mutex;
    std::atomic<bool> stop{false};
    bool untilAccepted = true;
    WindowResult best;
    size_t bestAt = 0;
};

} // namespace vokid

#endif
