#include "tests/vokid/input/audio_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <stdexcept>

#include <gtest/gtest.h>

#include "tests/support/subprocess.h"

namespace vokid_test {

std::vector<int16_t> sine(uint32_t frames, uint32_t channels, uint32_t rate, double hz,
                          double amplitude)
{
    const double pi = std::acos(-1.0);
    std::vector<int16_t> out;
    out.reserve(static_cast<size_t>(frames) * channels);
    for (uint32_t n = 0; n < frames; ++n) {
        const double v = amplitude * std::sin(2 * pi * hz * n / rate);
        for (uint32_t c = 0; c < channels; ++c)
            out.push_back(static_cast<int16_t>(std::lround(v)));
    }
    return out;
}

double measuredFrequency(const std::vector<int16_t> &mono, uint32_t rate, size_t skip)
{
    double first = -1, last = -1;
    int crossings = 0;
    for (size_t n = skip + 1; n + skip < mono.size(); ++n) {
        if (mono[n - 1] < 0 && mono[n] >= 0) {
            const double at = static_cast<double>(n - 1) +
                              -mono[n - 1] / static_cast<double>(mono[n] - mono[n - 1]);
            if (first < 0)
                first = at;
            last = at;
            ++crossings;
        }
    }
    if (crossings < 2)
        return 0;
    return (crossings - 1) * static_cast<double>(rate) / (last - first);
}

double rms(const std::vector<int16_t> &mono, size_t skip)
{
    double sum = 0;
    size_t count = 0;
    for (size_t n = skip; n + skip < mono.size(); ++n, ++count)
        sum += static_cast<double>(mono[n]) * mono[n];
    return count ? std::sqrt(sum / static_cast<double>(count)) : 0;
}

std::vector<int16_t> channel(const std::vector<int16_t> &frames, uint32_t channels, uint32_t which)
{
    std::vector<int16_t> out;
    for (size_t n = which; n < frames.size(); n += channels)
        out.push_back(frames[n]);
    return out;
}

std::vector<int16_t> readAll(vokid::AudioSource &source)
{
    std::vector<int16_t> all;
    for (;;) {
        const vokid::AudioChunk chunk = source.read();
        if (chunk.frames == 0)
            return all;
        all.insert(all.end(), chunk.samples, chunk.samples + chunk.frames * source.channels());
    }
}

bool haveFfmpeg()
{
    static const bool found =
        vok_test::run_program("/bin/sh", {"-c", "ffmpeg -version > /dev/null 2>&1"}).exit_code == 0;
    return found;
}

void ffmpeg(const std::string &input, const std::vector<std::string> &options,
            const std::string &output)
{
    std::vector<std::string> args = {"ffmpeg", "-nostdin", "-hide_banner", "-loglevel",
                                     "error",  "-y",       "-i",           input};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(output);
    const vok_test::RunResult run = vok_test::run_program("/usr/bin/env", args);
    ASSERT_EQ(0, run.exit_code) << "ffmpeg failed for " << output << ": " << run.err;
}

StdinFrom::StdinFrom(const std::string &path) : saved(dup(STDIN_FILENO))
{
    const int file = open(path.c_str(), O_RDONLY);
    if (saved < 0 || file < 0 || dup2(file, STDIN_FILENO) < 0)
        throw std::runtime_error("cannot read standard input from " + path);
    close(file);
}

StdinFrom::~StdinFrom()
{
    dup2(saved, STDIN_FILENO);
    close(saved);
}

} // namespace vokid_test
