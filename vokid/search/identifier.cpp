#include "vokid/search/identifier.h"

#include <algorithm>
#include <cmath>

#include "vokid/fingerprint/algorithm.h"
#include "vokid/fingerprint/recognised_input.h"
#include "vokid/input/input_error.h"
#include "vokid/search/speed.h"
#include "vokid/search/stream_print.h"
#include "vokid/search/window_search.h"

namespace vokid {

namespace {

// A clip's stream parameters are looked for in its first 4 kB: the
// default 32 kB took FFmpeg's format probes 1.5 ms on a 6-s WAVE clip,
// more than fingerprinting it.
constexpr int64_t kClipProbeBytes = 4096;

// Windows agree when the second's track position is within this many
// seconds of where the first's, advanced at its rate, puts it.
constexpr double kAgreeSeconds = 0.5;

// Where a track is heard within a window: its 1-s blocks (86
// sub-fingerprints) whose bit error rate at the window's alignment is at
// most 0.35 over at least half a second of pairs. A wrong block sits near
// 0.5, 15 standard deviations (0.0095 over 2752 bits) above that bar.
constexpr int64_t kSpanBlock = 86;
constexpr uint64_t kSpanBlockPairs = 43;
constexpr double kSpanBlockBer = 0.35;

// A match is certain without the rest of the clip once two windows agree
// on it and one has at most this bit error rate: wrong recordings stay at
// or above 0.29 (acceptance.h).
constexpr double kCertainBer = 0.15;

// A window the acceptance rule does not take alone (speech over the
// music, a noisy room: 0.23 to 0.27 with a voice 10 dB below the music)
// counts when the window next to it agrees on the track and its place: a
// full window as played or at a speed, at most this bit error rate, with
// the rule's margin. Wrong recordings (other recordings of an indexed
// piece included) stay at or above 0.289 in every window of 6- to 30-s
// clips (acceptance.h), and their windows do not agree.
constexpr double kAgreedBer = 0.28;

// Non-quiet sub-fingerprints a clip needs at all: fewer leave no alignment
// the acceptance rule could take.
size_t nonQuiet(const SubFingerprints &print)
{
    return static_cast<size_t>(std::count(print.quiet.begin(), print.quiet.end(), 0));
}

} // namespace

std::vector<size_t> windowStarts(size_t n)
{
    std::vector<size_t> starts = {0};
    if (n <= kWindowWords)
        return starts;
    for (size_t at = kWindowStep; at + kWindowWords < n; at += kWindowStep)
        starts.push_back(at);
    starts.push_back(n - kWindowWords);
    return starts;
}

const char *reasonName(MissReason reason)
{
    switch (reason) {
    case MissReason::TooQuiet:
        return "too_quiet";
    case MissReason::NoCandidate:
        return "no_candidate";
    case MissReason::BerTooHigh:
        return "ber_too_high";
    case MissReason::MarginTooSmall:
        return "margin_too_small";
    default:
        return "";
    }
}

MissReason missReason(const AcceptanceRule &rule, const Match &match)
{
    if (!match.found)
        return MissReason::NoCandidate;
    const Alignment &best = match.best.alignment;
    if (best.evidencePairs() < rule.minPairs || best.ber() > rule.threshold(best.evidencePairs()))
        return MissReason::BerTooHigh;
    return match.runnerUpBer - best.ber() < rule.minMargin ? MissReason::MarginTooSmall
                                                           : MissReason::None;
}

DecodedAudio decodeForPrint(const AudioInput &input, double maxSeconds, int64_t probeBytes)
{
    const Algorithm algorithm = Algorithm::Stream1;
    AudioTarget target{acceptedRates(algorithm), fallbackRate(algorithm), maxSeconds, probeBytes};
    target.louderChannel = true;
    AudioSource source(input, target);
    DecodedAudio audio;
    audio.rate = source.rate();
    audio.channels = source.channels();
    for (AudioChunk chunk = source.read(); chunk.frames > 0; chunk = source.read())
        audio.frames.insert(audio.frames.end(), chunk.samples,
                            chunk.samples + chunk.frames * audio.channels);
    return audio;
}

Identifier::Identifier(IndexStore &indexStore, WorkerPool &workers, bool trySpeeds)
    : store(indexStore), pool(workers), speeds(trySpeeds)
{
}

Identification Identifier::identify(const AudioInput &clip, double maxSeconds, bool all)
{
    return identifyDecoded(decodeForPrint(clip, maxSeconds, kClipProbeBytes), all);
}

Identification Identifier::identify(const std::vector<int16_t> &frames, uint32_t rate,
                                    uint32_t channels, bool all)
{
    return identifyDecoded(DecodedAudio{frames, rate, channels}, all);
}

Identification Identifier::identifyDecoded(const DecodedAudio &audio, bool all)
{
    const SubFingerprints print = clipPrint(
        audio.frames.data(), audio.frames.size() / audio.channels, audio.rate, audio.channels);
    return search(print, &audio, all);
}

template <class Search>
Identification Identifier::known(Search search, std::optional<TrackInfo> &track)
{
    Identification found;
    for (int attempt = 0; attempt < kSearches; ++attempt) {
        found = search();
        if (!found.match.accepted)
            return found;
        const std::unique_ptr<IndexView> view = store.view();
        track = view->track(found.match.best.track);
        if (!track)
            continue;
        found.track = track;
        std::vector<Heard> kept;
        for (Heard &heard : found.all) {
            heard.track = view->track(heard.match.best.track);
            if (heard.track)
                kept.push_back(std::move(heard));
        }
        found.all = std::move(kept);
        return found;
    }
    found.match.accepted = false;
    found.reason = MissReason::NoCandidate;
    found.all.clear();
    return found;
}

Identification Identifier::identifyKnown(const AudioInput &clip, double maxSeconds,
                                         std::optional<TrackInfo> &track, bool all)
{
    const DecodedAudio audio = decodeForPrint(clip, maxSeconds, kClipProbeBytes);
    return known([&] { return identifyDecoded(audio, all); }, track);
}

Identification Identifier::identifyKnown(const SubFingerprints &query,
                                         std::optional<TrackInfo> &track, bool all)
{
    return known([&] { return search(query, nullptr, all); }, track);
}

// One clip's windows, searched in order, and the tracks they agree on.
class Identifier::ClipScan {
public:
    ClipScan(Identifier &owner, const SubFingerprints &clipPrint, const DecodedAudio *clipAudio,
             double seconds, bool everyTrack)
        : identifier(owner), print(clipPrint), audio(clipAudio), clipSeconds(seconds),
          all(everyTrack), starts(windowStarts(clipPrint.size()))
    {
    }

