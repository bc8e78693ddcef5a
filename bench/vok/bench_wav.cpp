// Writes a long stereo 16-bit WAVE file of non-silent, changing audio for
// the program benchmarks: usage bench_wav FILE MINUTES [RATE], RATE 44100
// when not given.
// A chord that changes every two seconds, a plucked-style melody note every
// quarter second and a little noise, from wavetable oscillators so that an
// hour of audio is written in seconds.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr uint32_t kTable = 4096;

void put32(std::FILE *file, uint32_t value)
{
    const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    std::fwrite(bytes, 1, 4, file);
}

void put16(std::FILE *file, uint32_t value)
{
    const uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    std::fwrite(bytes, 1, 2, file);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: bench_wav FILE MINUTES [RATE]\n");
        return 2;
    }
    const uint32_t kRate = argc == 4 ? static_cast<uint32_t>(std::atol(argv[3])) : 44100;
    if (kRate < 8000 || kRate > 192000) {
        std::fprintf(stderr, "rate out of range\n");
        return 2;
    }
    const uint64_t frames = static_cast<uint64_t>(std::atof(argv[2]) * 60.0 * kRate);
    const uint64_t data_bytes = frames * 4;
    if (data_bytes > 0xFFFFFFFFu - 36) {
        std::fprintf(stderr, "too long for one WAVE file\n");
        return 2;
    }
    std::FILE *file = std::fopen(argv[1], "wb");
    if (!file) {
        std::perror(argv[1]);
        return 1;
    }

    std::fwrite("RIFF", 1, 4, file);
    put32(file, static_cast<uint32_t>(36 + data_bytes));
    std::fwrite("WAVEfmt ", 1, 8, file);
    put32(file, 16);
    put16(file, 1);
    put16(file, 2);
    put32(file, kRate);
    put32(file, kRate * 4);
    put16(file, 4);
    put16(file, 16);
    std::fwrite("data", 1, 4, file);
    put32(file, static_cast<uint32_t>(data_bytes));

    const double pi = 3.14159265358979323846;
    std::vector<float> sine(kTable);
    for (uint32_t i = 0; i < kTable; ++i)
        sine[i] = static_cast<float>(std::sin(2 * pi * i / kTable));
    // Semitone steps of the chord roots and melody notes.
    const int roots[] = {0, 9, 5, 7, 2, 4, 11, 7};
    const int melody[] = {12, 16, 19, 24, 19, 16, 14, 17, 21, 24, 23, 19};
    auto step = [kRate](double hz) { return static_cast<uint32_t>(hz / kRate * kTable * 65536.0); };

    uint32_t phase[4] = {0, 0, 0, 0};
    uint32_t noise = 12345;
    std::vector<int16_t> block(2 * 4096);
    uint64_t done = 0;
    while (done < frames) {
        const uint32_t count = static_cast<uint32_t>(
            frames - done < block.size() / 2 ? frames - done : block.size() / 2);
        for (uint32_t n = 0; n < count; ++n) {
            const uint64_t t = done + n;
            const int root = roots[(t / (2 * kRate)) % 8];
            const int note = melody[(t / (kRate / 4)) % 12] + root;
            const double base = 130.81 * std::pow(2.0, root / 12.0);
            const uint32_t steps[4] = {step(base), step(base * 1.26), step(base * 1.5),
                                       step(261.63 * std::pow(2.0, note / 12.0))};
            float voice[4];
            for (int v = 0; v < 4; ++v) {
                phase[v] += steps[v];
                voice[v] = sine[(phase[v] >> 16) % kTable];
            }
            const float decay = 1.0f - static_cast<float>(t % (kRate / 4)) / (kRate / 4);
            noise = noise * 1664525u + 1013904223u;
            const float hiss =
                static_cast<float>(static_cast<int32_t>(noise >> 16) - 32768) / 32768.0f;
            const float chord = 0.18f * (voice[0] + voice[1] + voice[2]);
            const float tune = 0.35f * decay * voice[3];
            block[2 * n] =
                static_cast<int16_t>(20000.0f * (0.8f * chord + 0.3f * tune) + 300.0f * hiss);
            block[2 * n + 1] =
                static_cast<int16_t>(20000.0f * (0.3f * chord + 0.8f * tune) - 300.0f * hiss);
        }
        // Little-endian hosts only, as the benchmark machines are.
        std::fwrite(block.data(), sizeof(int16_t), 2 * count, file);
        done += count;
    }
    return std::fclose(file) == 0 ? 0 : 1;
}
