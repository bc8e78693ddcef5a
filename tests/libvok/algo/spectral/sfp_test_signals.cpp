#include "tests/libvok/algo/spectral/sfp_test_signals.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>

#include "engine/eng_g711.h"
#include <vok/vok_engine.h>

namespace sfp_test {

namespace {

const double kTwoPi = 6.283185307179586;

double clamp16(double x)
{
    return std::max(-32767.0, std::min(32767.0, x));
}

// Code of the table entry nearest to x.
class CompandEncoder {
public:
    explicit CompandEncoder(const int16_t *table)
    {
        for (int code = 0; code < 256; ++code)
            entries.push_back({table[code], static_cast<uint8_t>(code)});
        std::sort(entries.begin(), entries.end(),
                  [](const Entry &a, const Entry &b) { return a.value < b.value; });
    }
    uint8_t operator()(double x) const
    {
        auto it = std::lower_bound(entries.begin(), entries.end(), x,
                                   [](const Entry &e, double v) { return e.value < v; });
        if (it == entries.end())
            return entries.back().code;
        if (it != entries.begin() && x - (it - 1)->value < it->value - x)
            --it;
        return it->code;
    }

private:
    struct Entry {
        int value;
        uint8_t code;
    };
    std::vector<Entry> entries;
};

} // namespace

const char *kind_name(Kind kind)
{
    switch (kind) {
    case Kind::Tones:
        return "tones";
    case Kind::Chirp:
        return "chirp";
    case Kind::Speech:
        return "speech";
    case Kind::Music:
        return "music";
    }
    return "?";
}

std::vector<double> make_signal(Kind kind, uint32_t rate, uint32_t channels, double seconds,
                                uint32_t seed)
{
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    const uint32_t lead = rate / 2;
    const uint32_t total = lead + static_cast<uint32_t>(seconds * rate);
    std::vector<double> out(static_cast<size_t>(total) * channels);
    double phase[6] = {};
    double pitch = 140.0;
    for (uint32_t i = 0; i < total; ++i) {
        const double t = static_cast<double>(i) / rate;
        double left = 3.0 * noise(random); // a quiet floor, also in the lead-in
        double right = left;
        if (i >= lead) {
            const double u = t - 0.5;
            switch (kind) {
            case Kind::Tones: {
                const double f[3] = {220.0, 660.0, 1500.0};
                for (int k = 0; k < 3; ++k) {
                    phase[k] += kTwoPi * f[k] / rate;
                    const double a =
                        5000.0 * (1.0 + 0.8 * std::sin(kTwoPi * (0.13 + 0.07 * k) * u));
                    left += a * std::sin(phase[k]);
                    right += a * std::sin(phase[k] + k);
                }
                const double n = 1500.0 * noise(random);
                left += n;
                right += 0.7 * n;
                break;
            }
            case Kind::Chirp: {
                const double f = 60.0 * std::pow(50.0, std::fmod(u, 12.0) / 12.0);
                phase[0] += kTwoPi * f / rate;
                const double a = 12000.0 * (0.6 + 0.4 * std::sin(kTwoPi * 0.9 * u));
                left += a * std::sin(phase[0]);
                right += 0.8 * a * std::sin(phase[0] + 0.3);
                break;
            }
            case Kind::Speech: {
                // Syllables of 0.22 s with pauses of 0.08 s; every fifth a
                // longer pause.
                const double cycle = std::fmod(u, 0.3);
                const int syllable = static_cast<int>(u / 0.3);
                const bool voiced = cycle < 0.22 && syllable % 5 != 4;
                pitch = 120.0 + 60.0 * std::sin(kTwoPi * 0.4 * u) + 20.0 * (syllable % 3);
                phase[0] += kTwoPi * pitch / rate;
                if (voiced) {
                    const double envelope = std::sin(3.14159265 * cycle / 0.22);
                    const double formant = 500.0 + 300.0 * (syllable % 4);
                    double v = 0.0;
                    for (int h = 1; h <= 20; ++h) {
                        const double fh = h * pitch;
                        const double weight =
                            1.0 / (1.0 + std::pow((fh - formant) / 250.0, 2.0)) + 0.3 / h;
                        v += weight * std::sin(h * phase[0]);
                    }
                    left += 6000.0 * envelope * v + 400.0 * envelope * noise(random);
                    right = left;
                }
                break;
            }
            case Kind::Music: {
                const double note[4] = {261.63, 329.63, 392.0, 493.88};
                const double beat = std::fmod(u, 0.5);
                const int bar = static_cast<int>(u / 0.5);
                for (int k = 0; k < 4; ++k) {
                    const double f = note[k] * (bar % 4 == 3 ? 1.122 : 1.0);
                    phase[k] += kTwoPi * f / rate;
                    const double a = 4000.0 * std::exp(-beat * (3.0 + k));
                    left += a * (std::sin(phase[k]) + 0.3 * std::sin(2 * phase[k]));
                    right += a * (std::sin(phase[k]) + 0.2 * std::sin(3 * phase[k]));
                }
                phase[4] += kTwoPi * (65.41 * (1 + (bar % 2) * 0.5)) / rate;
                left += 5000.0 * std::sin(phase[4]);
                right += 5000.0 * std::sin(phase[4]);
                break;
            }
            }
        }
        if (channels == 1) {
            out[i] = clamp16(left);
        } else {
            out[2 * i] = clamp16(left);
            out[2 * i + 1] = clamp16(right);
        }
    }
    return out;
}

std::vector<uint8_t> encode(const std::vector<double> &samples, SampleType type)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(samples.size() * 2);
    static const CompandEncoder alaw(eng_alaw_table());
    static const CompandEncoder mulaw(eng_mulaw_table());
    for (double x : samples) {
        switch (type) {
        case SAMPLE_PCM_S16: {
            const int v = static_cast<int>(std::lround(x));
            bytes.push_back(static_cast<uint8_t>(v & 0xFF));
            bytes.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
            break;
        }
        case SAMPLE_PCM_U8:
            bytes.push_back(
                static_cast<uint8_t>(std::max(0L, std::min(255L, std::lround(x / 256.0) + 128))));
            break;
        case SAMPLE_ALAW:
            bytes.push_back(alaw(x));
            break;
        default:
            bytes.push_back(mulaw(x));
            break;
        }
    }
    return bytes;
}

