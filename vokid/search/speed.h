// Playback speed. Broadcast and DJ playback often runs a recording a
// little fast or slow, pitch and tempo together; the sub-fingerprints then
// drift out of step with the index within a second (at 2%, one
// sub-fingerprint every 0.58 s). A search therefore tries the clip read
// back at a few speeds. At 0.5% off, the nearest hypothesis in 1% steps,
// the bit error rate of a clean clip stays near 0.06.
#ifndef VOKID_SEARCH_SPEED_H
#define VOKID_SEARCH_SPEED_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vokid {

// The speeds a clip may have been played at, nearest to 1 first: 1.00,
// 0.99, 1.01, 0.98, 1.02, 0.97, 1.03.
const std::vector<double> &speedHypotheses();

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
