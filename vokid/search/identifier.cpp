#include "vokid/search/identifier.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <future>
#include <mutex>
#include <numeric>

#include "vokid/fingerprint/algorithm.h"
#include "vokid/fingerprint/recognised_input.h"
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

// A clip's stream parameters are looked for in its first 4 kB: the
// default 32 kB took FFmpeg's format probes 1.5 ms on a 6-s WAVE clip,
// more than fingerprinting it.
constexpr int64_t kClipProbeBytes = 4096;

// The better of two results: an accepted match over any other, then the
// lower bit error rate.
bool improves(const Match &x, const Match &y)
{
    if (x.accepted != y.accepted)
        return x.accepted;
    if (x.found != y.found)
        return x.found;
    return x.found && x.best.ber() < y.best.ber();
}

} // namespace

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

Identification Identifier::identify(const AudioInput &clip, double maxSeconds)
{
    const DecodedAudio audio = decodeForPrint(clip, maxSeconds, kClipProbeBytes);
    return identify(audio.frames, audio.rate, audio.channels);
}

template <class Search>
Identification Identifier::known(Search search, std::optional<TrackInfo> &track)
{
    Identification found;
    for (int attempt = 0; attempt < kSearches; ++attempt) {
        found = search();
        if (!found.match.accepted)
            return found;
        track = store.view()->track(found.match.best.track);
        if (track)
            return found;
    }
    found.match.accepted = false;
    return found;
}

Identification Identifier::identifyKnown(const AudioInput &clip, double maxSeconds,
                                         std::optional<TrackInfo> &track)
{
    const DecodedAudio audio = decodeForPrint(clip, maxSeconds, kClipProbeBytes);
    return known([&] { return identify(audio.frames, audio.rate, audio.channels); }, track);
}

Identification Identifier::identifyKnown(const SubFingerprints &query,
                                         std::optional<TrackInfo> &track)
{
    return known(
        [&] {
            Identification found;
            found.seconds = static_cast<double>(query.size()) * query.frameSeconds;
            if (query.size() > 0) {
                const std::unique_ptr<IndexView> view = store.view();
                found.match = Matcher(*view).search(query);
            }
            return found;
        },
        track);
}

// One clip's search: the queries made at each speed, and the best result.
class Identifier::ClipSearch {
public:
    ClipSearch(IndexStore &indexStore, const std::vector<int16_t> &clipFrames, uint32_t clipRate,
               uint32_t clipChannels)
        : store(indexStore), frames(clipFrames), rate(clipRate), channels(clipChannels),
          queries(speedHypotheses().size()), tried(speedHypotheses().size(), 0)
    {
        best.seconds = static_cast<double>(frames.size() / channels) / rate;
    }

    bool accepted() const { return best.match.accepted; }
    Identification result() const { return best; }

    // Searches the clip at hypothesis k (0: as played), unless another
    // hypothesis has been accepted meanwhile and that is enough.
    void tryAt(size_t k)
    {
        const SubFingerprints &query = queryAt(k);
        if (stop)
            return;
        tried[k] = 1;
        if (query.size() == 0)
            return;
        const std::unique_ptr<IndexView> view = store.view();
        const Match match = Matcher(*view).search(query);
        std::lock_guard<std::mutex> lock(mutex);
        if (match.accepted && untilAccepted)
            stop = true;
        if (improves(match, best.match)) {
            best.match = match;
            best.speed = speedHypotheses()[k];
            bestAt = k;
        }
    }

