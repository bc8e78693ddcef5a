// vokid's identification index measured in-process, for the index
// benchmark (vokid_index_bench.sh):
//
//   vokid_index_eval plan DB SEED PER_TRACK
//       PER_TRACK 6-s clip positions in every track of the index, at random
//       offsets where at most 5% of the sub-fingerprints are quiet frames;
//       lines "TRACK <tab> PATH <tab> START" on standard output.
//   vokid_index_eval run DB CLIPS [JSON]
//       CLIPS has lines "CATEGORY <tab> FILE <tab> TRACK <tab> START"
//       (TRACK 0: the clip is not in the index). Each clip is identified as
//       `vokid identify` does it and timed from the file to the answer
//       (decoding, fingerprinting and every speed hypothesis; the index
//       opened before). Then every speed hypothesis is searched again for
//       the bit error rates: the true track's, the best other recording's.
//       Prints the accuracy per category, the false matches, the
//       distributions and the latency; JSON (optional) gets the figures.
//   vokid_index_eval wrong DB CLIPS SECONDS...
//       For each length, the best bit error rate of another recording in
//       the first SECONDS of each clip, over every window and hypothesis
//       identify may try (as played and speeds; tempos): its least, its
//       5th percentile, and how many clips reach 0.25, 0.22 and 0.16.
//   vokid_index_eval synth SOURCE_DB OUT_DB TRACKS SEED
//       An index of TRACKS tracks: SOURCE_DB's own, and synthetic ones of 2
//       to 5 minutes whose sub-fingerprints walk at random as real ones do
//       (consecutive words equal 40% of the time, 1.9 bits apart on
//       average), written in a transaction per 20,000 tracks.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "vokid/compare/acceptance.h"
#include "vokid/index/open_store.h"
#include "vokid/index/postings.h"
#include "vokid/input/mono_resampler.h"
#include "vokid/search/identifier.h"
#include "vokid/search/matcher.h"
#include "vokid/search/speed.h"
#include "vokid/search/stream_print.h"

