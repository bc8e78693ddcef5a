// Audio for vokid's benchmarks: generated recordings, and degraded copies
// of them made exactly here (white noise at a given signal-to-noise ratio,
// a gain, quantisation to fewer bits).
//
//   vokid_audio recording OUT.wav SEED SECONDS RATE CHANNELS [TEMPO TRANSPOSE bright|mellow]
//       (with the last three: another recording of the same piece, played
//       at TEMPO times its tempo, TRANSPOSE semitones up, in another sound)
//   vokid_audio noise IN.wav OUT.wav SNR_DB
//   vokid_audio gain IN.wav OUT.wav DB
//   vokid_audio bits IN.wav OUT.wav BITS
//
// IN.wav must be a 16-bit PCM file with a 44-byte header, as `recording`
// writes them.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/recording.h"

namespace {

constexpr size_t kHeader = 44;

std::vector<char> readAll(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(file),
                             std::istreambuf_iterator<char>());
}

int degrade(const std::string &mode, const std::string &in, const std::string &out, double amount)
{
    std::vector<char> bytes = readAll(in);
    if (bytes.size() < kHeader)
        return std::fprintf(stderr, "%s: not a recording\n", in.c_str()), 1;
    auto *samples = reinterpret_cast<int16_t *>(bytes.data() + kHeader);
    const size_t count = (bytes.size() - kHeader) / 2;
    double power = 0;
    for (size_t i = 0; i < count; ++i)
        power += static_cast<double>(samples[i]) * samples[i];
    // Uniform noise in [-a, a] has the power a^2 / 3.
    const double noise = std::sqrt(3 * power / count / std::pow(10.0, amount / 10));
    const double gain = std::pow(10.0, amount / 20);
    const int step = mode == "bits" ? 1 << (16 - static_cast<int>(amount)) : 1;
    uint32_t state = 2463534242u;
    for (size_t i = 0; i < count; ++i) {
        double value = samples[i];
        if (mode == "noise") {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            value += (state / 4294967296.0 * 2 - 1) * noise;
        } else if (mode == "gain") {
            value *= gain;
        } else if (mode == "bits") {
            value = std::floor(value / step + 0.5) * step;
        }
        samples[i] = static_cast<int16_t>(std::lround(std::fmax(-32768, std::fmin(32767, value))));
    }
    std::ofstream(out, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if ((args.size() == 6 || args.size() == 9) && args[0] == "recording") {
        vok_test::Rendition rendition;
        if (args.size() == 9) {
            rendition.tempo = std::stod(args[6]);
            rendition.transpose = std::stoi(args[7]);
            rendition.mellow = args[8] == "mellow";
        }
        vok_test::write_recording(args[1], static_cast<uint32_t>(std::stoul(args[2])),
                                  std::stod(args[3]), static_cast<uint32_t>(std::stoul(args[4])),
                                  static_cast<uint32_t>(std::stoul(args[5])), rendition);
        return 0;
    }
    if (args.size() == 4 && (args[0] == "noise" || args[0] == "gain" || args[0] == "bits"))
        return degrade(args[0], args[1], args[2], std::stod(args[3]));
    std::fprintf(stderr, "usage: vokid_audio recording OUT SEED SECONDS RATE CHANNELS "
                         "[TEMPO TRANSPOSE bright|mellow]\n"
                         "       vokid_audio noise|gain|bits IN OUT AMOUNT\n");
    return 2;
}
