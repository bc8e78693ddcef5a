// Generated recordings: music that is different for every seed (key,
// tempo, chords and how often they change, melody, drum pattern), rendered
// in any length, rate and channel count without holding more than the
// caller's buffer. A rendition plays the same piece (the same notes and
// drum pattern) in another sound, tempo or key: a different recording of
// the same piece. For comparison tests and the benchmarks.
#ifndef VOK_TESTS_SUPPORT_RECORDING_H
#define VOK_TESTS_SUPPORT_RECORDING_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace vok_test {

// How a piece is played. The default is the piece's own recording.
struct Rendition {
    double tempo = 1;    // factor on the piece's tempo
    int transpose = 0;   // semitones
    bool mellow = false; // odd partials only, slower decays, softer drums
};

class Recording {
public:
    Recording(uint32_t seed, uint32_t rate, uint32_t channels, const Rendition &rendition = {});
    // The next frames, interleaved.
    void render(int16_t *out, size_t frames);

private:
    struct Voice {
        double cosine[3], sine[3]; // one phasor per partial
        double stepCos[3], stepSin[3];
        double weight[3]; // of each partial
        double level, decay, pan;
        bool noise;
    };
    // What the piece plays at one step, the same in every rendition.
    struct Step {
        int chordRoot = -1;    // a new chord's root degree, or -1
        int melodyDegree = -1; // a melody note's degree, or -1
        uint32_t melodySteps = 0;
        double melodyPan = 0;
        int kick = -1;        // the kick's note, or -1
        double snarePan = -1; // -1: no snare
        double hatPan = -1;
    };
    uint32_t random();
    Step composeStep();
    void playStep(const Step &next);
    void startStep();
    void startNote(int midi, double level, double seconds, double pan);
    void startNoise(double level, double seconds, double pan);

    uint32_t rate;
    uint32_t channels;
    Rendition rendition;
    uint32_t state;
    // Another rendition takes its steps from the piece's own recording.
    std::unique_ptr<Recording> piece;
    bool keepSteps = false;
    std::deque<Step> composed;
    int key;
    bool minor;
    double stepFrames;            // an eighth note
    uint32_t kicks, snares, hats; // which of a bar's eight steps have them
    uint32_t chordSteps;          // steps from one chord to the next
    uint32_t melodyChance;        // per cent of steps with a melody note
    double untilStep = 0;
    uint64_t step = 0;
    int chordRoot = 0;
    std::array<Voice, 16> voices{};
    size_t nextVoice = 0;
};

std::vector<int16_t> recording(uint32_t seed, double seconds, uint32_t rate, uint32_t channels,
                               const Rendition &rendition = {});

// Writes a 16-bit PCM WAVE file of `seconds` of the recording, in chunks.
void write_recording(const std::string &path, uint32_t seed, double seconds, uint32_t rate,
                     uint32_t channels, const Rendition &rendition = {});

// `count` mono recordings of seeds `seed`, `seed` + 1, ...: the files
// PREFIX1.wav, PREFIX2.wav, ... (PREFIX a path); their paths.
std::vector<std::string> write_recordings(const std::string &prefix, size_t count, uint32_t seed,
                                          double seconds, uint32_t rate);

} // namespace vok_test

#endif
