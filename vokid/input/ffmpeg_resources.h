// Owners of FFmpeg's objects, each released by its own free function.
#ifndef VOKID_INPUT_FFMPEG_RESOURCES_H
#define VOKID_INPUT_FFMPEG_RESOURCES_H

#include <algorithm>
#include <memory>
#include <new>

#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace vokid {

struct FormatCloser {
    void operator()(AVFormatContext *context) const { avformat_close_input(&context); }
};
struct CodecFreer {
    void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};
struct FrameFreer {
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
struct PacketFreer {
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};

using FormatContext = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecContext = std::unique_ptr<AVCodecContext, CodecFreer>;
using Frame = std::unique_ptr<AVFrame, FrameFreer>;
using Packet = std::unique_ptr<AVPacket, PacketFreer>;

// A channel layout FFmpeg can mix from and to.
class ChannelLayout {
public:
    ChannelLayout() = default;
    // The layout itself, or the usual one for its channel count when it
    // does not say which channel is which.
    explicit ChannelLayout(const AVChannelLayout &from)
    {
        if (from.order == AV_CHANNEL_ORDER_UNSPEC || from.nb_channels <= 0)
            av_channel_layout_default(&layout, std::max(from.nb_channels, 1));
        else if (av_channel_layout_copy(&layout, &from) < 0)
            throw std::bad_alloc();
    }
    ~ChannelLayout() { av_channel_layout_uninit(&layout); }
    ChannelLayout(ChannelLayout &&other) noexcept : layout(other.layout) { other.layout = {}; }
    ChannelLayout &operator=(ChannelLayout &&other) noexcept
    {
        std::swap(layout, other.layout);
        return *this;
    }
    ChannelLayout(const ChannelLayout &) = delete;
    ChannelLayout &operator=(const ChannelLayout &) = delete;

    const AVChannelLayout *get() const { return &layout; }
    int channels() const { return layout.nb_channels; }
    bool operator==(const ChannelLayout &other) const
    {
        return av_channel_layout_compare(&layout, &other.layout) == 0;
    }

private:
    AVChannelLayout layout{};
};

} // namespace vokid

#endif
