// Test audio for the spectral fingerprint, generated in the test: kinds of
// sound at any rate, encoded in every sample type, and a runner that takes
// it through the engine as the driver does.
#ifndef VOK_TESTS_ALGO_SPECTRAL_SFP_TEST_SIGNALS_H
#define VOK_TESTS_ALGO_SPECTRAL_SFP_TEST_SIGNALS_H

#include <cstdint>
#include <string>
#include <vector>

#include <vok/eng_types.h>

namespace sfp_test {

enum class Kind {
    Tones,  // three tones with slowly changing amplitudes, plus noise
    Chirp,  // a sweep from 60 Hz to 3 kHz with a pulsing envelope
    Speech, // voiced syllables on a moving pitch, short pauses between
    Music,  // plucked chords over a bass line
};
const Kind kKinds[] = {Kind::Tones, Kind::Chirp, Kind::Speech, Kind::Music};
const char *kind_name(Kind kind);

// Interleaved samples in 16-bit units (at most 32767 in magnitude): half a
// second of near silence, then `seconds` of sound.
std::vector<double> make_signal(Kind kind, uint32_t rate, uint32_t channels, double seconds,
                                uint32_t seed);

// The samples as bytes of a sample type (PCM 16 little-endian, PCM 8
// unsigned, A-law, mu-law).
std::vector<uint8_t> encode(const std::vector<double> &samples, SampleType type);

// 16-bit PCM bytes of integer samples.
std::vector<uint8_t> pcm16(const std::vector<int32_t> &samples);

struct Run {
    uint32_t result = 0; // first failing code, or 0
    bool done = false;
    std::string document;         // the XML text when serialised
    std::vector<uint32_t> values; // the 30 numbers of FP_BLOCK
};

// Creates a handle, adds the bytes in blocks of 15 seconds (as the driver
// reads) until done, serialises and destroys it.
Run fingerprint(uint32_t algorithm, uint32_t rate, SampleType type, uint32_t channels,
                const std::vector<uint8_t> &bytes);

} // namespace sfp_test

#endif