namespace {

using namespace vokid;
using Clock = std::chrono::steady_clock;

uint32_t xorshift(uint32_t &state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

double uniform(uint32_t &state)
{
    return xorshift(state) / 4294967296.0;
}

double percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    // The smallest value with at least `share` of them at or below it.
    const auto rank = static_cast<size_t>(std::ceil(share * static_cast<double>(values.size())));
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

// ------------------------------------------------------------------ plan

int plan(const std::string &db, uint32_t seed, int perTrack)
{
    const auto store = openStore(db, StoreAccess::Read);
    const auto view = store->view();
    const int64_t clipWords = std::llround(6.0 / indexFrameSeconds());
    uint32_t state = seed * 2654435761u + 1;
    for (const TrackInfo &track : view->tracks()) {
        const TrackPrint print = *view->print(track.id);
        const auto size = static_cast<int64_t>(print.size());
        int made = 0;
        for (int attempt = 0; attempt < 1000 && made < perTrack; ++attempt) {
            // A start in the track's audio that leaves 6 s after it.
            const double start = uniform(state) * std::max(0.0, track.duration - 6.5);
            const int64_t first = std::llround(start / indexFrameSeconds());
            if (first + clipWords > size)
                continue;
            int64_t quiet = 0;
            for (int64_t i = first; i < first + clipWords; ++i)
                quiet += print.quiet[static_cast<size_t>(i)];
            if (quiet * 20 > clipWords)
                continue;
            std::printf("%u\t%s\t%.3f\n", track.id, track.path.c_str(), start);
            ++made;
        }
    }
    return 0;
}

// ------------------------------------------------------------------- run

struct Clip {
    std::string category;
    std::string file;
    uint32_t track = 0;
    double start = 0;
};

std::vector<Clip> readClips(const std::string &path)
{
    std::vector<Clip> clips;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        Clip clip;
        std::string track, start;
        if (std::getline(fields, clip.category, '\t') && std::getline(fields, clip.file, '\t') &&
            std::getline(fields, track, '\t') && std::getline(fields, start, '\t')) {
            clip.track = static_cast<uint32_t>(std::stoul(track));
            clip.start = std::stod(start);
            clips.push_back(clip);
        }
    }
    return clips;
}

// Every speed hypothesis of a clip searched, for the distributions.
struct Diagnosis {
    double trueBer = NAN;     // the clip's own track at its offset, best speed
    double wrongBer = NAN;    // the best other recording, any speed
    double bestBer = NAN;     // the best candidate, any speed
    uint64_t maxEvidence = 0; // pairs without quiet frames, best candidate
};

Diagnosis diagnose(IndexStore &store, const Clip &clip)
{
    Diagnosis diagnosis;
    const DecodedAudio audio = decodeForPrint(AudioInput::named(clip.file), 12);
    const size_t count = audio.frames.size() / audio.channels;
    std::vector<int16_t> mono;
    MonoResampler toMono(audio.rate, audio.channels, 11025);
    toMono.add(audio.frames.data(), count, mono);
    toMono.finish(mono);
    const auto view = store.view();
    Matcher matcher(*view);
    const auto keep = [](double &slot, double value) {
        if (std::isnan(slot) || value < slot)
            slot = value;
    };
    for (double speed : speedHypotheses()) {
        SubFingerprints query;
        try {
            if (speed == 1.0) {
                StreamPrint print(audio.rate, audio.channels);
                print.add(audio.frames.data(), count);
                query = print.finish();
            } else {
                std::vector<int16_t> stretched;
                SpeedResampler(speed).add(mono.data(), mono.size(), stretched);
                StreamPrint print(11025, 1);
                print.add(stretched.data(), stretched.size());
                query = print.finish();
            }
        } catch (const std::exception &) {
            continue;
        }
        const Match match = matcher.search(query);
        std::vector<uint32_t> same;
        for (const Candidate &other : match.sameRecording)
            same.push_back(other.track);
        for (const Candidate &candidate : match.ranked) {
            if (candidate.alignment.evidencePairs() < kAcceptance.minPairs)
                continue;
            diagnosis.maxEvidence =
                std::max(diagnosis.maxEvidence, candidate.alignment.evidencePairs());
            keep(diagnosis.bestBer, candidate.ber());
            const double offset = static_cast<double>(candidate.alignment.offset) * indexFrameSeconds();
            const bool own = candidate.track == clip.track && std::abs(offset - clip.start) < 1.0;
            const bool duplicate =
                std::find(same.begin(), same.end(), candidate.track) != same.end();
            if (own)
                keep(diagnosis.trueBer, candidate.ber());
            else if (!duplicate && candidate.track != clip.track)
                keep(diagnosis.wrongBer, candidate.ber());
        }
        if (match.ranked.empty() == false)
            diagnosis.maxEvidence =
                std::max(diagnosis.maxEvidence, match.ranked.front().alignment.evidencePairs());
    }
    return diagnosis;
}

struct Outcome {
    Clip clip;
    bool accepted = false;
    bool correct = false;
    uint32_t track = 0;
    double ber = NAN;
    double runnerUp = NAN;
    double speed = 1;
    double milliseconds = 0;
    double storeMilliseconds = 0; // in the store's lookups
    double postingMilliseconds = 0; // of them, in those of postings
    double storeCalls = 0;
    Diagnosis diagnosis;
};

struct Category {
    size_t clips = 0;
    size_t correct = 0;
    size_t accepted = 0;
    size_t wrong = 0; // accepted, but not the clip's own track and offset
    std::vector<double> bers, trueBers, wrongBers, bestBers, margins, milliseconds;
    size_t atOtherSpeed = 0;
};

void printHistogram(const std::map<std::string, std::vector<double>> &series)
{
    std::printf("%-13s", "BER");
    for (const auto &[name, values] : series)
        std::printf(" %11s", name.c_str() + 2);
    std::printf("\n");
    for (int bin = 0; bin < 22; ++bin) {
        const double low = bin * 0.025, high = low + 0.025;
        std::printf("%.3f-%.3f  ", low, high);
        for (const auto &[name, values] : series) {
            const auto n = std::count_if(values.begin(), values.end(), [&](double v) {
                return v >= low && (v < high || (bin == 21 && v <= 1));
            });
            std::printf(" %11ld", static_cast<long>(n));
        }
        std::printf("\n");
    }
}

// The time a search spends in the store's lookups (the postings of its
// words, the candidates' sequence stretches), summed over the threads that
// ask, and how many it makes: the part of a clip's time that the store
// (a mapped file, a database server) decides.
struct StoreTime {
    std::atomic<int64_t> nanoseconds{0};
    std::atomic<int64_t> postingNanoseconds{0};
    std::atomic<int64_t> postingCalls{0};
    std::atomic<int64_t> sequenceCalls{0};
};

class TimedView final : public IndexView {
public:
    TimedView(std::unique_ptr<IndexView> inner, StoreTime &time) : view(std::move(inner)), t(time) {}
    std::optional<TrackInfo> track(uint32_t id) override { return view->track(id); }
    std::optional<TrackInfo> trackAt(const std::string &path) override { return view->trackAt(path); }
    std::vector<TrackInfo> tracks() override { return view->tracks(); }
    void postings(const std::vector<uint32_t> &words, size_t limit, PostingLists &out) override
    {
        const Clock::time_point start = Clock::now();
        view->postings(words, limit, out);
        t.postingNanoseconds += add(start);
        ++t.postingCalls;
    }
    SubFingerprints sequence(uint32_t track, int64_t from, size_t length, int64_t &first) override
    {
        const Clock::time_point start = Clock::now();
        SubFingerprints got = view->sequence(track, from, length, first);
        add(start);
        ++t.sequenceCalls;
        return got;
    }
    void sequences(const std::vector<StretchRequest> &asked, std::vector<Stretch> &out) override
    {
        const Clock::time_point start = Clock::now();
        view->sequences(asked, out);
        add(start);
        ++t.sequenceCalls;
    }
    std::optional<TrackPrint> print(uint32_t track) override { return view->print(track); }
    StoreStats stats() override { return view->stats(); }

private:
    int64_t add(Clock::time_point start)
    {
        const int64_t spent =
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
        t.nanoseconds += spent;
        return spent;
    }
    std::unique_ptr<IndexView> view;
    StoreTime &t;
};

class TimedStore final : public IndexStore {
public:
    TimedStore(std::unique_ptr<IndexStore> inner, StoreTime &time) : store(std::move(inner)), t(time) {}
    std::unique_ptr<IndexView> view() override
    {
        return std::make_unique<TimedView>(store->view(), t);
    }
    std::unique_ptr<IndexBatch> batch() override { return store->batch(); }
    uint32_t step() const override { return store->step(); }
    bool concurrentBatches() const override { return store->concurrentBatches(); }

private:
    std::unique_ptr<IndexStore> store;
    StoreTime &t;
};

int run(const std::string &db, const std::string &clipsPath, const std::string &jsonPath,
        bool diagnoseToo)
{
    const std::vector<Clip> clips = readClips(clipsPath);
    StoreTime storeTime;
    const auto store = std::make_unique<TimedStore>(openStore(db, StoreAccess::Read), storeTime);
    WorkerPool pool(std::max(1u, std::thread::hardware_concurrency()));
    Identifier identifier(*store, pool);
    // One clip first, so that the index's pages in use are mapped.
    if (!clips.empty())
        identifier.identify(AudioInput::named(clips.front().file), 12);

    std::map<std::string, Category> categories;
    std::vector<std::string> order;
    std::vector<Outcome> outcomes;
    for (const Clip &clip : clips) {
        Outcome outcome;
        outcome.clip = clip;
        const int64_t storeBefore = storeTime.nanoseconds;
        const int64_t postingsBefore = storeTime.postingNanoseconds;
        const int64_t callsBefore = storeTime.postingCalls + storeTime.sequenceCalls;
        const Clock::time_point start = Clock::now();
        Identification found;
        try {
            found = identifier.identify(AudioInput::named(clip.file), 12);
        } catch (const std::exception &error) {
            std::fprintf(stderr, "%s: %s\n", clip.file.c_str(), error.what());
            continue;
        }
        outcome.milliseconds =
            std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        outcome.storeMilliseconds = static_cast<double>(storeTime.nanoseconds - storeBefore) / 1e6;
        outcome.postingMilliseconds =
            static_cast<double>(storeTime.postingNanoseconds - postingsBefore) / 1e6;
        outcome.storeCalls = static_cast<double>(storeTime.postingCalls + storeTime.sequenceCalls -
                                                 callsBefore);
        outcome.accepted = found.match.accepted;
        outcome.track = found.match.best.track;
        outcome.speed = found.speed;
        if (found.match.found) {
            outcome.ber = found.match.best.ber();
            outcome.runnerUp = found.match.runnerUpBer;
        }
        const double offset =
            static_cast<double>(found.match.best.alignment.offset) * indexFrameSeconds();
        outcome.correct = outcome.accepted && clip.track != 0 && outcome.track == clip.track &&
                          std::abs(offset - clip.start) < 1.0;
        if (diagnoseToo)
            outcome.diagnosis = diagnose(*store, clip);
        outcomes.push_back(outcome);

        if (!categories.count(clip.category))
            order.push_back(clip.category);
        Category &category = categories[clip.category];
        ++category.clips;
        category.correct += outcome.correct;
        category.accepted += outcome.accepted;
        category.wrong += outcome.accepted && !outcome.correct;
        category.atOtherSpeed += outcome.accepted && outcome.speed != 1;
        category.milliseconds.push_back(outcome.milliseconds);
        if (outcome.accepted)
            category.bers.push_back(outcome.ber);
        if (outcome.correct)
            category.margins.push_back(outcome.runnerUp - outcome.ber);
        const Diagnosis &d = outcome.diagnosis;
        if (!std::isnan(d.trueBer))
            category.trueBers.push_back(d.trueBer);
        if (!std::isnan(d.wrongBer))
            category.wrongBers.push_back(d.wrongBer);
        if (!std::isnan(d.bestBer))
            category.bestBers.push_back(d.bestBer);
    }

    nlohmann::ordered_json figures;
    std::printf("\n%-40s %6s %7s %6s %6s %8s %8s %8s %7s\n", "category", "clips", "top-1", "wrong",
                "speed", "BER med", "BER p95", "min marg", "ms med");
    std::vector<double> all;
    for (const std::string &name : order) {
        const Category &c = categories[name];
        const bool inIndex = name.rfind("not-", 0) != 0;
        char top1[32];
        if (inIndex)
            std::snprintf(top1, sizeof top1, "%.1f%%", 100.0 * c.correct / c.clips);
        else
            std::snprintf(top1, sizeof top1, "-");
        const double minMargin =
            c.margins.empty() ? NAN : *std::min_element(c.margins.begin(), c.margins.end());
        std::printf("%-40s %6zu %7s %6zu %6zu %8.3f %8.3f %8.3f %7.2f\n", name.c_str(), c.clips,
                    top1, inIndex ? c.wrong : c.accepted, c.atOtherSpeed, percentile(c.bers, 0.5),
                    percentile(c.bers, 0.95), minMargin, percentile(c.milliseconds, 0.5));
        figures["categories"][name] = {{"clips", c.clips},
                                       {"correct", c.correct},
                                       {"accepted", c.accepted},
                                       {"wrong", c.wrong}};
        all.insert(all.end(), c.milliseconds.begin(), c.milliseconds.end());
    }
    // The time per clip: of the 6-s clips of indexed tracks, of the clips
    // that match nothing (every speed tried), of all.
    std::vector<double> found, unknown;
    for (const Outcome &o : outcomes) {
        const bool six = o.clip.category.find("3.4 s") == std::string::npos;
        if (o.clip.track != 0 && six)
            found.push_back(o.milliseconds);
        else if (o.clip.track == 0)
            unknown.push_back(o.milliseconds);
    }
    const auto latency = [&](const char *what, const char *key, const std::vector<double> &ms) {
        std::printf("latency per clip, %s (%zu clips; decoding, fingerprinting, every speed "
                    "tried): median %.2f ms, p90 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                    what, ms.size(), percentile(ms, 0.5), percentile(ms, 0.9), percentile(ms, 0.99),
                    percentile(ms, 1.0));
        figures["latency_ms"][key] = {{"median", percentile(ms, 0.5)},
                                      {"p99", percentile(ms, 0.99)}};
    };
    std::vector<double> storeMs, storeCalls, postingMs;
    for (const Outcome &o : outcomes)
        if (o.clip.track != 0 && o.clip.category.find("3.4 s") == std::string::npos) {
            storeMs.push_back(o.storeMilliseconds);
            postingMs.push_back(o.postingMilliseconds);
            storeCalls.push_back(o.storeCalls);
        }
    std::printf("\n");
    latency("6-s clips of indexed tracks", "indexed", found);
    std::printf("store lookups per clip, 6-s clips of indexed tracks (postings of a window's "
                "words, sequence stretches; summed over threads): median %.2f ms (postings %.2f "
                "ms), p90 %.2f ms in %.0f calls\n",
                percentile(storeMs, 0.5), percentile(postingMs, 0.5), percentile(storeMs, 0.9),
                percentile(storeCalls, 0.5));
    figures["store_ms"] = {{"median", percentile(storeMs, 0.5)},
                           {"p90", percentile(storeMs, 0.9)},
                           {"calls", percentile(storeCalls, 0.5)}};
    latency("clips not in the index", "not_indexed", unknown);
    latency("all", "all", all);

    if (diagnoseToo) {
        std::map<std::string, std::vector<double>> series;
        for (const std::string &name : order) {
            const Category &c = categories[name];
            const bool inIndex = name.rfind("not-", 0) != 0;
            // Clips of 3.4 s apart: one block, the least evidence taken.
            const std::string length = name.find("3.4 s") != std::string::npos ? " 3.4s" : "";
            if (inIndex) {
                auto &truth = series["1 true" + length];
                truth.insert(truth.end(), c.trueBers.begin(), c.trueBers.end());
                auto &wrong = series["2 wrong" + length];
                wrong.insert(wrong.end(), c.wrongBers.begin(), c.wrongBers.end());
            } else {
                const bool related = name.find("same piece") != std::string::npos ||
                                     name.find("another voice") != std::string::npos;
                auto &out = series[(related ? "4 piece" : "3 not-in") + length];
                out.insert(out.end(), c.bestBers.begin(), c.bestBers.end());
            }
        }
        std::printf("\nbit error rate distributions (every speed hypothesis searched; alignments "
                    "with at least %llu pairs without quiet frames):\n",
                    static_cast<unsigned long long>(kAcceptance.minPairs));
        printHistogram(series);
        for (const auto &[name, values] : series)
            std::printf("%-12s n=%-5zu min %.4f  p1 %.4f  p5 %.4f  median %.4f  p95 %.4f  p99 "
                        "%.4f  max %.4f\n",
                        name.c_str() + 2, values.size(), percentile(values, 0.0),
                        percentile(values, 0.01), percentile(values, 0.05), percentile(values, 0.5),
                        percentile(values, 0.95), percentile(values, 0.99),
                        percentile(values, 1.0));
        std::printf(
            "\nper category, true match BER (every speed): p50 / p95 / max; best wrong: min\n");
        for (const std::string &name : order) {
            const Category &c = categories[name];
            if (c.trueBers.empty())
                continue;
            std::printf("  %-30s %.3f / %.3f / %.3f; %.3f (%zu of %zu clips found at their "
                        "offset)\n",
                        name.c_str(), percentile(c.trueBers, 0.5), percentile(c.trueBers, 0.95),
                        percentile(c.trueBers, 1.0), percentile(c.wrongBers, 0.0),
                        c.trueBers.size(), c.clips);
        }
        std::printf("\nthe rule: at least %llu pairs without quiet frames; BER at most %.3f over "
                    "%llu pairs or more (over %llu: %.3f); the runner-up at least %.3f worse\n",
                    static_cast<unsigned long long>(kAcceptance.minPairs), kAcceptance.maxBer,
                    static_cast<unsigned long long>(kAcceptance.fullPairs),
                    static_cast<unsigned long long>(kAcceptance.minPairs),
                    kAcceptance.threshold(kAcceptance.minPairs), kAcceptance.minMargin);
    }
    for (const Outcome &o : outcomes) {
        const bool inIndex = o.clip.track != 0;
        if ((inIndex && !o.correct) || (!inIndex && o.accepted))
            std::printf("  %s %s: %s track %u BER %.3f runner-up %.3f speed %.2f (true BER %.3f, "
                        "best wrong %.3f)\n",
                        o.clip.category.c_str(), o.clip.file.c_str(),
                        o.accepted ? "accepted" : "no match, best", o.track, o.ber, o.runnerUp,
                        o.speed, o.diagnosis.trueBer, o.diagnosis.wrongBer);
    }
    if (!jsonPath.empty())
        std::ofstream(jsonPath) << figures.dump(2) << "\n";
    return 0;
}

// ----------------------------------------------------------------- synth

// The number of bits that change from one sub-fingerprint to the next in
// generated music (10 recordings, 51,200 sub-fingerprints): 0 to 9, then
// 10 or more.
constexpr double kFlips[] = {0.405, 0.237, 0.129, 0.075, 0.047, 0.030,
                             0.018, 0.013, 0.009, 0.006, 0.031};

TrackPrint syntheticPrint(uint32_t &state, size_t blocks)
{
    TrackPrint print;
    const size_t words = blocks * kBlockWords;
    print.words.resize(words);
    print.quiet.assign(words, 0);
    uint32_t word = xorshift(state);
    for (size_t i = 0; i < words; ++i) {
        double pick = uniform(state);
        size_t flips = 0;
        while (flips + 1 < std::size(kFlips) && pick >= kFlips[flips])
            pick -= kFlips[flips++];
        if (flips + 1 == std::size(kFlips))
            flips += xorshift(state) % 8;
        for (size_t f = 0; f < flips; ++f)
            word ^= 1u << (xorshift(state) % 32);
        print.words[i] = word;
    }
    // 14 weak bits per kept mask, as Stream1 marks them.
    print.masks.resize(blocks * kKeptMasks);
    for (uint32_t &mask : print.masks) {
        mask = 0;
        while (__builtin_popcount(mask) < 14)
            mask |= 1u << (xorshift(state) % 32);
    }
    return print;
}

int synth(const std::string &source, const std::string &out, uint32_t tracks, uint32_t seed)
{
    const auto from = openStore(source, StoreAccess::Read);
    const auto to = openStore(out, StoreAccess::Write);
    const auto view = from->view();
    // A commit every 20,000 tracks keeps a large index's batch within
    // memory (vokid compact then packs its pages).
    constexpr uint32_t kTracksABatch = 20000;
    auto batch = to->batch();
    uint32_t next = 1;
    for (const TrackInfo &track : view->tracks()) {
        const TrackPrint print = *view->print(track.id);
        batch->put(track, print, postingsOf(print, to->step()));
        next = std::max(next, track.id + 1);
    }
    uint32_t state = seed * 2246822519u + 7;
    for (uint32_t id = next; id <= tracks; ++id) {
        const double seconds = 120 + uniform(state) * 180;
        const auto blocks = static_cast<size_t>(seconds / indexFrameSeconds() / kBlockWords);
        TrackInfo info;
        info.id = id;
        info.path = "synthetic/" + std::to_string(id);
        info.algorithm = "Stream1";
        info.duration = static_cast<double>(blocks * kBlockWords) * indexFrameSeconds();
        const TrackPrint print = syntheticPrint(state, blocks);
        batch->put(info, print, postingsOf(print, to->step()));
        if (id % kTracksABatch == 0 && id < tracks) {
            batch->commit();
            batch = to->batch();
        }
    }
    batch->commit();
    return 0;
}

} // namespace