    Identification run()
    {
        if (nonQuiet(print) < kAcceptance.minPairs)
            return miss();
        for (size_t i = 0; i < starts.size(); ++i) {
            const WindowResult result = searchWindow(starts[i]);
            if (improves(result.match, nearest.match))
                nearest = result;
            if (result.match.accepted)
                add(starts[i], result);
            else
                corroborate(starts[i], result);
            if (!all && i + 1 < starts.size() && certain(i)) {
                extendBeyond();
                break;
            }
        }
        return finish();
    }

private:
    // A track heard: its windows so far.
    struct Agreeing {
        Heard heard;
        double lastStart = 0; // the last window's start, clip seconds
        double lastTrack = 0; // the track's second there
    };
    struct Span {
        double start, end, trackStart;
    };

    double seconds(size_t words) const { return static_cast<double>(words) * print.frameSeconds; }

    WindowResult searchWindow(size_t start)
    {
        const size_t length = std::min(kWindowWords, print.size() - start);
        const int16_t *frames = nullptr;
        size_t count = 0;
        uint32_t rate = 0, channels = 1;
        if (audio != nullptr) {
            rate = audio->rate;
            channels = audio->channels;
            const size_t total = audio->frames.size() / channels;
            const auto frameAt = [&](size_t word) {
                return std::min(total, static_cast<size_t>(std::llround(seconds(word) * rate)));
            };
            const size_t from = frameAt(start);
            const size_t to = start + length == print.size() ? total : frameAt(start + length);
            frames = audio->frames.data() + from * channels;
            count = to - from;
        }
        const Hypotheses which = !identifier.speeds ? Hypotheses::AsPlayed
                                 : audio != nullptr ? Hypotheses::All
                                                    : Hypotheses::Tempos;
        return WindowSearch(
                   identifier.store,
                   stretchOf(print, static_cast<int64_t>(start), static_cast<int64_t>(length)),
                   frames, count, rate, channels)
            .run(identifier.pool, which);
    }

