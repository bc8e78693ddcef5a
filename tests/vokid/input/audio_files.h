// Audio for vokid's input tests: sines measured independently of FFmpeg,
// whole sources read out, standard input taken from a file, and files
// encoded by the ffmpeg program.
#ifndef VOK_TESTS_VOKID_INPUT_AUDIO_FILES_H
#define VOK_TESTS_VOKID_INPUT_AUDIO_FILES_H

#include <cstdint>
#include <string>
#include <vector>

#include "vokid/input/audio_source.h"

namespace vokid_test {

// frames x channels interleaved samples of a sine of `hz` at `amplitude`,
// the same in every channel.
std::vector<int16_t> sine(uint32_t frames, uint32_t channels, uint32_t rate, double hz,
                          double amplitude);

// The frequency of a mono signal, from its upward zero crossings
// (interpolated between samples), ignoring the first and last `skip`
// samples.
double measuredFrequency(const std::vector<int16_t> &mono, uint32_t rate, size_t skip);
// Root-mean-square level, ignoring the first and last `skip` samples.
double rms(const std::vector<int16_t> &mono, size_t skip);

// One channel of interleaved samples.
std::vector<int16_t> channel(const std::vector<int16_t> &frames, uint32_t channels, uint32_t which);

// Everything a source delivers.
std::vector<int16_t> readAll(vokid::AudioSource &source);

// True when the ffmpeg program can be run.
bool haveFfmpeg();
// Converts `input` to `output` with ffmpeg and these output options.
void ffmpeg(const std::string &input, const std::vector<std::string> &options,
            const std::string &output);

// Standard input reads the file while the object lives.
class StdinFrom {
public:
    explicit StdinFrom(const std::string &path);
    ~StdinFrom();
    StdinFrom(const StdinFrom &) = delete;
    StdinFrom &operator=(const StdinFrom &) = delete;

private:
    int saved;
};

} // namespace vokid_test

#endif
