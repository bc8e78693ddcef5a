// Generated recordings: music that is different for every seed (key,
// tempo, chords and how often they change, melody, drum pattern), rendered in any length, rate and channel
// count without holding more than the caller's buffer. For comparison
// tests and the benchmarks.
#ifndef VOK_TESTS_SUPPORT_RECORDING_H
#define VOK_TESTS_SUPPORT_RECORDING_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vok_test {

class Recording {
public:
    Recording(uint32_t seed, uint32_t rate, uint32_t channels);
    // The next frames, interleaved.
    void render(int16_t *out, size_t frames);

private:
    struct Voice {
        double cosine[3], sine[3]; // one phasor per partial
        double stepCos[3], stepSin[3];
        double level, decay, pan;
        bool noise;
    };
    uint32_t random();
    void startStep();
    void startNote(int midi, double level, double seconds, double pan);
    void startNoise(double level, double seconds);

    uint32_t rate;
    uint32_t channels;
    uint32_t state;
    int key;
    bool minor;
    double stepFrames; // an eighth note
    uint32_t kicks, snares, hats; // which of a bar's eight steps have them
    uint32_t chordSteps;          // steps from one chord to the next
    uint32_t melodyChance;        // per cent of steps with a melody note
    double untilStep = 0;
    uint64_t step = 0;
    int chordRoot = 0;
    std::array<Voice, 16> voices{};
    size_t nextVoice = 0;
};

std::vector<int16_t> recording(uint32_t seed, double seconds, uint32_t rate, uint32_t channels);

// Writes a 16-bit PCM WAVE file of `seconds` of the recording, in chunks.
void write_recording(const std::string &path, uint32_t seed, double seconds, uint32_t rate,
                     uint32_t channels);

} // namespace vok_test

#endif
