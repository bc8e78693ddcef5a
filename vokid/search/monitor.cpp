#include "vokid/search/monitor.h"

#include <algorithm>
#include <cmath>

#include "vokid/compare/acceptance.h"
#include "vokid/compare/alignment.h"
#include "vokid/search/matcher.h"

namespace vokid {

namespace {

constexpr uint32_t kSpeedRate = 11025;
// A play is followed in steps of 32 sub-fingerprints (0.37 s), each
// matching when half its pairs are evidence and its bit error rate is at
// most the acceptance rule's.
constexpr size_t kEdgeStep = 32;
// A jump back to the track's first second (and a step's slack) after the
// play reached the track's last two seconds is a new play.
constexpr double kRestartSeconds = 1.5;
constexpr double kEndSeconds = 2;
// A play found by a window may have begun this long before the window.
constexpr double kBackSeconds = 12;
// Words are never kept longer than this behind the newest, whatever an
// open play still wants: memory stays bounded for a play that no step
// confirms.
constexpr double kMostBehindSeconds = 90;
// Two lies of one track that place it within this of each other are one.
constexpr double kSameLieSeconds = 0.5;
// The open play's rate is kept for a window while it matches this well (a
// clean play within 0.5% of its rate stays near 0.06); above it, every
// rate is tried and the best goes on: a play begun at the wrong rate on a
// window half silent, or drifting, finds its own.
constexpr double kSteadyBer = 0.1;
// A sub-fingerprint's analysis window: a step's audio runs this much past
// the step's last word, and a play's end is put halfway into it.
constexpr double kAnalysisSeconds = 0.37;

// The steps a gap of bridgeSeconds may take, with the step it ends in.
double gapSeconds(const MonitorOptions &options)
{
    return options.bridgeSeconds + kEdgeStep * streamGrid(ENG_ALG_STREAM1).frameSeconds;
}

bool stepMatches(const Alignment &step)
{
    return step.evidencePairs() >= kEdgeStep / 2 && step.ber() <= kAcceptance.maxBer;
}

} // namespace

// A hypothesis: the recording plays its tracks `factor` times fast, in
// speed (its own print, from the audio read back slower) or in tempo (the
// as-played words laid on the track's grid).
struct LiveMonitor::Hypothesis {
    double factor = 1;
    bool tempo = false;
    size_t ring = 0; // of its words; a tempo's are the as-played ones
};

// How a track lies under the recording: at recording second t the track
// is at word anchorWord + (t - anchorTime) * factor / frameSeconds.
struct LiveMonitor::Lie {
    uint32_t track = 0;
    size_t hypothesis = 0;
    double anchorTime = 0;
    double anchorWord = 0;
};

// Words of a hypothesis standing for the recording from `base` on: word j
// at base + j * frameSeconds / factor.
struct LiveMonitor::Query {
    SubFingerprints words;
    double base = 0;
    bool tempo = false; // laid at a tempo: judged by the stricter rule
};

struct LiveMonitor::Play {
    Lie lie;
    double start = 0, end = 0; // recording seconds matched
    double scanned = 0;        // followed step by step up to here
    double trackStart = 0;     // track seconds at the start
    double reached = 0;        // the furthest track second heard
    double trackSeconds = 0;   // of the track's stored words
    double trackDuration = 0;  // of its audio: the words stop at its last whole block
    Alignment figures;         // of its matched steps
    std::vector<double> seconds; // matched, per hypothesis
};

struct LiveMonitor::Window {
    double start = 0;
    std::future<void> done;
    std::shared_ptr<std::optional<Lie>> found;
};

namespace {

double trackWordAt(const LiveMonitor::Lie &lie, double factor, double frameSeconds, double time)
{
    return lie.anchorWord + (time - lie.anchorTime) * factor / frameSeconds;
}

struct Found {
    LiveMonitor::Lie lie;
    double ber = 1;
};

std::optional<Found> searchOne(Matcher &matcher, const LiveMonitor::Query &query, size_t h)
{
    if (query.words.size() < kAcceptance.minPairs)
        return std::nullopt;
    const Match match = matcher.search(query.words);
    // A cover played at another tempo is what laying words on a track's
    // grid makes look like the track: a tempo match meets the stricter bar.
    if (!match.accepted ||
        (query.tempo && !accepts(kTempoAcceptance, match.best.alignment, match.runnerUpBer)))
        return std::nullopt;
    const LiveMonitor::Lie lie{match.best.track, h, query.base,
                               static_cast<double>(match.best.alignment.offset)};
    return Found{lie, match.best.ber()};
}

// A window's track: the open play's hypothesis first, kept when it finds
// the same track steadily (kSteadyBer); else the best of every hypothesis, so that the one
// chosen does not depend on where the window falls in the track.
std::optional<LiveMonitor::Lie> searchWindow(IndexStore &store,
                                             const std::vector<LiveMonitor::Query> &queries,
                                             const std::optional<LiveMonitor::Lie> &hint)
{
    const std::unique_ptr<IndexView> view = store.view();
    Matcher matcher(*view);
    if (hint) {
        const std::optional<Found> kept = searchOne(matcher, queries[hint->hypothesis],
                                                    hint->hypothesis);
        if (kept && kept->lie.track == hint->track && kept->ber <= kSteadyBer)
            return kept->lie;
    }
    std::optional<Found> best;
    for (size_t h = 0; h < queries.size(); ++h) {
        const std::optional<Found> found = searchOne(matcher, queries[h], h);
        if (found && (!best || found->ber < best->ber))
            best = found;
    }
    if (!best)
        return std::nullopt;
    return best->lie;
}

} // namespace

LiveMonitor::LiveMonitor(IndexStore &indexStore, WorkerPool &workers, uint32_t rate,
                         uint32_t channels, const MonitorOptions &monitorOptions,
                         SegmentSink segmentSink, double start)
    : store(indexStore), pool(workers), options(monitorOptions), sink(std::move(segmentSink)),
      startSeconds(start), native(rate, channels)
{
    frameSeconds = streamGrid(ENG_ALG_STREAM1).frameSeconds;
    hypotheses.push_back(Hypothesis{1, false, 0});
    rings.emplace_back();
    if (options.speeds) {
        mono = std::make_unique<MonoResampler>(rate, channels, kSpeedRate);
        for (double speed : speedHypotheses()) {
            if (speed == 1.0)
                continue;
            resamplers.emplace_back(speed);
            prints.push_back(std::make_unique<StreamPrint>(kSpeedRate, 1));
            hypotheses.push_back(Hypothesis{speed, false, rings.size()});
            rings.emplace_back();
        }
        for (double tempo : tempoHypotheses())
            hypotheses.push_back(Hypothesis{tempo, true, 0});
    }
    if (options.ahead == 0)
        options.ahead = pool.size() + 1;
}

LiveMonitor::~LiveMonitor()
{
    // The searches handed in use this monitor's hypotheses: they end first.
    for (Window &window : pending)
        if (window.done.valid())
            window.done.wait();
}

void LiveMonitor::add(const int16_t *frames, size_t count)
{
    native.add(frames, count);
    if (mono) {
        mono->add(frames, count, monoSamples);
        for (size_t k = 0; k < prints.size(); ++k) {
            stretched.clear();
            resamplers[k].add(monoSamples.data(), monoSamples.size(), stretched);
            prints[k]->add(stretched.data(), stretched.size());
        }
        monoSamples.clear();
    }
    takeWords(false);
    submitReady(false);
    considerReady();
    dropUnneeded();
}

void LiveMonitor::finish()
{
    if (finished)
        return;
    finished = true;
    if (mono) {
        mono->finish(monoSamples);
        for (size_t k = 0; k < prints.size(); ++k) {
            stretched.clear();
            resamplers[k].add(monoSamples.data(), monoSamples.size(), stretched);
            prints[k]->add(stretched.data(), stretched.size());
        }
    }
    takeWords(true);
    submitReady(true);
    while (!pending.empty())
        considerOldest();
    if (play) {
        const std::unique_ptr<IndexView> view = store.view();
        follow(*view);
    }
    close();
}

size_t LiveMonitor::heldWords() const
{
    size_t held = 0;
    for (const WordRing &ring : rings)
        held += ring.heldWords();
    return held;
}

void LiveMonitor::takeWords(bool last)
{
    rings[0].append(native.take(last));
    for (size_t k = 0; k < prints.size(); ++k)
        rings[k + 1].append(prints[k]->take(last));
}

// The recording's seconds every hypothesis has words for.
double LiveMonitor::heard() const
{
    double least = 1e300;
    for (const Hypothesis &hypothesis : hypotheses)
        if (!hypothesis.tempo)
            least = std::min(least, static_cast<double>(rings[hypothesis.ring].end()) *
                                        frameSeconds / hypothesis.factor);
    return least;
}

LiveMonitor::Query LiveMonitor::queryAt(size_t h, double from, double seconds) const
{
    const Hypothesis &hypothesis = hypotheses[h];
    const double factor = hypothesis.factor;
    const auto wanted = std::llround(seconds * factor / frameSeconds);
    Query query;
    if (!hypothesis.tempo) {
        const auto first = static_cast<int64_t>(std::ceil(from * factor / frameSeconds - 1e-9));
        query.words = rings[hypothesis.ring].stretch(first, wanted);
        query.base = static_cast<double>(first) * frameSeconds / factor;
        return query;
    }
    const auto first = static_cast<int64_t>(std::ceil(from / frameSeconds - 1e-9));
    const SubFingerprints played =
        rings[0].stretch(first, std::llround(seconds / frameSeconds) + 2);
    query.words = stretchOf(atTempo(played, factor), 0, wanted);
    query.base = static_cast<double>(first) * frameSeconds;
    query.tempo = true;
    return query;
}

// The figures of the step of the recording from `from` against the track
// where the lie puts it.
Alignment LiveMonitor::stepAt(IndexView &view, const Lie &lie, double from) const
{
    const double stepSeconds = kEdgeStep * frameSeconds;
    const Query query = queryAt(lie.hypothesis, from, stepSeconds);
    if (query.words.size() < kEdgeStep / 2)
        return Alignment();
    const double factor = hypotheses[lie.hypothesis].factor;
    const auto trackFrom = std::llround(trackWordAt(lie, factor, frameSeconds, query.base));
    int64_t first = 0;
    const SubFingerprints stored = view.sequence(lie.track, trackFrom, query.words.size(), first);
    if (stored.size() == 0)
        return Alignment();
    return alignAt(stored, query.words, trackFrom - first);
}

// The first step from `from` to `until` that matches the lie, among the
// steps heard.
std::optional<double> LiveMonitor::firstMatch(IndexView &view, const Lie &lie, double from,
                                              double until) const
{
    const double stepSeconds = kEdgeStep * frameSeconds;
    for (double at = from; at <= until && at + stepSeconds <= heard(); at += stepSeconds)
        if (stepMatches(stepAt(view, lie, at)))
            return at;
    return std::nullopt;
}

// Hands in every window that is complete; at the end, one more flush with
// the end when the last ones leave half a hop or more unsearched.
void LiveMonitor::submitReady(bool ending)
{
    for (;;) {
        const double start = static_cast<double>(nextWindow) * options.hopSeconds;
        if (start + options.windowSeconds <= heard()) {
            submit(start);
            ++nextWindow;
            continue;
        }
        const double last = std::max(0.0, heard() - options.windowSeconds);
        if (ending && heard() - searchedUntil >= options.hopSeconds / 2 && last > start - options.hopSeconds)
            submit(last);
        return;
    }
}

void LiveMonitor::submit(double start)
{
    // A few windows side by side, never more: the oldest is taken first.
    while (pending.size() >= options.ahead)
        considerOldest();
    auto queries = std::make_shared<std::vector<Query>>();
    for (size_t h = 0; h < hypotheses.size(); ++h)
        queries->push_back(queryAt(h, start, options.windowSeconds));
    std::optional<Lie> hint;
    if (play)
        hint = play->lie;
    Window window;
    window.start = start;
    window.found = std::make_shared<std::optional<Lie>>();
    IndexStore &index = store;
    window.done = pool.submit([&index, queries, hint, found = window.found] {
        *found = searchWindow(index, *queries, hint);
    });
    pending.push_back(std::move(window));
    searchedUntil = start + options.windowSeconds;
}

void LiveMonitor::considerOldest()
{
    Window window = std::move(pending.front());
    pending.erase(pending.begin());
    window.done.get(); // the search's exception, if it threw
    // A view for each window: a read transaction held for days would keep
    // an index that grows meanwhile from reusing its pages.
    const std::unique_ptr<IndexView> view = store.view();
    consider(*view, *window.found, window.start);
}

void LiveMonitor::considerReady()
{
    while (!pending.empty() &&
           pending.front().done.wait_for(std::chrono::seconds(0)) == std::future_status::ready)
        considerOldest();
}

// A window's result, in the order of the windows: it continues the open
// play, or ends it and begins another; without a match it may end it.
void LiveMonitor::consider(IndexView &view, const std::optional<Lie> &found, double start)
{
    follow(view);
    if (found && play && agrees(view, *found, start)) {
        follow(view);
        return;
    }
    if (found) {
        close();
        open(view, *found, start);
        return;
    }
    // Ended once its steps stopped matching for longer than the bridged
    // gap and no window left to consider starts within the gap (the next
    // starts a hop later): at most a window and the gap after its end.
    if (play && start + options.hopSeconds > play->end + options.bridgeSeconds &&
        play->scanned - play->end > gapSeconds(options))
        close();
}

// Whether a window's lie continues the open play: the same track, placed
// where the play is, or matching again within the bridged gap after the
// play's last match (a loop point, a drift of tempo) and not back at the
// track's start after the play reached its end.
bool LiveMonitor::agrees(IndexView &view, const Lie &found, double start)
{
    Play &open = *play;
    if (found.track != open.lie.track)
        return false;
    const double factor = hypotheses[found.hypothesis].factor;
    const double here = trackWordAt(found, factor, frameSeconds, start);
    const double there =
        trackWordAt(open.lie, hypotheses[open.lie.hypothesis].factor, frameSeconds, start);
    if (std::abs(here - there) * frameSeconds <= kSameLieSeconds) {
        if (start > open.end + options.bridgeSeconds)
            return false;
        // The same place at another rate, found the better by every
        // hypothesis tried: the play goes on at that rate, followed again
        // from its last match.
        if (found.hypothesis != open.lie.hypothesis) {
            open.lie = found;
            open.scanned = std::min(open.scanned, open.end);
        }
        return true;
    }
    const std::optional<double> again =
        firstMatch(view, found, open.end, open.end + gapSeconds(options));
    if (!again)
        return false;
    const double trackAt = trackWordAt(found, factor, frameSeconds, *again) * frameSeconds;
    if (trackAt <= kRestartSeconds && open.reached >= open.trackSeconds - kEndSeconds)
        return false;
    open.lie = found;
    open.scanned = *again;
    return true;
}

// A play found by a window: from the window's first matching step, back
// while the steps before it match (not into the play before it), then on
// as far as it is heard.
void LiveMonitor::open(IndexView &view, const Lie &found, double start)
{
    const double stepSeconds = kEdgeStep * frameSeconds;
    // Never within the play before it.
    const std::optional<double> first = firstMatch(view, found, std::max(start, lastEnd),
                                                   start + options.windowSeconds - stepSeconds);
    if (!first)
        return;
    double lowest = std::max(lastEnd, start - kBackSeconds);
    for (const Hypothesis &hypothesis : hypotheses)
        lowest = std::max(lowest, static_cast<double>(rings[hypothesis.ring].begin()) *
                                      frameSeconds / hypothesis.factor);
    play = std::make_unique<Play>();
    play->lie = found;
    play->seconds.assign(hypotheses.size(), 0);
    play->start = *first;
    play->scanned = *first;
    while (play->start - stepSeconds >= lowest) {
        const Alignment before = stepAt(view, found, play->start - stepSeconds);
        if (!stepMatches(before))
            break;
        accumulate(before);
        play->start -= stepSeconds;
    }
    const double factor = hypotheses[found.hypothesis].factor;
    play->trackStart = trackWordAt(found, factor, frameSeconds, play->start) * frameSeconds;
    if (play->trackStart < 0) {
        // The first step began in what came before the track.
        play->start -= play->trackStart / factor;
        play->trackStart = 0;
    }
    play->end = play->start;
    const std::optional<TrackInfo> track = view.track(found.track);
    play->trackSeconds = track ? track->words * frameSeconds : 0;
    play->trackDuration = track ? track->duration : 0;
    follow(view);
}

// Steps the open play on with its lie through what is heard, until the
// steps have not matched for longer than the bridged gap.
void LiveMonitor::follow(IndexView &view)
{
    if (!play)
        return;
    Play &open = *play;
    const double stepSeconds = kEdgeStep * frameSeconds;
    const double factor = hypotheses[open.lie.hypothesis].factor;
    while (open.scanned - open.end <= gapSeconds(options) &&
           open.scanned + stepSeconds <= heard()) {
        const Alignment step = stepAt(view, open.lie, open.scanned);
        open.scanned += stepSeconds;
        if (!stepMatches(step))
            continue;
        accumulate(step);
        open.end = open.scanned;
        open.reached = std::max(open.reached,
                                trackWordAt(open.lie, factor, frameSeconds, open.end) * frameSeconds);
    }
}

void LiveMonitor::accumulate(const Alignment &step)
{
    Alignment &figures = play->figures;
    figures.pairs += step.pairs;
    figures.quietPairs += step.quietPairs;
    figures.errorBits += step.errorBits;
    play->seconds[play->lie.hypothesis] += kEdgeStep * frameSeconds;
}

// The open play, reported when it is long enough: its speed or tempo the
// hypothesis that matched most of it.
void LiveMonitor::close()
{
    if (!play)
        return;
    const std::unique_ptr<Play> done = std::move(play);
    lastEnd = done->end;
    Segment segment;
    segment.start = startSeconds + done->start;
    // The last matched word heard the audio an analysis window past it.
    segment.end = startSeconds + done->end + kAnalysisSeconds / 2;
    // A play that matched to the last stored word ran on to the track's
    // end (up to 3 s more), as far as the recording was heard.
    const double factor = hypotheses[done->lie.hypothesis].factor;
    if (done->reached >= done->trackSeconds - kEdgeStep * frameSeconds)
        segment.end = std::min(startSeconds + heard(),
                               startSeconds + done->end +
                                   std::max(0.0, done->trackDuration - done->reached) / factor);
    segment.track = done->lie.track;
    segment.trackOffset = done->trackStart;
    const auto most = static_cast<size_t>(
        std::max_element(done->seconds.begin(), done->seconds.end()) - done->seconds.begin());
    const Hypothesis &hypothesis = hypotheses[most];
    (hypothesis.tempo ? segment.tempo : segment.speed) = hypothesis.factor;
    segment.ber = done->figures.ber();
    segment.pairs = done->figures.evidencePairs();
    if (segment.end - segment.start >= options.minSeconds)
        sink(segment);
}

// Forgets the words that neither the windows to come nor the open play
// can need: those before the oldest window not yet considered and the open
// play's last match, less the seconds a new play is looked for before its
// window.
void LiveMonitor::dropUnneeded()
{
    double keep = pending.empty() ? static_cast<double>(nextWindow) * options.hopSeconds
                                  : pending.front().start;
    if (play)
        keep = std::min(keep, play->end);
    keep = std::max(keep - kBackSeconds, heard() - kMostBehindSeconds);
    for (const Hypothesis &hypothesis : hypotheses)
        if (!hypothesis.tempo)
            rings[hypothesis.ring].dropBefore(
                static_cast<int64_t>(std::floor(keep * hypothesis.factor / frameSeconds)) - 2);
}

} // namespace vokid
