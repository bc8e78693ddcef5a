// Monitoring a recording as it comes (a radio stream, a DJ set, a log
// being written): its sub-fingerprints are made piece by piece, as played
// and at each speed and tempo hypothesis; a window slides through it and
// each window is searched like a clip, a few side by side on the worker
// pool; a play found by a window is followed a step (0.37 s) at a time to
// where its track stops matching, and reported as a segment as soon as it
// has ended. Only the words the open play and the next windows need are
// kept, so memory stays flat however long the recording runs.
//
// A play continues through a loop point (any jump within its track), a
// drift of tempo and gaps of up to `bridgeSeconds` without a match; a jump
// back to the track's first second after the play reached the track's end
// is a new play.
#ifndef VOKID_SEARCH_MONITOR_H
#define VOKID_SEARCH_MONITOR_H

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <vector>

#include "vokid/compare/alignment.h"
#include "vokid/index/index_store.h"
#include "vokid/input/mono_resampler.h"
#include "vokid/search/speed.h"
#include "vokid/search/stream_print.h"
#include "vokid/search/word_ring.h"
#include "vokid/search/worker_pool.h"

namespace vokid {

struct MonitorOptions {
    double windowSeconds = 6;
    double hopSeconds = 3;
    double bridgeSeconds = 2; // gaps without a match that a play spans
    double minSeconds = 6;    // shorter segments are not reported
    bool speeds = true;       // also search at the other speed and tempo hypotheses
    size_t ahead = 0;         // windows searched at once; 0: the pool's threads + 1
};

struct Segment {
    double start = 0; // seconds in the recording
    double end = 0;
    uint32_t track = 0;
    double trackOffset = 0; // seconds in the track at the segment's start
    double speed = 1;       // the recording plays the track this much fast
    double tempo = 1;       // ... or its tempo this much fast, the pitch kept
    double ber = 0;         // over the segment's matched steps
    uint64_t pairs = 0;     // sub-fingerprint pairs without quiet frames
};

using SegmentSink = std::function<void(const Segment &)>;

class LiveMonitor {
public:
    // Audio of `rate` Hz (one the engine takes) and one or two channels;
    // segment times count from `startSeconds`.
    LiveMonitor(IndexStore &store, WorkerPool &pool, uint32_t rate, uint32_t channels,
                const MonitorOptions &options, SegmentSink sink, double startSeconds = 0);
    ~LiveMonitor();
    LiveMonitor(const LiveMonitor &) = delete;
    LiveMonitor &operator=(const LiveMonitor &) = delete;

    // Takes the next frames (interleaved); segments that ended are handed
    // to the sink before it returns. Throws IndexError.
    void add(const int16_t *frames, size_t count);
    // The end of the audio: the rest is searched and the open play reported.
    void finish();
    // Sub-fingerprints held for every hypothesis, for the memory's bound.
    size_t heldWords() const;

    // Its parts, defined with it (the window searches handed to the pool
    // use them too).
    struct Hypothesis;
    struct Lie;
    struct Play;
    struct Window;
    struct Query;

private:
    void takeWords(bool last);
    double heard() const;
    Query queryAt(size_t hypothesis, double from, double seconds) const;
    Alignment stepAt(IndexView &view, const Lie &lie, double from) const;
    std::optional<double> firstMatch(IndexView &view, const Lie &lie, double from,
                                     double until) const;
    void submitReady(bool ending);
    void submit(double start);
    void considerOldest();
    void considerReady();
    void consider(IndexView &view, const std::optional<Lie> &found, double start);
    bool agrees(IndexView &view, const Lie &found, double start);
    void open(IndexView &view, const Lie &found, double start);
    void follow(IndexView &view);
    void close();
    void accumulate(const Alignment &step);
    void dropUnneeded();

    IndexStore &store;
    WorkerPool &pool;
    MonitorOptions options;
    SegmentSink sink;
    double startSeconds;
    double frameSeconds = 0;
    std::vector<Hypothesis> hypotheses;
    StreamPrint native;
    std::unique_ptr<MonoResampler> mono;
    std::vector<SpeedResampler> resamplers;
    std::vector<std::unique_ptr<StreamPrint>> prints; // of the other speeds
    std::vector<WordRing> rings;                      // 0: as played, then the other speeds
    std::vector<int16_t> monoSamples, stretched;
    std::vector<Window> pending; // oldest first
    int64_t nextWindow = 0;
    double searchedUntil = 0; // the end of the last window handed in
    std::unique_ptr<Play> play;
    double lastEnd = 0; // of the play before it
    bool finished = false;
};

} // namespace vokid

#endif
