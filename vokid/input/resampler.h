// One libswresample context that turns audio of any sample format, channel
// layout and rate into interleaved 16-bit samples of a given layout and
// rate: it converts the format, mixes the channels and resamples, keeping
// a short delay line between calls (drained at the end).
#ifndef VOKID_INPUT_RESAMPLER_H
#define VOKID_INPUT_RESAMPLER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "vokid/input/ffmpeg_resources.h"

namespace vokid {

class Resampler {
public:
    // Throws InputError when FFmpeg cannot make it.
    Resampler(const ChannelLayout &from, AVSampleFormat fromFormat, int fromRate,
              const ChannelLayout &to, int toRate);
    ~Resampler();
    Resampler(const Resampler &) = delete;
    Resampler &operator=(const Resampler &) = delete;

    // Whether it was made for input of this format, layout and rate.
    bool takes(AVSampleFormat format, const ChannelLayout &layout, int rate) const;

    // Converts `count` input frames (one pointer per plane, or one for
    // interleaved samples) and appends the frames they give to `out`;
    // answers how many it appended.
    size_t convert(const uint8_t *const *planes, int count, std::vector<int16_t> &out);
    // Appends the frames its delay line still holds; answers how many.
    size_t drain(std::vector<int16_t> &out);

private:
    size_t run(const uint8_t *const *planes, int count, std::vector<int16_t> &out);

    struct ContextFreer {
        void operator()(SwrContext *doomed) const { swr_free(&doomed); }
    };
    std::unique_ptr<SwrContext, ContextFreer> context;
    ChannelLayout inLayout;
    AVSampleFormat inFormat;
    int inRate;
    size_t outChannels;
};

} // namespace vokid

#endif