// ---------------------------------------------------------------- wrong

// The best bit error rate of another recording over every window and
// hypothesis identify may try on the first `seconds` of a clip, by
// family: [0] as played and at the speeds, [1] at the tempos. Candidates
// of the clip's own track (TRACK) and with fewer pairs than the rule
// needs are left out. NAN: none.
std::array<double, 2> bestWrong(IndexStore &store, const Clip &clip, double seconds)
{
    const DecodedAudio audio = decodeForPrint(AudioInput::named(clip.file), seconds);
    const size_t frames = audio.frames.size() / audio.channels;
    const SubFingerprints print = clipPrint(audio.frames.data(), frames, audio.rate,
                                            audio.channels);
    std::array<double, 2> best = {NAN, NAN};
    const auto keep = [&](size_t family, const Match &match) {
        for (const Candidate &candidate : match.ranked)
            if (candidate.track != clip.track &&
                candidate.alignment.evidencePairs() >= kAcceptance.minPairs &&
                !(candidate.ber() >= best[family]))
                best[family] = candidate.ber();
    };
    const std::unique_ptr<IndexView> view = store.view();
    Matcher matcher(*view);
    for (const size_t start : windowStarts(print.size())) {
        const auto length = static_cast<int64_t>(std::min(kWindowWords, print.size() - start));
        const SubFingerprints query = stretchOf(print, static_cast<int64_t>(start), length);
        keep(0, matcher.search(query));
        for (double tempo : tempoHypotheses())
            keep(1, matcher.search(atTempo(query, tempo)));
        const auto at = [&](size_t word) {
            return std::min(frames, static_cast<size_t>(std::llround(
                                        static_cast<double>(word) * print.frameSeconds * audio.rate)));
        };
        std::vector<int16_t> mono;
        MonoResampler toMono(audio.rate, audio.channels, 11025);
        toMono.add(audio.frames.data() + at(start) * audio.channels,
                   at(start + static_cast<size_t>(length)) - at(start), mono);
        toMono.finish(mono);
        for (double speed : speedHypotheses()) {
            if (speed == 1)
                continue;
            std::vector<int16_t> stretched;
            SpeedResampler(speed).add(mono.data(), mono.size(), stretched);
            try {
                keep(0, matcher.search(clipPrint(stretched.data(), stretched.size(), 11025, 1)));
            } catch (const std::exception &) {
                // too short read faster
            }
        }
    }
    return best;
}

