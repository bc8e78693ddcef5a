#include "tests/support/recording.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>

namespace vok_test {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kMajor[7] = {0, 2, 4, 5, 7, 9, 11};
constexpr int kMinor[7] = {0, 2, 3, 5, 7, 8, 10};

double frequency(int midi)
{
    return 440.0 * std::pow(2.0, (midi - 69) / 12.0);
}

} // namespace

Recording::Recording(uint32_t seed, uint32_t frameRate, uint32_t frameChannels)
    : rate(frameRate), channels(frameChannels), state(seed * 2654435761u + 12345u)
{
    random();
    key = static_cast<int>(random() % 12);
    minor = random() % 2 == 1;
    // Eighth notes at 84 to 153 beats a minute.
    stepFrames = rate * 30.0 / (84.0 + random() % 70);
    // A drum pattern of its own over the eight steps of a bar.
    kicks = (random() & 0xFFu) | 1u;
    snares = random() & 0xFFu & ~kicks;
    hats = random() & 0xFFu;
    chordSteps = 8u * (1u + random() % 2u);
    melodyChance = 30u + random() % 60u;
}

uint32_t Recording::random()
{
    // xorshift32: fast, and the same sequence on every platform.
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

void Recording::startNote(int midi, double level, double seconds, double pan)
{
    Voice &voice = voices[nextVoice++ % voices.size()];
    for (int p = 0; p < 3; ++p) {
        const double angle = 2 * kPi * frequency(midi) * (p + 1) / rate;
        voice.cosine[p] = 1;
        voice.sine[p] = 0;
        voice.stepCos[p] = std::cos(angle);
        voice.stepSin[p] = std::sin(angle);
    }
    voice.level = level;
    voice.decay = std::exp(std::log(0.001) / (seconds * rate)); // -60 dB after `seconds`
    voice.pan = pan;
    voice.noise = false;
}

void Recording::startNoise(double level, double seconds)
{
    Voice &voice = voices[nextVoice++ % voices.size()];
    voice = Voice{};
    voice.level = level;
    voice.decay = std::exp(std::log(0.001) / (seconds * rate));
    voice.pan = 0.3 + 0.4 * (random() % 2);
    voice.noise = true;
}

void Recording::startStep()
{
    const int *scale = minor ? kMinor : kMajor;
    const double stepSeconds = stepFrames / rate;
    if (step % chordSteps == 0) {
        chordRoot = static_cast<int>(random() % 7);
        for (int n = 0; n < 3; ++n) {
            const int degree = chordRoot + 2 * n;
            const int midi = 48 + key + scale[degree % 7] + 12 * (degree / 7);
            startNote(midi, 0.12, chordSteps * stepSeconds, 0.2 + 0.3 * n);
        }
    }
    if (random() % 100 < melodyChance) {
        const int degree = static_cast<int>(random() % 10);
        const int midi = 67 + key + scale[degree % 7] + 12 * (degree / 7);
        startNote(midi, 0.18, (1 + random() % 4) * stepSeconds, 0.3 + 0.4 * (random() % 2));
    }
    const uint32_t bit = 1u << (step % 8);
    if (kicks & bit)
        startNote(28 + static_cast<int>(random() % 5), 0.6, 0.25, 0.5);
    if (snares & bit)
        startNoise(0.25, 0.15);
    if (hats & bit)
        startNoise(0.06, 0.04);
    ++step;
}

void Recording::render(int16_t *out, size_t frames)
{
    for (size_t f = 0; f < frames; ++f) {
        if (untilStep <= 0) {
            startStep();
            untilStep += stepFrames;
        }
        untilStep -= 1;
        double left = 0, right = 0;
        for (Voice &voice : voices) {
            if (voice.level < 1e-5)
                continue;
            double value;
            if (voice.noise) {
                value = (static_cast<double>(random()) / 4294967296.0 - 0.5) * 2;
            } else {
                value = 0;
                for (int p = 0; p < 3; ++p) {
                    const double c = voice.cosine[p];
                    voice.cosine[p] = c * voice.stepCos[p] - voice.sine[p] * voice.stepSin[p];
                    voice.sine[p] = voice.sine[p] * voice.stepCos[p] + c * voice.stepSin[p];
                    value += voice.sine[p] / (p + 1);
                }
            }
            value *= voice.level;
            voice.level *= voice.decay;
            left += value * (1 - voice.pan);
            right += value * voice.pan;
        }
        const auto sample = [](double v) {
            return static_cast<int16_t>(std::lround(std::fmax(-1.0, std::fmin(1.0, v)) * 32000));
        };
        if (channels == 1) {
            *out++ = sample(left + right);
        } else {
            *out++ = sample(left);
            *out++ = sample(right);
            for (uint32_t c = 2; c < channels; ++c)
                *out++ = sample((left + right) / 2);
        }
    }
}

std::vector<int16_t> recording(uint32_t seed, double seconds, uint32_t rate, uint32_t channels)
{
    const auto frames = static_cast<size_t>(seconds * rate);
    std::vector<int16_t> samples(frames * channels);
    Recording(seed, rate, channels).render(samples.data(), frames);
    return samples;
}

void write_recording(const std::string &path, uint32_t seed, double seconds, uint32_t rate,
                     uint32_t channels)
{
    struct Closer {
        void operator()(std::FILE *file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "wb"));
    if (!file)
        throw std::runtime_error("cannot write " + path);
    const auto frames = static_cast<uint64_t>(seconds * rate);
    const uint32_t dataBytes = static_cast<uint32_t>(frames * channels * 2);
    const uint32_t align = channels * 2;
    const uint32_t header[] = {
        0x46464952u, 36 + dataBytes, 0x45564157u,       0x20746d66u, 16,       1u | channels << 16,
        rate,        rate * align,   align | 16u << 16, 0x61746164u, dataBytes};
    std::fwrite(header, sizeof header, 1, file.get()); // little-endian hosts
    Recording music(seed, rate, channels);
    std::vector<int16_t> chunk(65536 * channels);
    for (uint64_t done = 0; done < frames;) {
        const size_t now = static_cast<size_t>(std::min<uint64_t>(65536, frames - done));
        music.render(chunk.data(), now);
        std::fwrite(chunk.data(), 2, now * channels, file.get());
        done += now;
    }
    if (std::ferror(file.get()))
        throw std::runtime_error("cannot write " + path);
}

} // namespace vok_test
