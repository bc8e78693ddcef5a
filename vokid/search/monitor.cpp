#include "vokid/search/monitor.h"

#include <algorithm>
#include <cmath>
#include <future>
#include <memory>
#include <optional>

#include "vokid/fingerprint/algorithm.h"
#include "vokid/input/input_error.h"
#include "vokid/input/mono_resampler.h"
#include "vokid/search/matcher.h"
#include "vokid/search/speed.h"
#include "vokid/search/stream_print.h"

namespace vokid {

namespace {

constexpr uint32_t kSpeedRate = 11025;
// Segment ends are found in steps of 32 sub-fingerprints (0.37 s).
constexpr size_t kEdgeStep = 32;
// Two windows agree when the track's position advances with the
// recording to within half a second.
constexpr double kAgreeSeconds = 0.5;

// The recording's sub-fingerprints at one speed hypothesis. Word q of a
// print at speed s stands for the recording at q * frameSeconds / s.
struct SpeedPrint {
    double speed = 1;
    SubFingerprints words;
};

std::vector<SpeedPrint> printsOf(const AudioInput &input, bool speeds)
{
    const Algorithm algorithm = Algorithm::Stream1;
    AudioTarget target{acceptedRates(algorithm), fallbackRate(algorithm), 0};
    target.louderChannel = true;
    AudioSource source(input, target);
    StreamPrint native(source.rate(), source.channels());
    std::unique_ptr<MonoResampler> mono;
    std::vector<double> others;
    std::vector<SpeedResampler> resamplers;
    std::vector<std::unique_ptr<StreamPrint>> prints;
    if (speeds) {
        mono = std::make_unique<MonoResampler>(source.rate(), source.channels(), kSpeedRate);
        for (double speed : speedHypotheses()) {
            if (speed == 1.0)
                continue;
            others.push_back(speed);
            resamplers.emplace_back(speed);
            prints.push_back(std::make_unique<StreamPrint>(kSpeedRate, 1));
        }
    }
    std::vector<int16_t> monoSamples, stretched;
    const auto feedOthers = [&] {
        for (size_t k = 0; k < others.size(); ++k) {
            stretched.clear();
            resamplers[k].add(monoSamples.data(), monoSamples.size(), stretched);
            prints[k]->add(stretched.data(), stretched.size());
        }
        monoSamples.clear();
    };
    for (AudioChunk chunk = source.read(); chunk.frames > 0; chunk = source.read()) {
        native.add(chunk.samples, chunk.frames);
        if (mono) {
            mono->add(chunk.samples, chunk.frames, monoSamples);
            feedOthers();
        }
    }
    if (mono) {
        mono->finish(monoSamples);
        feedOthers();
    }
    std::vector<SpeedPrint> all;
    all.push_back(SpeedPrint{1.0, native.finish()});
    for (size_t k = 0; k < others.size(); ++k) {
        try {
            all.push_back(SpeedPrint{others[k], prints[k]->finish()});
        } catch (const InputError &) {
            // read faster, too short for a block
        }
    }
    return all;
}

// A window's match: at speed print `speed`, print word `first` pairs with
// track word first + shift.
struct WindowMatch {
    bool accepted = false;
    size_t speed = 0;
    uint32_t track = 0;
    int64_t shift = 0;
};

// The figures of a stretch of a speed print against its track.
Alignment measure(IndexView &view, const SpeedPrint &print, uint32_t track, int64_t shift,
                  int64_t from, int64_t length)
{
    const SubFingerprints stretch = stretchOf(print.words, from, length);
    int64_t first = 0;
    const SubFingerprints stored = view.sequence(track, from + shift, stretch.size(), first);
    if (stored.size() == 0 || stretch.size() == 0)
        return Alignment();
    return alignAt(stored, stretch, from + shift - first);
}

bool matchesHere(IndexView &view, const SpeedPrint &print, uint32_t track, int64_t shift,
                 int64_t from)
{
    const Alignment alignment =
        measure(view, print, track, shift, from, static_cast<int64_t>(kEdgeStep));
    return alignment.evidencePairs() >= kEdgeStep / 2 && alignment.ber() <= kAcceptance.maxBer;
}

struct Draft {
    size_t speed;
    uint32_t track;
    int64_t shift;
    int64_t from; // in the speed print's words
    int64_t to;
};

// Moves a segment's ends to where its track stops matching, a step at a
// time: outwards while the next step matches (up to the neighbours), or
// inwards while the last step does not.
void refine(IndexView &view, const std::vector<SpeedPrint> &prints, Draft &draft, int64_t lowest,
            int64_t highest)
{
    const SpeedPrint &print = prints[draft.speed];
    const auto step = static_cast<int64_t>(kEdgeStep);
    const auto here = [&](int64_t from) {
        return matchesHere(view, print, draft.track, draft.shift, from);
    };
    while (draft.to + step <= highest && here(draft.to))
        draft.to += step;
    while (draft.to - step > draft.from + step && !here(draft.to - step))
        draft.to -= step;
    while (draft.from - step >= lowest && here(draft.from - step))
        draft.from -= step;
    while (draft.from + step < draft.to - step && !here(draft.from))
        draft.from += step;
}

// The window starts, in native words: every hop, and one more flush with
// the end when the last hop leaves half a hop or more unsearched.
std::vector<int64_t> windowStarts(int64_t total, int64_t windowWords, int64_t hopWords)
{
    std::vector<int64_t> starts;
    for (int64_t start = 0; start + windowWords <= total; start += hopWords)
        starts.push_back(start);
    if (total - (starts.back() + windowWords) >= hopWords / 2)
        starts.push_back(total - windowWords);
    return starts;
}

// Each window on its own, side by side: as played, then at the other
// speeds until one is accepted.
std::vector<WindowMatch> searchWindows(IndexStore &store, WorkerPool &pool,
                                       const std::vector<SpeedPrint> &prints,
                                       const std::vector<int64_t> &starts, int64_t windowWords)
{
    std::vector<WindowMatch> matches(starts.size());
    std::vector<std::future<void>> running;
    for (size_t w = 0; w < starts.size(); ++w) {
        running.push_back(pool.submit([&, w] {
            const std::unique_ptr<IndexView> view = store.view();
            Matcher matcher(*view);
            for (size_t s = 0; s < prints.size(); ++s) {
                const double speed = prints[s].speed;
                const auto from = std::llround(static_cast<double>(starts[w]) * speed);
                const Match match = matcher.search(
                    stretchOf(prints[s].words, from, std::llround(windowWords * speed)));
                if (match.accepted) {
                    matches[w] =
                        WindowMatch{true, s, match.best.track, match.best.alignment.offset - from};
                    return;
                }
            }
        }));
    }
    for (std::future<void> &task : running)
        task.wait();
    for (std::future<void> &task : running)
        task.get();
    return matches;
}

// Neighbouring windows that agree (the same track, its position advancing
// with the recording), one unmatched window between them bridged, become
// one draft segment.
std::vector<Draft> mergeWindows(const std::vector<SpeedPrint> &prints,
                                const std::vector<WindowMatch> &matches,
                                const std::vector<int64_t> &starts, int64_t windowWords,
                                int64_t hopWords)
{
    const double frameSeconds = prints.front().words.frameSeconds;
    std::vector<Draft> drafts;
    for (size_t w = 0; w < starts.size(); ++w) {
        const WindowMatch &match = matches[w];
        if (!match.accepted)
            continue;
        const double speed = prints[match.speed].speed;
        const auto from = std::llround(static_cast<double>(starts[w]) * speed);
        const auto to = std::llround(static_cast<double>(starts[w] + windowWords) * speed);
        if (!drafts.empty()) {
            Draft &last = drafts.back();
            const double lastSpeed = prints[last.speed].speed;
            // Where the last segment puts this window's start in its track.
            const double expected =
                (static_cast<double>(starts[w]) * lastSpeed + last.shift) * frameSeconds;
            const double found = static_cast<double>(from + match.shift) * frameSeconds;
            const double lastEnd = static_cast<double>(last.to) / lastSpeed;
            if (last.track == match.track && std::abs(found - expected) <= kAgreeSeconds &&
                static_cast<double>(starts[w]) <= lastEnd + hopWords / 2.0) {
                last.to = std::llround(static_cast<double>(starts[w] + windowWords) * lastSpeed);
                continue;
            }
        }
        drafts.push_back(Draft{match.speed, match.track, match.shift, from, to});
    }
    return drafts;
}

// A draft's ends found where its track stops matching, within its
// neighbours, and its figures measured over what remains.
Segment settle(IndexView &view, const std::vector<SpeedPrint> &prints,
               const std::vector<Draft> &drafts, size_t d)
{
    Draft draft = drafts[d];
    const SpeedPrint &print = prints[draft.speed];
    const double speed = print.speed;
    // A neighbour's end or start, in this print's words.
    const auto inThisPrint = [&](const Draft &other, int64_t word) {
        return std::llround(static_cast<double>(word) / prints[other.speed].speed * speed);
    };
    const int64_t lowest = d == 0 ? 0 : inThisPrint(drafts[d - 1], drafts[d - 1].to);
    const int64_t highest = d + 1 == drafts.size() ? static_cast<int64_t>(print.words.size())
                                                   : inThisPrint(drafts[d + 1], drafts[d + 1].from);
    refine(view, prints, draft, std::min(lowest, draft.from), std::max(highest, draft.to));
    const Alignment figures =
        measure(view, print, draft.track, draft.shift, draft.from, draft.to - draft.from);
    const double frameSeconds = print.words.frameSeconds;
    Segment segment;
    segment.start = static_cast<double>(draft.from) * frameSeconds / speed;
    segment.end = static_cast<double>(draft.to) * frameSeconds / speed;
    segment.track = draft.track;
    segment.trackOffset = static_cast<double>(draft.from + draft.shift) * frameSeconds;
    segment.speed = speed;
    segment.ber = figures.ber();
    segment.pairs = figures.evidencePairs();
    return segment;
}

// Segments whose ends overlap meet halfway.
void meetHalfway(std::vector<Segment> &segments)
{
    for (size_t d = 1; d < segments.size(); ++d) {
        Segment &before = segments[d - 1];
        Segment &after = segments[d];
        if (before.end > after.start) {
            const double middle = (before.end + after.start) / 2;
            after.trackOffset += (middle - after.start) * after.speed;
            after.start = middle;
            before.end = middle;
        }
    }
}

} // namespace

std::vector<Segment> monitor(IndexStore &store, WorkerPool &pool, const AudioInput &recording,
                             const MonitorOptions &options)
{
    const std::vector<SpeedPrint> prints = printsOf(recording, options.speeds);
    const SubFingerprints &native = prints.front().words;
    const auto total = static_cast<int64_t>(native.size());
    const auto windowWords =
        std::min<int64_t>(total, std::llround(options.windowSeconds / native.frameSeconds));
    const auto hopWords =
        std::max<int64_t>(1, std::llround(options.hopSeconds / native.frameSeconds));
    const std::vector<int64_t> starts = windowStarts(total, windowWords, hopWords);
    const std::vector<WindowMatch> matches =
        searchWindows(store, pool, prints, starts, windowWords);
    const std::vector<Draft> drafts = mergeWindows(prints, matches, starts, windowWords, hopWords);

    const std::unique_ptr<IndexView> view = store.view();
    std::vector<Segment> segments;
    for (size_t d = 0; d < drafts.size(); ++d)
        segments.push_back(settle(*view, prints, drafts, d));
    meetHalfway(segments);
    return segments;
}

} // namespace vokid
