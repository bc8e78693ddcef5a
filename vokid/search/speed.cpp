#include "vokid/search/speed.h"

#include <algorithm>
#include <cmath>

namespace vokid {

const std::vector<double> &speedHypotheses()
{
    static const std::vector<double> speeds = {1.00, 0.99, 1.01, 0.98, 1.02, 0.97,
                                               1.03, 0.96, 1.04, 0.95, 1.05};
    return speeds;
}

const std::vector<double> &tempoHypotheses()
{
    static const std::vector<double> tempos = {0.99, 1.01, 0.98, 1.02, 0.97,
                                               1.03, 0.96, 1.04, 0.95, 1.05};
    return tempos;
}

SubFingerprints atTempo(const SubFingerprints &clip, double tempo)
{
    SubFingerprints laid;
    laid.frameSeconds = clip.frameSeconds;
    laid.blockLength = clip.blockLength;
    const size_t n = clip.size();
    for (size_t j = 0;; ++j) {
        const auto i = static_cast<size_t>(std::llround(static_cast<double>(j) / tempo));
        if (i >= n)
            break;
        laid.words.push_back(clip.words[i]);
        laid.weak.push_back(clip.weak[i]);
        laid.quiet.push_back(clip.quiet[i]);
    }
    return laid;
}

SpeedResampler::SpeedResampler(double speed)
    : step(static_cast<uint64_t>(std::llround(4294967296.0 / speed)))
{
}

void SpeedResampler::add(const int16_t *samples, size_t count, std::vector<int16_t> &out)
{
    window.insert(window.end(), samples, samples + count);
    consumed += count;
    const int16_t *base = window.data();
    const auto at = [&](uint64_t i) -> float { return base[i - windowStart]; };
    // Output j needs the inputs p - 1 to p + 2 around p = floor(position);
    // before the first sample the signal is taken as its first value.
    for (;;) {
        const uint64_t p = position >> 32;
        if (p + 2 >= consumed)
            break;
        const float f = static_cast<float>(position & 0xFFFFFFFFu) * (1.0f / 4294967296.0f);
        const float x0 = at(p > 0 ? p - 1 : p), x1 = at(p), x2 = at(p + 1), x3 = at(p + 2);
        const float y =
            x1 +
            0.5f * f *
                (x2 - x0 + f * (2 * x0 - 5 * x1 + 4 * x2 - x3 + f * (3 * (x1 - x2) + x3 - x0)));
        // Rounded to the nearest, halves away from zero, within 16 bits.
        const float limited = std::clamp(y, -32768.0f, 32767.0f);
        out.push_back(static_cast<int16_t>(limited < 0 ? limited - 0.5f : limited + 0.5f));
        position += step;
    }
    // Keep what the next output needs: from sample floor(position) - 1 on.
    const uint64_t next = position >> 32;
    const uint64_t keepFrom = std::clamp<uint64_t>(next > 0 ? next - 1 : 0, windowStart, consumed);
    if (keepFrom > windowStart) {
        window.erase(window.begin(), window.begin() + static_cast<long>(keepFrom - windowStart));
        windowStart = keepFrom;
    }
}

} // namespace vokid