std::vector<uint8_t> pcm16(const std::vector<int32_t> &samples)
{
    std::vector<uint8_t> bytes;
    for (int32_t v : samples) {
        bytes.push_back(static_cast<uint8_t>(v & 0xFF));
        bytes.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
    }
    return bytes;
}

Run fingerprint(uint32_t algorithm, uint32_t rate, SampleType type, uint32_t channels,
                const std::vector<uint8_t> &bytes)
{
    Run run;
    EngineHandle *handle = nullptr;
    run.result = eng_create(algorithm, type, rate, channels, &handle);
    if (run.result != 0)
        return run;
    const uint32_t align = channels * eng_sample_type_bits(type) / 8;
    const size_t block = static_cast<size_t>(15) * rate * align;
    uint8_t done = 0;
    for (size_t at = 0; at < bytes.size() && !done;) {
        size_t count = std::min(block, bytes.size() - at);
        count -= count % align;
        if (count == 0)
            break;
        run.result = eng_add_audio(handle, bytes.data() + at, static_cast<uint32_t>(count), &done);
        if (run.result != 0)
            break;
        at += count;
    }
    run.done = done != 0;
    char *text = nullptr;
    if (run.result == 0)
        run.result = eng_serialize_xml(handle, &text);
    if (text) {
        run.document = text;
        const char *block_text = std::strstr(text, "SEPARATOR=\" \">");
        if (block_text) {
            const char *p = block_text + std::strlen("SEPARATOR=\" \">");
            for (int i = 0; i < 30; ++i) {
                char *end = nullptr;
                run.values.push_back(static_cast<uint32_t>(std::strtoul(p, &end, 10)));
                p = end;
            }
        }
    }
    eng_free_text(&text);
    eng_destroy(&handle);
    return run;
}

} // namespace sfp_test
