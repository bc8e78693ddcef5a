// Interleaved 16-bit audio of any rate and one or two channels turned into
// mono at another rate (the channels mixed), piece by piece, with
// libswresample.
#ifndef VOKID_INPUT_MONO_RESAMPLER_H
#define VOKID_INPUT_MONO_RESAMPLER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vokid {

class MonoResampler {
public:
    // Throws InputError when FFmpeg cannot make the resampler.
    MonoResampler(uint32_t rate, uint32_t channels, uint32_t outRate);
    ~MonoResampler();
    MonoResampler(const MonoResampler &) = delete;
    MonoResampler &operator=(const MonoResampler &) = delete;

    // Appends the samples the frames give to `out`.
    void add(const int16_t *frames, size_t count, std::vector<int16_t> &out);
    // Appends what the resampler still holds.
    void finish(std::vector<int16_t> &out);

private:
    struct Context;
    std::unique_ptr<Context> context;
};

} // namespace vokid

#endif