    // Where in the window the track is heard: from its first good block
    // to its last (the whole window when none is). The last block takes
    // the window's remainder; a window ending the clip ends with it.
    Span heardSpan(size_t start, const WindowResult &result) const
    {
        const Candidate &match = result.match.best;
        const SubFingerprints &query = result.query;
        const auto words = static_cast<int64_t>(query.size());
        const int64_t blocks = std::max<int64_t>(1, words / kSpanBlock);
        const std::unique_ptr<IndexView> view = identifier.store.view();
        int64_t first = -1, last = -1;
        for (int64_t b = 0; b < blocks; ++b) {
            const int64_t from = b * kSpanBlock;
            const int64_t to = b + 1 == blocks ? words : from + kSpanBlock;
            const SubFingerprints part = stretchOf(query, from, to - from);
            int64_t at = 0;
            const SubFingerprints stored =
                view->sequence(match.track, match.alignment.offset + from, part.size(), at);
            const Alignment block = alignAt(stored, part, match.alignment.offset + from - at);
            if (block.evidencePairs() >= kSpanBlockPairs && block.ber() <= kSpanBlockBer) {
                first = first < 0 ? from : first;
                last = to;
            }
        }
        if (first < 0) {
            first = 0;
            last = words;
        }
        const double rate = result.at.rate();
        const double at = seconds(start);
        const bool toTheEnd = last == words && start + kWindowWords >= print.size();
        return Span{at + seconds(static_cast<size_t>(first)) / rate,
                    toTheEnd ? clipSeconds : at + seconds(static_cast<size_t>(last)) / rate,
                    static_cast<double>(match.alignment.offset + first) * print.frameSeconds};
    }

    static bool nearBar(const WindowResult &result)
    {
        const Match &match = result.match;
        return match.found && result.at.tempo == 1 &&
               match.best.alignment.evidencePairs() >= kAcceptance.fullPairs &&
               match.best.ber() <= kAgreedBer &&
               match.runnerUpBer - match.best.ber() >= kAcceptance.minMargin;
    }

    // Whether a window at `start` finds the track where one at
    // `lastStart`, finding it at `lastTrack` seconds, puts it.
    bool inStep(double lastStart, double lastTrack, size_t start, const WindowResult &result) const
    {
        const double gap = seconds(start) - lastStart;
        const double trackAt =
            static_cast<double>(result.match.best.alignment.offset) * print.frameSeconds;
        return std::abs(lastTrack + gap * result.at.rate() - trackAt) <=
               kAgreeSeconds + 0.01 * gap;
    }

    // A window near the bar (kAgreedBer) counts with a track heard already
    // in step with it, or with the window before it, near the bar too and
    // in step with it.
    void corroborate(size_t start, const WindowResult &result)
    {
        if (!nearBar(result)) {
            nearBefore.reset();
            return;
        }
        WindowResult taken = result;
        taken.match.accepted = true;
        const uint32_t track = result.match.best.track;
        const bool heardAlready = std::any_of(tracks.begin(), tracks.end(), [&](const Agreeing &t) {
            return sameTrack(t.heard.match, track) && inStep(t.lastStart, t.lastTrack, start, result);
        });
        if (!heardAlready && nearBefore) {
            const WindowResult &before = nearBefore->second;
            const double beforeTrack =
                static_cast<double>(before.match.best.alignment.offset) * print.frameSeconds;
            if (before.match.best.track == track &&
                inStep(seconds(nearBefore->first), beforeTrack, start, result)) {
                WindowResult first = before;
                first.match.accepted = true;
                add(nearBefore->first, first);
                add(start, taken);
                nearBefore.reset();
                return;
            }
        }
        if (heardAlready)
            add(start, taken);
        nearBefore = std::make_pair(start, result);
    }

    static bool sameTrack(const Match &match, uint32_t track)
    {
        return match.best.track == track ||
               std::any_of(match.sameRecording.begin(), match.sameRecording.end(),
                           [&](const Candidate &c) { return c.track == track; });
    }

