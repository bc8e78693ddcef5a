// Playback speed and tempo. Broadcast and DJ playback often runs a
// recording a little fast or slow: pitch and tempo together (the speed),
// or the tempo alone with the pitch kept (a time stretch). Either way the
// sub-fingerprints drift out of step with the index within a second (at
// 2%, one sub-fingerprint every 0.58 s). A search therefore tries the clip
// at a few speeds (the audio read back faster or slower) and at a few
// tempos (its sub-fingerprints laid on the track's time grid: the bands
// are where they were, so the words stay). At 0.5% off, the nearest
// hypothesis in 1% steps, the bit error rate of a clean clip stays near
// 0.06.
#ifndef VOKID_SEARCH_SPEED_H
#define VOKID_SEARCH_SPEED_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vokid/compare/sub_fingerprints.h"

namespace vokid {

// The speeds a clip may have been played at, nearest to 1 first: 1.00,
// 0.99, 1.01, ... 0.95, 1.05.
const std::vector<double> &speedHypotheses();
// The tempos (pitch kept) other than 1, nearest to 1 first: 0.99, 1.01,
// ... 0.95, 1.05.
const std::vector<double> &tempoHypotheses();

// A clip's sub-fingerprints on the time grid of a track it plays `tempo`
// times too fast, the pitch kept: word j is the clip's word nearest to
// j / tempo, so the result is `tempo` times as long.
SubFingerprints atTempo(const SubFingerprints &clip, double tempo);

// Reads mono audio back as if it had been played `speed` times too fast:
// output sample j is the input at position j / speed (cubic
// interpolation, Catmull-Rom), so the output is `speed` times as long.
// Piece by piece; the position is kept in 32.32 fixed point, exact over
// any length.
class SpeedResampler {
public:
    explicit SpeedResampler(double speed);
    // Appends what the input so far gives to `out`.
    void add(const int16_t *samples, size_t count, std::vector<int16_t> &out);

private:
    uint64_t step;               // input samples per output sample, 32.32
    uint64_t position = 0;       // of the next output, from the first input sample
    uint64_t consumed = 0;       // input samples seen
    std::vector<int16_t> window; // the input from sample `windowStart` on
    uint64_t windowStart = 0;
};

} // namespace vokid

#endif
