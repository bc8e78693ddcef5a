#include "vokid/input/mono_resampler.h"

#include <algorithm>

#include "vokid/input/ffmpeg_error.h"
#include "vokid/input/ffmpeg_resources.h"
#include "vokid/input/input_error.h"

namespace vokid {

struct MonoResampler::Context {
    Resampler resampler;
    size_t channels = 1;
};

namespace {

void check(int result)
{
    if (result < 0)
        throw InputError(ffmpegCause(result));
}

} // namespace

MonoResampler::MonoResampler(uint32_t rate, uint32_t channels, uint32_t outRate)
    : context(std::make_unique<Context>())
{
    AVChannelLayout in;
    av_channel_layout_default(&in, static_cast<int>(channels));
    AVChannelLayout out = AV_CHANNEL_LAYOUT_MONO;
    SwrContext *made = nullptr;
    check(swr_alloc_set_opts2(&made, &out, AV_SAMPLE_FMT_S16, static_cast<int>(outRate), &in,
                              AV_SAMPLE_FMT_S16, static_cast<int>(rate), 0, nullptr));
    context->resampler.reset(made);
    context->channels = channels;
    check(swr_init(made));
}

MonoResampler::~MonoResampler() = default;

void MonoResampler::add(const int16_t *frames, size_t count, std::vector<int16_t> &out)
{
    SwrContext *resampler = context->resampler.get();
    while (count > 0) {
        const int now = static_cast<int>(std::min<size_t>(count, 1 << 20));
        const int room = swr_get_out_samples(resampler, now);
        check(room);
        const size_t had = out.size();
        out.resize(had + static_cast<size_t>(room));
        auto *to = reinterpret_cast<uint8_t *>(out.data() + had);
        const auto *from = reinterpret_cast<const uint8_t *>(frames);
        const int got = swr_convert(resampler, &to, room, &from, now);
        check(got);
        out.resize(had + static_cast<size_t>(got));
        frames += static_cast<size_t>(now) * context->channels;
        count -= static_cast<size_t>(now);
    }
}

void MonoResampler::finish(std::vector<int16_t> &out)
{
    SwrContext *resampler = context->resampler.get();
    const int room = swr_get_out_samples(resampler, 0);
    check(room);
    const size_t had = out.size();
    out.resize(had + static_cast<size_t>(room));
    auto *to = reinterpret_cast<uint8_t *>(out.data() + had);
    const int got = swr_convert(resampler, &to, room, nullptr, 0);
    check(got);
    out.resize(had + static_cast<size_t>(got));
}

} // namespace vokid