int wrongest(const std::string &db, const std::string &clipsPath,
             const std::vector<double> &lengths)
{
    const std::vector<Clip> clips = readClips(clipsPath);
    const auto store = openStore(db, StoreAccess::Read);
    std::printf("best wrong-recording BER per clip, every window and hypothesis\n");
    std::printf("%8s %-22s %6s %7s %7s %7s %7s %7s\n", "seconds", "hypotheses", "clips", "min",
                "p05", "<=0.25", "<=0.22", "<=0.16");
    for (const double seconds : lengths) {
        std::vector<double> bers[2];
        for (const Clip &clip : clips) {
            try {
                const std::array<double, 2> best = bestWrong(*store, clip, seconds);
                for (size_t f = 0; f < 2; ++f)
                    if (!std::isnan(best[f]))
                        bers[f].push_back(best[f]);
            } catch (const std::exception &error) {
                std::fprintf(stderr, "%s: %s\n", clip.file.c_str(), error.what());
            }
        }
        const char *names[2] = {"as played, speeds", "tempos"};
        for (size_t f = 0; f < 2; ++f) {
            const auto atMost = [&](double bar) {
                return std::count_if(bers[f].begin(), bers[f].end(),
                                     [&](double b) { return b <= bar; });
            };
            std::printf("%8.1f %-22s %6zu %7.3f %7.3f %7ld %7ld %7ld\n", seconds, names[f],
                        bers[f].size(), percentile(bers[f], 0), percentile(bers[f], 0.05),
                        static_cast<long>(atMost(0.25)), static_cast<long>(atMost(0.22)),
                        static_cast<long>(atMost(0.16)));
        }
    }
    return 0;
}