    void add(size_t start, const WindowResult &result)
    {
        const Span span = heardSpan(start, result);
        const double at = seconds(start);
        const double trackAt =
            static_cast<double>(result.match.best.alignment.offset) * print.frameSeconds;
        const double evidence =
            seconds(result.match.best.alignment.evidencePairs()) / result.at.rate();
        for (Agreeing &track : tracks) {
            const double gap = at - track.lastStart;
            const double expected = track.lastTrack + gap * result.at.rate();
            if (!sameTrack(track.heard.match, result.match.best.track) ||
                std::abs(expected - trackAt) > kAgreeSeconds + 0.01 * gap)
                continue;
            extend(track, result, span, evidence);
            track.lastStart = at;
            track.lastTrack = trackAt;
            return;
        }
        Agreeing track;
        track.heard.match = result.match;
        track.heard.speed = result.at.speed;
        track.heard.tempo = result.at.tempo;
        track.heard.clipStart = span.start;
        track.heard.clipEnd = span.end;
        track.heard.trackStart = span.trackStart;
        track.heard.matchedSeconds = evidence;
        track.heard.windows = 1;
        track.lastStart = at;
        track.lastTrack = trackAt;
        tracks.push_back(track);
    }

    static void extend(Agreeing &track, const WindowResult &result, const Span &span,
                       double evidence)
    {
        Heard &heard = track.heard;
        const double length = span.end - span.start;
        const double fresh = span.end - std::max(span.start, heard.clipEnd);
        if (length > 0)
            heard.matchedSeconds += evidence * std::clamp(fresh / length, 0.0, 1.0);
        heard.matchedSeconds =
            std::min(heard.matchedSeconds,
                     std::max(heard.clipEnd, span.end) - std::min(heard.clipStart, span.start));
        if (span.start < heard.clipStart) {
            heard.clipStart = span.start;
            heard.trackStart = span.trackStart;
        }
        heard.clipEnd = std::max(heard.clipEnd, span.end);
        ++heard.windows;
        if (result.match.best.ber() < heard.match.best.ber()) {
            heard.match = result.match;
            heard.speed = result.at.speed;
            heard.tempo = result.at.tempo;
        }
    }

    // A track heard in one window only of a clip of several must also
    // pass the stricter rule.
    bool confirmed(const Heard &heard) const
    {
        return heard.windows >= 2 || starts.size() == 1 ||
               accepts(kLoneWindowAcceptance, heard.match.best.alignment, heard.match.runnerUpBer);
    }

    // Whether the windows after window i cannot change the answer: two
    // agree on a clear match, or the rest of the clip is too short to
    // outweigh the best.
    bool certain(size_t i) const
    {
        const double rest =
            seconds(print.size() - std::min(print.size(), starts[i] + kWindowWords));
        double best = 0, second = 0;
        for (const Agreeing &track : tracks) {
            const Heard &heard = track.heard;
            if (!confirmed(heard))
                continue;
            if (heard.windows >= 2 && heard.match.best.ber() <= kCertainBer)
                return true;
            second = std::max(second, std::min(best, heard.matchedSeconds));
            best = std::max(best, heard.matchedSeconds);
        }
        return best > 0 && best > second + rest;
    }

    // The best-heard track's best alignment of `part` (clip words laid at
    // its tempo) within 2 sub-fingerprints of track position `at`.
    Alignment blockNear(IndexView &view, uint32_t track, const SubFingerprints &part,
                        int64_t at) const
    {
        int64_t first = 0;
        const SubFingerprints stored = view.sequence(track, at - 2, part.size() + 4, first);
        Alignment best;
        for (int64_t offset = at - 2; offset <= at + 2; ++offset) {
            Alignment alignment = alignAt(stored, part, offset - first);
            alignment.offset = offset;
            if (alignment.evidencePairs() >= kSpanBlockPairs &&
                (best.evidencePairs() == 0 || alignment.ber() < best.ber()))
                best = alignment;
        }
        return best;
    }

