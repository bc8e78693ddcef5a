#include "vokid/input/mono_resampler.h"

#include <algorithm>

#include "vokid/input/resampler.h"

namespace vokid {

namespace {

ChannelLayout defaultLayout(uint32_t channels)
{
    AVChannelLayout layout;
    av_channel_layout_default(&layout, static_cast<int>(channels));
    return ChannelLayout(layout);
}

} // namespace

struct MonoResampler::Context {
    Context(uint32_t rate, uint32_t inChannels, uint32_t outRate)
        : resampler(defaultLayout(inChannels), AV_SAMPLE_FMT_S16, static_cast<int>(rate),
                    defaultLayout(1), static_cast<int>(outRate)),
          channels(inChannels)
    {
    }
    Resampler resampler;
    size_t channels;
};

MonoResampler::MonoResampler(uint32_t rate, uint32_t channels, uint32_t outRate)
    : context(std::make_unique<Context>(rate, channels, outRate))
{
}

MonoResampler::~MonoResampler() = default;

void MonoResampler::add(const int16_t *frames, size_t count, std::vector<int16_t> &out)
{
    while (count > 0) {
        // swr_convert counts frames in an int.
        const int now = static_cast<int>(std::min<size_t>(count, 1 << 20));
        const auto *from = reinterpret_cast<const uint8_t *>(frames);
        context->resampler.convert(&from, now, out);
        frames += static_cast<size_t>(now) * context->channels;
        count -= static_cast<size_t>(now);
    }
}

void MonoResampler::finish(std::vector<int16_t> &out)
{
    context->resampler.drain(out);
}

} // namespace vokid
