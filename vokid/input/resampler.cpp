#include "vokid/input/resampler.h"

#include "vokid/input/ffmpeg_error.h"
#include "vokid/input/input_error.h"

namespace vokid {

namespace {

int check(int result)
{
    if (result < 0)
        throw InputError(ffmpegCause(result));
    return result;
}

ChannelLayout copyOf(const ChannelLayout &layout)
{
    return ChannelLayout(*layout.get());
}

// Channels that no layout names (FFmpeg knows usual layouts for up to 8,
// and a file may carry 9, 32 or 64 with no mask) cannot be mixed by their
// places: each output channel takes each of them alike.
std::vector<double> evenMix(int from, int to)
{
    return std::vector<double>(static_cast<size_t>(from) * static_cast<size_t>(to),
                               1.0 / from);
}

} // namespace

Resampler::Resampler(const ChannelLayout &from, AVSampleFormat fromFormat, int fromRate,
                     const ChannelLayout &to, int toRate)
    : inLayout(copyOf(from)), inFormat(fromFormat), inRate(fromRate),
      outChannels(static_cast<size_t>(to.channels()))
{
    SwrContext *made = nullptr;
    // FFmpeg 5 declares the layouts non-const; it only reads them.
    check(swr_alloc_set_opts2(&made, const_cast<AVChannelLayout *>(to.get()), AV_SAMPLE_FMT_S16,
                              toRate, const_cast<AVChannelLayout *>(from.get()), fromFormat,
                              fromRate, 0, nullptr));
    context.reset(made);
    if (from.get()->order == AV_CHANNEL_ORDER_UNSPEC && from.channels() != to.channels())
        check(swr_set_matrix(made, evenMix(from.channels(), to.channels()).data(),
                             from.channels()));
    check(swr_init(made));
}

Resampler::~Resampler() = default;

bool Resampler::takes(AVSampleFormat format, const ChannelLayout &layout, int rate) const
{
    return format == inFormat && rate == inRate && layout == inLayout;
}

size_t Resampler::convert(const uint8_t *const *planes, int count, std::vector<int16_t> &out)
{
    return run(planes, count, out);
}

size_t Resampler::drain(std::vector<int16_t> &out)
{
    return run(nullptr, 0, out);
}

// swr_convert with room for every frame it can give.
size_t Resampler::run(const uint8_t *const *planes, int count, std::vector<int16_t> &out)
{
    const int room = check(swr_get_out_samples(context.get(), count));
    const size_t had = out.size();
    out.resize(had + static_cast<size_t>(room) * outChannels);
    auto *to = reinterpret_cast<uint8_t *>(out.data() + had);
    // FFmpeg 5 declares the input planes as pointers to const bytes only.
    const int got =
        check(swr_convert(context.get(), &to, room, const_cast<const uint8_t **>(planes), count));
    out.resize(had + static_cast<size_t>(got) * outChannels);
    return static_cast<size_t>(got);
}

} // namespace vokid