    // After an early stop, the span of the track heard longest goes on
    // through the rest of the clip while its blocks hold, at the alignment
    // its windows tell: as played or at a tempo (a speed would need the
    // audio read back again, and is left where the search stopped).
    void extendBeyond()
    {
        auto longest = std::max_element(tracks.begin(), tracks.end(), [](auto &x, auto &y) {
            return x.heard.matchedSeconds < y.heard.matchedSeconds;
        });
        if (longest == tracks.end() || longest->heard.speed != 1)
            return;
        Heard &heard = longest->heard;
        const auto from = static_cast<int64_t>(std::llround(heard.clipEnd / print.frameSeconds));
        if (from >= static_cast<int64_t>(print.size()))
            return;
        const SubFingerprints rest =
            atTempo(stretchOf(print, from, static_cast<int64_t>(print.size()) - from), heard.tempo);
        int64_t at =
            std::llround((heard.trackStart + (heard.clipEnd - heard.clipStart) * heard.tempo) /
                         print.frameSeconds);
        const auto words = static_cast<int64_t>(rest.size());
        const int64_t blocks = words / kSpanBlock;
        const double base = heard.clipEnd;
        const std::unique_ptr<IndexView> view = identifier.store.view();
        for (int64_t b = 0; b < blocks; ++b) {
            const int64_t to = b + 1 == blocks ? words : (b + 1) * kSpanBlock;
            const SubFingerprints part = stretchOf(rest, b * kSpanBlock, to - b * kSpanBlock);
            const Alignment block = blockNear(*view, heard.match.best.track, part, at);
            if (block.evidencePairs() < kSpanBlockPairs || block.ber() > kSpanBlockBer)
                return;
            heard.clipEnd = b + 1 == blocks ? clipSeconds
                                            : base + seconds(static_cast<size_t>(to)) / heard.tempo;
            heard.matchedSeconds += seconds(block.evidencePairs()) / heard.tempo;
            at = block.offset + (to - b * kSpanBlock);
        }
    }

    Identification finish() const
    {
        std::vector<Heard> heard;
        for (const Agreeing &track : tracks)
            if (confirmed(track.heard))
                heard.push_back(track.heard);
        if (heard.empty())
            return miss();
        Identification found;
        static_cast<Heard &>(found) =
            *std::max_element(heard.begin(), heard.end(), [](const Heard &x, const Heard &y) {
                return x.matchedSeconds != y.matchedSeconds
                           ? x.matchedSeconds < y.matchedSeconds
                           : x.match.best.ber() > y.match.best.ber();
            });
        if (all) {
            std::stable_sort(heard.begin(), heard.end(), [](const Heard &x, const Heard &y) {
                return x.clipStart < y.clipStart;
            });
            found.all = heard;
        }
        return found;
    }

    Identification miss() const
    {
        Identification found;
        found.match = nearest.match;
        found.match.accepted = false;
        found.speed = nearest.at.speed;
        found.tempo = nearest.at.tempo;
        if (nonQuiet(print) < kAcceptance.minPairs) {
            found.reason = MissReason::TooQuiet;
            return found;
        }
        found.reason = missReason(kAcceptance, nearest.match);
        if (found.reason == MissReason::None)
            found.reason = missReason(kLoneWindowAcceptance, nearest.match);
        if (found.reason == MissReason::None)
            found.reason = MissReason::BerTooHigh;
        return found;
    }

    Identifier &identifier;
    const SubFingerprints &print;
    const DecodedAudio *audio;
    double clipSeconds;
    bool all;
    std::vector<size_t> starts;
    std::vector<Agreeing> tracks;
    WindowResult nearest;
    std::optional<std::pair<size_t, WindowResult>> nearBefore; // the last window near the bar
};

Identification Identifier::search(const SubFingerprints &print, const DecodedAudio *audio, bool all)
{
    const double seconds =
        audio != nullptr ? static_cast<double>(audio->frames.size() / audio->channels) / audio->rate
                         : static_cast<double>(print.size()) * print.frameSeconds;
    Identification found = ClipScan(*this, print, audio, seconds, all).run();
    found.seconds = seconds;
    return found;
}

Identification identifyDocument(Identifier &identifier, const Document &document, double length,
                                std::optional<TrackInfo> &track, bool all)
{
    if (document.family != Family::Streaming || document.frames.blockLength != 3)
        throw InputError("a fingerprint document of this kind cannot be searched (only Stream1 "
                         "and Stream4 are)");
    if (length <= 0)
        return identifier.identifyKnown(document.frames, track, all);
    const auto count = static_cast<int64_t>(length / document.frames.frameSeconds);
    return identifier.identifyKnown(stretchOf(document.frames, 0, count), track, all);
}

Identification identifyInput(Identifier &identifier, const std::string &file, double length,
                             std::optional<TrackInfo> &track, bool all)
{
    RecognisedInput input = recogniseInput(file);
    if (input.audio)
        return identifier.identifyKnown(*input.audio, length, track, all);
    if (input.documents.size() != 1)
        throw InputError("holds " + std::to_string(input.documents.size()) +
                         " fingerprint documents; a clip is one");
    return identifyDocument(identifier, input.documents.front(), length, track, all);
}

} // namespace vokid
