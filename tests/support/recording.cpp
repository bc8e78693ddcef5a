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

Recording::Recording(uint32_t seed, uint32_t frameRate, uint32_t frameChannels,
                     const Rendition &played)
    : rate(frameRate), channels(frameChannels), rendition(played),
      state(seed * 2654435761u + 12345u)
{
    if (rendition.tempo != 1 || rendition.transpose != 0 || rendition.mellow) {
        piece = std::make_unique<Recording>(seed, rate, 1);
        piece->keepSteps = true;
    }
    random();
    key = static_cast<int>(random() % 12);
    minor = random() % 2 == 1;
    // Eighth notes at 84 to 153 beats a minute.
    stepFrames = rate * 30.0 / (84.0 + random() % 70) / rendition.tempo;
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
    // The mellow sound: the first and third partials only (as a soft
    // square wave has them), ringing half again as long.
    static constexpr double kBright[3] = {1, 1.0 / 2, 1.0 / 3};
    static constexpr double kMellow[3] = {1, 0, 1.0 / 3};
    const double *weights = rendition.mellow ? kMellow : kBright;
    if (rendition.mellow)
        seconds *= 1.5;
    for (int p = 0; p < 3; ++p) {
        voice.weight[p] = weights[p];
        const double angle = 2 * kPi * frequency(midi + rendition.transpose) * (p + 1) / rate;
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

void Recording::startNoise(double level, double seconds, double pan)
{
    Voice &voice = voices[nextVoice++ % voices.size()];
    voice = Voice{};
    voice.level = level;
    voice.decay = std::exp(std::log(0.001) / (seconds * rate));
    voice.pan = pan;
    voice.noise = true;
}

Recording::Step Recording::composeStep()
{
    // The draws in the order the piece has always made them (the melody
    // note's pan before its length).
    Step next;
    if (step % chordSteps == 0)
        next.chordRoot = static_cast<int>(random() % 7);
    if (random() % 100 < melodyChance) {
        next.melodyDegree = static_cast<int>(random() % 10);
        next.melodyPan = 0.3 + 0.4 * (random() % 2);
        next.melodySteps = 1 + random() % 4;
    }
    const uint32_t bit = 1u << (step % 8);
    if (kicks & bit)
        next.kick = 28 + static_cast<int>(random() % 5);
    if (snares & bit)
        next.snarePan = 0.3 + 0.4 * (random() % 2);
    if (hats & bit)
        next.hatPan = 0.3 + 0.4 * (random() % 2);
    return next;
}

void Recording::playStep(const Step &next)
{
    const int *scale = minor ? kMinor : kMajor;
    const double stepSeconds = stepFrames / rate;
    if (next.chordRoot >= 0) {
        for (int n = 0; n < 3; ++n) {
            const int degree = next.chordRoot + 2 * n;
            const int midi = 48 + key + scale[degree % 7] + 12 * (degree / 7);
            startNote(midi, 0.12, chordSteps * stepSeconds, 0.2 + 0.3 * n);
        }
    }
    if (next.melodyDegree >= 0) {
        const int degree = next.melodyDegree;
        const int midi = 67 + key + scale[degree % 7] + 12 * (degree / 7);
        startNote(midi, 0.18, next.melodySteps * stepSeconds, next.melodyPan);
    }
    const double drums = rendition.mellow ? 0.4 : 1;
    if (next.kick >= 0)
        startNote(next.kick, 0.6 * drums, 0.25, 0.5);
    if (next.snarePan >= 0)
        startNoise(0.25 * drums, 0.15, next.snarePan);
    if (next.hatPan >= 0)
        startNoise(0.06 * drums, 0.04, next.hatPan);
}

void Recording::startStep()
{
    if (piece) {
        // Another rendition: the piece's own recording, rendered alongside
        // (silently) as far as this step, says what to play.
        while (piece->composed.empty()) {
            int16_t ignored;
            piece->render(&ignored, 1);
        }
        playStep(piece->composed.front());
        piece->composed.pop_front();
    } else {
        const Step next = composeStep();
        if (keepSteps)
            composed.push_back(next);
        playStep(next);
    }
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
                    value += voice.sine[p] * voice.weight[p];
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

std::vector<int16_t> recording(uint32_t seed, double seconds, uint32_t rate, uint32_t channels,
                               const Rendition &rendition)
{
    const auto frames = static_cast<size_t>(seconds * rate);
    std::vector<int16_t> samples(frames * channels);
    Recording(seed, rate, channels, rendition).render(samples.data(), frames);
    return samples;
}

void write_recording(const std::string &path, uint32_t seed, double seconds, uint32_t rate,
                     uint32_t channels, const Rendition &rendition)
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
    Recording music(seed, rate, channels, rendition);
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

std::vector<std::string> write_recordings(const std::string &prefix, size_t count, uint32_t seed,
                                          double seconds, uint32_t rate)
{
    std::vector<std::string> files;
    for (size_t i = 0; i < count; ++i) {
        files.push_back(prefix + std::to_string(i + 1) + ".wav");
        write_recording(files.back(), seed + static_cast<uint32_t>(i), seconds, rate, 1);
    }
    return files;
}

} // namespace vok_test