    // The hypotheses not yet tried, side by side: this thread and the
    // pool's each take the next one. With `untilAccepted`, the first
    // accepted match stops the rest.
    void trySideBySide(WorkerPool &workers, const std::vector<size_t> &order, bool firstAccepted)
    {
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

    // Every hypothesis, nearest to 1 first.
    std::vector<size_t> allSpeeds() const
    {
        std::vector<size_t> all(speedHypotheses().size());
        std::iota(all.begin(), all.end(), 0);
        return all;
    }

    // The hypotheses towards the speed the accepted match's drift tells:
    // the nearest to it, and the next beyond (the drift, measured over
    // half a clip, tends to fall short). Empty when both were tried.
    std::vector<size_t> towardsDrift()
    {
        double pace = 1;
        {
            const std::unique_ptr<IndexView> view = store.view();
            pace = Matcher(*view).pace(queries[bestAt], best.match.best);
        }
        const double speed = best.speed * pace;
        const size_t nearest = nearestHypothesis(speed);
        std::vector<size_t> next;
        if (nearest == bestAt)
            return next; // in step
        const double step = speed > best.speed ? 0.01 : -0.01;
        for (size_t k : {nearest, nearestHypothesis(speedHypotheses()[nearest] + step)})
            if (!tried[k] && std::find(next.begin(), next.end(), k) == next.end())
                next.push_back(k);
        return next;
    }

private:
    static size_t nearestHypothesis(double speed)
    {
        const std::vector<double> &speeds = speedHypotheses();
        size_t nearest = 0;
        for (size_t k = 1; k < speeds.size(); ++k)
            if (std::abs(speeds[k] - speed) < std::abs(speeds[nearest] - speed))
                nearest = k;
        return nearest;
    }

    void makeMono()
    {
        if (!mono.empty())
            return;
        MonoResampler toMono(rate, channels, kSpeedRate);
        toMono.add(frames.data(), frames.size() / channels, mono);
        toMono.finish(mono);
    }

    const SubFingerprints &queryAt(size_t k)
    {
        if (k == 0) {
            queries[0] = clipPrint(frames.data(), frames.size() / channels, rate, channels);
            return queries[0];
        }
        std::vector<int16_t> stretched;
        SpeedResampler(speedHypotheses()[k]).add(mono.data(), mono.size(), stretched);
        try {
            queries[k] = clipPrint(stretched.data(), stretched.size(), kSpeedRate, 1);
        } catch (const InputError &) {
            // read faster, too short for a block: no query
        }
        return queries[k];
    }

    IndexStore &store;
    const std::vector<int16_t> &frames;
    uint32_t rate;
    uint32_t channels;
    std::vector<int16_t> mono;            // at 11025 Hz, made once when needed
    std::vector<SubFingerprints> queries; // per hypothesis
    std::vector<char> tried;
    std::mutex mutex;
    std::atomic<bool> stop{false};
    bool untilAccepted = true;
    Identification best;
    size_t bestAt = 0;
};

Identification Identifier::identify(const std::vector<int16_t> &frames, uint32_t rate,
                                    uint32_t channels)
{
    ClipSearch clip(store, frames, rate, channels);
    // 1. As played.
    clip.tryAt(0);
    if (!speeds)
        return clip.result();
    // 2. At the other speeds, side by side, until one is accepted.
    if (!clip.accepted())
        clip.trySideBySide(pool, clip.allSpeeds(), true);
    // 3. A match found at a speed near the clip's drifts through the track:
    // how fast tells the clip's speed, and the hypotheses towards it are
    // tried too, side by side, for a closer match and a truer offset; again
    // from the best, until the match stays in step. Only an accepted match
    // with fewer differing bits takes the place of the one found first.
    while (clip.accepted()) {
        const std::vector<size_t> next = clip.towardsDrift();
        if (next.empty())
            break;
        clip.trySideBySide(pool, next, false);
    }
    return clip.result();
}

Identification identifyDocument(Identifier &identifier, const Document &document, double length,
                                std::optional<TrackInfo> &track)
{
    if (document.family != Family::Streaming || document.frames.blockLength != 3)
        throw InputError("a fingerprint document of this kind cannot be searched (only Stream1 "
                         "and Stream4 are)");
    if (length <= 0)
        return identifier.identifyKnown(document.frames, track);
    const auto count = static_cast<int64_t>(length / document.frames.frameSeconds);
    return identifier.identifyKnown(stretchOf(document.frames, 0, count), track);
}

Identification identifyInput(Identifier &identifier, const std::string &file, double length,
                             std::optional<TrackInfo> &track)
{
    RecognisedInput input = recogniseInput(file);
    if (input.audio)
        return identifier.identifyKnown(*input.audio, length, track);
    if (input.documents.size() != 1)
        throw InputError("holds " + std::to_string(input.documents.size()) +
                         " fingerprint documents; a clip is one");
    return identifyDocument(identifier, input.documents.front(), length, track);
}

} // namespace vokid
