// vokid's pipeline on one file in-process, CPU time on one core: the
// decoding alone (FFmpeg to 16-bit PCM in the format Stream1 takes), then
// decoding and fingerprinting, the median of RUNS runs each.
//
//   vokid_pipeline FILE [RUNS]
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "vokid/fingerprint/fingerprinter.h"

namespace {

double cpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

template <class Work>
double median(int runs, Work work)
{
    std::vector<double> seconds;
    for (int r = 0; r < runs; ++r) {
        const double start = cpuSeconds();
        work();
        seconds.push_back(cpuSeconds() - start);
    }
    std::sort(seconds.begin(), seconds.end());
    return seconds[seconds.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return std::fprintf(stderr, "usage: vokid_pipeline FILE [RUNS]\n"), 2;
    const vokid::AudioInput input = vokid::AudioInput::named(argv[1]);
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const vokid::Algorithm algorithm = vokid::Algorithm::Stream1;
    double audio = 0;
    const double decoding = median(runs, [&] {
        vokid::AudioSource source(
            input, {vokid::acceptedRates(algorithm), vokid::fallbackRate(algorithm), 0});
        while (source.read().frames > 0) {
        }
        audio = source.deliveredSeconds();
    });
    const double whole = median(runs, [&] { vokid::fingerprint(input, {algorithm, 0}); });
    std::printf("%.1f s of audio: decoding %.3f s, decoding and fingerprinting %.3f s of CPU: "
                "%.0fx real time on one core, decoding %.0f%% of it\n",
                audio, decoding, whole, audio / whole, 100 * decoding / whole);
    return 0;
}
