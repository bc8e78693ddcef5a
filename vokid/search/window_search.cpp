#include "vokid/search/window_search.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <future>

#include "vokid/input/input_error.h"
#include "vokid/input/mono_resampler.h"
#include "vokid/search/speed.h"
#include "vokid/search/stream_print.h"

namespace vokid {

namespace {

// Read back at other speeds, the clip is first made mono at 11025 Hz: the
// sub-fingerprints use 200 to 2100 Hz, and the engine works fastest at a
// rate it halves.
constexpr uint32_t kSpeedRate = 11025;

bool isTempo(const Hypothesis &h)
{
    return h.tempo != 1;
}

bool isSpeed(const Hypothesis &h)
{
    return h.speed != 1;
}

// The hypothesis of one family (as played counting as both) nearest to `value`.
size_t nearestOf(bool tempo, double value)
{
    const std::vector<Hypothesis> &all = searchHypotheses();
    size_t nearest = 0;
    for (size_t k = 1; k < all.size(); ++k) {
        if (tempo ? !isTempo(all[k]) : !isSpeed(all[k]))
            continue;
        if (std::abs(all[k].rate() - value) < std::abs(all[nearest].rate() - value))
            nearest = k;
    }
    return nearest;
}

} // namespace

bool improves(const Match &x, const Match &y)
{
    if (x.accepted != y.accepted)
        return x.accepted;
    if (x.found != y.found)
        return x.found;
    return x.found && x.best.ber() < y.best.ber();
}

const std::vector<Hypothesis> &searchHypotheses()
{
    static const std::vector<Hypothesis> all = [] {
        std::vector<Hypothesis> made = {Hypothesis{}};
        for (double tempo : tempoHypotheses())
            made.push_back(Hypothesis{1, tempo});
        for (double speed : speedHypotheses())
            if (speed != 1)
                made.push_back(Hypothesis{speed, 1});
        return made;
    }();
    return all;
}

WindowSearch::WindowSearch(IndexStore &indexStore, SubFingerprints asPlayed,
                           const int16_t *windowFrames, size_t frameCount, uint32_t frameRate,
                           uint32_t frameChannels)
    : store(indexStore), frames(windowFrames), count(frameCount), rate(frameRate),
      channels(frameChannels), queries(searchHypotheses().size()),
      tried(searchHypotheses().size(), 0)
{
    queries[0] = std::move(asPlayed);
}

// Searches hypothesis k, unless another has been accepted meanwhile and
// that is enough.
void WindowSearch::tryAt(size_t k)
{
    const SubFingerprints &query = queryAt(k);
    if (stop)
        return;
    tried[k] = 1;
    if (query.size() == 0)
        return;
    const std::unique_ptr<IndexView> view = store.view();
    const Match match =
        Matcher(*view, isTempo(searchHypotheses()[k]) ? kTempoAcceptance : kAcceptance)
            .search(query);
    std::lock_guard<std::mutex> lock(mutex);
    if (match.accepted && untilAccepted)
        stop = true;
    if (improves(match, best.match)) {
        best.match = match;
        best.at = searchHypotheses()[k];
        bestAt = k;
    }
}

// The hypotheses not yet tried, side by side: this thread and the pool's
// each take the next one. With `firstAccepted`, the first accepted match
// stops the rest.
void WindowSearch::trySideBySide(WorkerPool &workers, const std::vector<size_t> &order,
                                 bool firstAccepted)
{
    if (std::any_of(order.begin(), order.end(),
                    [](size_t k) { return isSpeed(searchHypotheses()[k]); }))
        makeMono();
    untilAccepted = firstAccepted;
    stop = false;
    std::atomic<size_t> next{0};
    const auto work = [&] {
        for (size_t i = next++; i < order.size() && !stop; i = next++)
            if (!tried[order[i]])
                tryAt(order[i]);
    };
    std::vector<std::future<void>> helpers;
    for (unsigned t = 0; t + 1 < std::min<size_t>(workers.size() + 1, order.size()); ++t)
        helpers.push_back(workers.submit(work));
    std::exception_ptr failure;
    try {
        work();
    } catch (...) {
        failure = std::current_exception();
        stop = true;
    }
    // Every helper is waited for before any failure goes on: they use
    // this object.
    for (std::future<void> &helper : helpers)
        helper.wait();
    if (failure)
        std::rethrow_exception(failure);
    for (std::future<void> &helper : helpers)
        helper.get();
}

// The hypotheses towards the rate the accepted match's drift tells (the
// nearest to it, and the next beyond: the drift, measured over half a
// window, tends to fall short), in its own family (both from as played),
// and the other family at the match's rate. Only those not yet tried.
std::vector<size_t> WindowSearch::towardsDrift(Hypotheses which)
{
    double pace = 1;
    {
        const std::unique_ptr<IndexView> view = store.view();
        pace = Matcher(*view).pace(queries[bestAt], best.match.best);
    }
    const Hypothesis at = best.at;
    const double drifted = at.rate() * pace;
    const double step = pace > 1 ? 0.01 : -0.01;
    std::vector<size_t> next;
    const auto add = [&](size_t k) {
        if (!tried[k] && std::find(next.begin(), next.end(), k) == next.end())
            next.push_back(k);
    };
    const auto towards = [&](bool tempo) {
        const size_t nearest = nearestOf(tempo, drifted);
        if (nearest == bestAt)
            return; // in step
        add(nearest);
        add(nearestOf(tempo, searchHypotheses()[nearest].rate() + step));
    };
    const bool speeds = which == Hypotheses::All && frames != nullptr;
    if (!isSpeed(at))
        towards(true);
    if (speeds && !isTempo(at))
        towards(false);
    if (speeds && bestAt != 0)
        add(nearestOf(!isTempo(at), at.rate()));
    return next;
}

void WindowSearch::makeMono()
{
    if (!mono.empty() || frames == nullptr)
        return;
    MonoResampler toMono(rate, channels, kSpeedRate);
    toMono.add(frames, count, mono);
    toMono.finish(mono);
}

const SubFingerprints &WindowSearch::queryAt(size_t k)
{
    const Hypothesis &h = searchHypotheses()[k];
    if (k == 0 || (queries[k].size() > 0))
        return queries[k];
    if (isTempo(h)) {
        queries[k] = atTempo(queries[0], h.tempo);
        return queries[k];
    }
    if (mono.empty())
        return queries[k]; // no audio: no speed
    std::vector<int16_t> stretched;
    SpeedResampler(h.speed).add(mono.data(), mono.size(), stretched);
    try {
        queries[k] = clipPrint(stretched.data(), stretched.size(), kSpeedRate, 1);
    } catch (const InputError &) {
        // read faster, too short for a block: no query
    }
    return queries[k];
}

WindowResult WindowSearch::run(WorkerPool &pool, Hypotheses which)
{
    // 1. As played.
    tryAt(0);
    if (which == Hypotheses::AsPlayed)
        return best;
    std::vector<size_t> tempos, speeds;
    for (size_t k = 1; k < searchHypotheses().size(); ++k)
        (isTempo(searchHypotheses()[k]) ? tempos : speeds).push_back(k);
    // 2. At the tempos (no audio work), then at the speeds, side by side,
    // until one is accepted.
    if (!accepted())
        trySideBySide(pool, tempos, true);
    if (which == Hypotheses::All && frames != nullptr && !accepted())
        trySideBySide(pool, speeds, true);
    // 3. Towards the drift, again from the best, until the match stays in
    // step. Only an accepted match with fewer differing bits takes the
    // place of the one found first.
    while (accepted()) {
        const std::vector<size_t> next = towardsDrift(which);
        if (next.empty())
            break;
        trySideBySide(pool, next, false);
    }
    WindowResult result = best;
    result.query = queries[bestAt];
    return result;
}

} // namespace vokid