int main(int argc, char **argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.size() == 4 && args[0] == "plan")
            return plan(args[1], static_cast<uint32_t>(std::stoul(args[2])), std::stoi(args[3]));
        if ((args.size() == 3 || args.size() == 4) && (args[0] == "run" || args[0] == "latency"))
            return run(args[1], args[2], args.size() == 4 ? args[3] : "", args[0] == "run");
        if (args.size() >= 4 && args[0] == "wrong") {
            std::vector<double> lengths;
            for (size_t i = 3; i < args.size(); ++i)
                lengths.push_back(std::stod(args[i]));
            return wrongest(args[1], args[2], lengths);
        }
        if (args.size() == 5 && args[0] == "synth")
            return synth(args[1], args[2], static_cast<uint32_t>(std::stoul(args[3])),
                         static_cast<uint32_t>(std::stoul(args[4])));
    } catch (const std::exception &error) {
        std::fprintf(stderr, "vokid_index_eval: %s\n", error.what());
        return 1;
    }
    std::fprintf(stderr, "usage: vokid_index_eval plan DB SEED PER_TRACK\n"
                         "       vokid_index_eval run|latency DB CLIPS [JSON]\n"
                         "       vokid_index_eval synth SOURCE_DB OUT_DB TRACKS SEED\n"
                         "       vokid_index_eval wrong DB CLIPS SECONDS...\n");
    return 2;
}
