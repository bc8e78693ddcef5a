#include "vokid/input/audio_source.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "vokid/input/ffmpeg_error.h"
#include "vokid/input/ffmpeg_resources.h"
#include "vokid/input/input_error.h"
#include "vokid/input/resampler.h"
#include "vokid/input/follow_io.h"
#include "vokid/input/live_input.h"
#include "vokid/input/stdin_io.h"
#include "vokid/input/stop_request.h"

namespace vokid {

AudioInput AudioInput::named(const std::string &name)
{
    AudioInput input;
    input.standardInput = name == "-";
    input.path = name;
    return input;
}

namespace {

void check(int result)
{
    if (result < 0)
        throw InputError(ffmpegCause(result));
}

// While the input is opened: what tells that it holds no audio.
void checkOpening(int result)
{
    if (result == AVERROR_INVALIDDATA || result == AVERROR_DEMUXER_NOT_FOUND ||
        result == AVERROR_STREAM_NOT_FOUND)
        throw NotAudioError(ffmpegCause(result));
    check(result);
}

} // namespace

struct AudioSource::Decoder {
    AudioTarget target;
    std::unique_ptr<StdinIo> stdinIo;
    std::unique_ptr<FollowIo> followIo;
    FormatContext format;
    CodecContext codec;
    Frame frame{av_frame_alloc()};
    Packet packet{av_packet_alloc()};
    int stream = -1;

    // The delivered format, settled by the first frame.
    uint32_t rate = 0;
    uint32_t channels = 0;
    ChannelLayout layout;

    // The resampler (also converting sample formats and mixing channels),
    // made for the input's format when it first needs converting.
    std::unique_ptr<Resampler> resampler;
    std::vector<int16_t> converted;

    bool holding = false;     // `frame` holds a decoded frame not yet delivered
    bool flushed = false;     // the demuxer is done and the decoder was told
    bool decoderDone = false; // the decoder has given its last frame
    bool finished = false;    // nothing more will be delivered
    bool reachedEnd = false;  // ... because the input ended
    uint64_t delivered = 0;
    uint64_t limit = std::numeric_limits<uint64_t>::max();

    Decoder(const AudioInput &input, const AudioTarget &audioTarget);
    std::string location(const AudioInput &input, AVFormatContext *context);
    void open(const AudioInput &input);
    void openDecoder();
    void settleFormat();
    bool receiveFrame();
    void feedDecoder();
    AudioChunk convert();
    AudioChunk drain();
    AudioChunk next();
};

AudioSource::Decoder::Decoder(const AudioInput &input, const AudioTarget &audioTarget)
    : target(audioTarget)
{
    if (!frame || !packet)
        throw std::bad_alloc();
    open(input);
    openDecoder();
    holding = receiveFrame();
    settleFormat();
}

// The URL FFmpeg opens, over the input's own reading when it has one.
std::string AudioSource::Decoder::location(const AudioInput &input, AVFormatContext *context)
{
    if (input.url)
        return input.path;
    if (input.standardInput || input.follow) {
        AVIOContext *io = nullptr;
        if (input.standardInput) {
            stdinIo = std::make_unique<StdinIo>(input.taken);
            io = stdinIo->context();
        } else {
            followIo = std::make_unique<FollowIo>(input.path);
            io = followIo->context();
        }
        context->pb = io;
        context->flags |= AVFMT_FLAG_CUSTOM_IO;
        return "pipe:";
    }
    struct stat status;
    const bool known = stat(input.path.c_str(), &status) == 0;
    if (known && (S_ISDIR(status.st_mode) || (S_ISREG(status.st_mode) && status.st_size == 0))) {
        if (S_ISDIR(status.st_mode))
            throw InputError(ffmpegCause(AVERROR(EISDIR)));
        throw NotAudioError("an empty file");
    }
    // The name is a file's, never a protocol's ("http:...", "pipe:...").
    return "file:" + input.path;
}

void AudioSource::Decoder::open(const AudioInput &input)
{
    const AVInputFormat *demuxer = inputFormat(input);
    AVFormatContext *context = avformat_alloc_context();
    if (!context)
        throw std::bad_alloc();
    std::string url;
    try {
        url = location(input, context);
    } catch (...) {
        avformat_free_context(context);
        throw;
    }
    // A stop asked for (stop_request.h) ends waiting network and device
    // reads: FFmpeg asks this between its waits.
    context->interrupt_callback.callback = [](void *) { return stopRequested() ? 1 : 0; };
    AVDictionary *options = nullptr;
    openingOptions(input, &options);
    const int opened = avformat_open_input(&context, url.c_str(), demuxer, &options);
    av_dict_free(&options);
    checkOpening(opened); // a failed open has freed the context
    format.reset(context);
    // Looking for stream parameters reads at most this much. The default
    // (5 MB) makes FFmpeg test every 16-bit PCM WAVE file for hidden
    // compressed audio with each of its hundreds of format probes, again
    // and again as the data grows: a tenth of the whole work for a
    // 3-minute file. 32 kB (the target's default) finds the parameters of
    // every audio format and still finds compressed audio hidden in PCM;
    // a consumer of short clips, for which even that is most of the work,
    // may ask for less.
    context->probesize = target.probeBytes;
    checkOpening(avformat_find_stream_info(context, nullptr));
}

void AudioSource::Decoder::openDecoder()
{
    const AVCodec *found = nullptr;
    stream = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &found, 0);
    checkOpening(stream);
    // Packets of other streams (a cover picture, video) are not even read.
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (static_cast<int>(i) != stream)
            format->streams[i]->discard = AVDISCARD_ALL;
    codec.reset(avcodec_alloc_context3(found));
    if (!codec)
        throw std::bad_alloc();
    const AVStream *audio = format->streams[stream];
    check(avcodec_parameters_to_context(codec.get(), audio->codecpar));
    codec->pkt_timebase = audio->time_base;
    // Files are decoded in parallel, one thread each.
    codec->thread_count = 1;
    // Decoders that can produce 16-bit samples directly save a conversion.
    codec->request_sample_fmt = AV_SAMPLE_FMT_S16;
    check(avcodec_open2(codec.get(), found, nullptr));
}

// The delivered format: as the first frame has it, with more than two
// channels mixed down to stereo and a rate the target does not take
// replaced by its fallback.
void AudioSource::Decoder::settleFormat()
{
    const uint32_t sourceRate = holding ? static_cast<uint32_t>(frame->sample_rate)
                                        : static_cast<uint32_t>(std::max(codec->sample_rate, 0));
    ChannelLayout source(holding ? frame->ch_layout : codec->ch_layout);
    const auto &rates = target.rates;
    rate = rates.empty() || std::find(rates.begin(), rates.end(), sourceRate) != rates.end()
               ? sourceRate
               : target.fallbackRate;
    if (rate == 0)
        rate = target.fallbackRate;
    if (source.channels() <= 2) {
        layout = std::move(source);
    } else {
        const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        layout = ChannelLayout(stereo);
    }
    channels = static_cast<uint32_t>(layout.channels());
    if (target.limitSeconds > 0)
        limit = static_cast<uint64_t>(std::llround(target.limitSeconds * rate));
}

// Decodes the next frame into `frame`; false once the decoder has given
// its last one.
bool AudioSource::Decoder::receiveFrame()
{
    while (!decoderDone) {
        const int result = avcodec_receive_frame(codec.get(), frame.get());
        if (result == 0)
            return true;
        if (result == AVERROR(EAGAIN)) {
            feedDecoder();
        } else if (result == AVERROR_EOF) {
            decoderDone = true;
        } else if (result != AVERROR_INVALIDDATA) {
            // A damaged frame is skipped, as players skip it; any other
            // failure ends the input.
            check(result);
        }
    }
    return false;
}

void AudioSource::Decoder::feedDecoder()
{
    if (flushed) {
        decoderDone = true;
        return;
    }
    const int result = av_read_frame(format.get(), packet.get());
    if (result == AVERROR_EOF || result == AVERROR_INVALIDDATA) {
        // The end of the input, or damage after which nothing can be
        // found: the decoder gives what it still holds.
        avcodec_send_packet(codec.get(), nullptr);
        flushed = true;
        return;
    }
    if (result == AVERROR(EAGAIN))
        return;
    check(result);
    if (packet->stream_index == stream) {
        const int sent = avcodec_send_packet(codec.get(), packet.get());
        if (sent < 0 && sent != AVERROR_INVALIDDATA) {
            av_packet_unref(packet.get());
            check(sent);
        }
    }
    av_packet_unref(packet.get());
}

// The frame in `frame` in the delivered format: the decoder's own samples
// when they already are, else converted.
AudioChunk AudioSource::Decoder::convert()
{
    const bool interleaved16 =
        frame->format == AV_SAMPLE_FMT_S16 ||
        (frame->format == AV_SAMPLE_FMT_S16P && frame->ch_layout.nb_channels == 1);
    ChannelLayout in(frame->ch_layout);
    // Once the resampler has been used it keeps its delay line: it then
    // takes every frame, so that nothing it holds is lost.
    if (!resampler && interleaved16 && static_cast<uint32_t>(frame->sample_rate) == rate &&
        in == layout)
        return AudioChunk{reinterpret_cast<const int16_t *>(frame->data[0]),
                          static_cast<size_t>(frame->nb_samples)};

    const auto sampleFormat = static_cast<AVSampleFormat>(frame->format);
    if (!resampler || !resampler->takes(sampleFormat, in, frame->sample_rate)) {
        // A new resampler for a stream whose format changes midway; the
        // old one's few delayed samples (a fraction of a millisecond) go.
        resampler = std::make_unique<Resampler>(in, sampleFormat, frame->sample_rate, layout,
                                                static_cast<int>(rate));
    }
    converted.clear();
    const size_t got = resampler->convert(frame->extended_data, frame->nb_samples, converted);
    return AudioChunk{converted.data(), got};
}

// What the resampler still holds at the end of the input.
AudioChunk AudioSource::Decoder::drain()
{
    if (!resampler)
        return AudioChunk{};
    converted.clear();
    const size_t got = resampler->drain(converted);
    resampler.reset(); // drained once
    return AudioChunk{converted.data(), got};
}

AudioChunk AudioSource::Decoder::next()
{
    while (!finished) {
        AudioChunk chunk;
        if (holding || receiveFrame()) {
            holding = false;
            chunk = convert();
        } else {
            chunk = drain();
            if (chunk.frames == 0) {
                finished = reachedEnd = true;
                break;
            }
        }
        if (chunk.frames == 0)
            continue;
        if (chunk.frames >= limit - delivered) {
            chunk.frames = static_cast<size_t>(limit - delivered);
            finished = true;
        }
        delivered += chunk.frames;
        if (chunk.frames > 0)
            return chunk;
    }
    return AudioChunk{};
}

// Two channels held while their first seconds tell whether one of them is
// delivered alone.
struct AudioSource::Choice {
    static constexpr double kSeconds = 10;
    std::vector<int16_t> held; // the first frames, interleaved
    size_t given = 0;          // of them, delivered
    int channel = -1;          // the louder one, delivered alone; -1: both
    std::vector<int16_t> alone;
};

AudioSource::AudioSource(const AudioInput &input, const AudioTarget &target)
    : decoder(std::make_unique<Decoder>(input, target))
{
    if (target.louderChannel && decoder->channels == 2)
        choose();
}

AudioSource::~AudioSource() = default;

// Powers of the channels and of their mix over the first seconds: more
// than 20 dB (a factor of 100) between the mix and the louder channel
// picks that channel.
void AudioSource::choose()
{
    choice = std::make_unique<Choice>();
    std::vector<int16_t> &held = choice->held;
    const auto wanted = static_cast<size_t>(Choice::kSeconds * decoder->rate) * 2;
    for (AudioChunk chunk; held.size() < wanted && (chunk = decoder->next()).frames > 0;)
        held.insert(held.end(), chunk.samples, chunk.samples + chunk.frames * 2);
    double left = 0, right = 0, mix = 0;
    for (size_t i = 0; i + 1 < held.size(); i += 2) {
        const double l = held[i], r = held[i + 1], m = (l + r) / 2;
        left += l * l;
        right += r * r;
        mix += m * m;
    }
    const double louder = std::max(left, right);
    choice->channel = louder > 0 && mix * 100 < louder ? (left >= right ? 0 : 1) : -1;
}

uint32_t AudioSource::sourceRate() const
{
    const int rate = decoder->codec->sample_rate;
    return rate > 0 ? static_cast<uint32_t>(rate) : decoder->rate;
}

uint32_t AudioSource::sourceChannels() const
{
    const int channels = decoder->codec->ch_layout.nb_channels;
    return channels > 0 ? static_cast<uint32_t>(channels) : decoder->channels;
}

uint32_t AudioSource::rate() const
{
    return decoder->rate;
}

uint32_t AudioSource::channels() const
{
    return choice && choice->channel >= 0 ? 1 : decoder->channels;
}

AudioChunk AudioSource::read()
{
    if (!choice)
        return decoder->next();
    Choice &held = *choice;
    AudioChunk chunk;
    if (held.given * 2 < held.held.size()) {
        // What was read to choose, in pieces of at most a second.
        chunk.frames = std::min<size_t>(held.held.size() / 2 - held.given, decoder->rate);
        chunk.samples = held.held.data() + held.given * 2;
        held.given += chunk.frames;
    } else {
        held.held = std::vector<int16_t>();
        chunk = decoder->next();
    }
    if (held.channel < 0 || chunk.frames == 0)
        return chunk;
    held.alone.resize(chunk.frames);
    for (size_t i = 0; i < chunk.frames; ++i)
        held.alone[i] = chunk.samples[2 * i + static_cast<size_t>(held.channel)];
    return AudioChunk{held.alone.data(), chunk.frames};
}

double AudioSource::deliveredSeconds() const
{
    return static_cast<double>(decoder->delivered) / decoder->rate;
}

bool AudioSource::decodedToEnd() const
{
    return decoder->reachedEnd;
}

double AudioSource::statedSeconds() const
{
    const AVFormatContext *context = decoder->format.get();
    // A duration guessed from the bit rate (a WAVE file on a pipe, an MP3
    // file without a header that tells) is no statement.
    if (context->duration != AV_NOPTS_VALUE && context->duration > 0 &&
        context->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE)
        return static_cast<double>(context->duration) / AV_TIME_BASE;
    return -1;
}

std::string AudioSource::tag(const char *key) const
{
    const AVFormatContext *context = decoder->format.get();
    for (const AVDictionary *tags :
         {static_cast<const AVDictionary *>(context->metadata),
          static_cast<const AVDictionary *>(context->streams[decoder->stream]->metadata)}) {
        // Keys match whatever their case ("TITLE" in Vorbis comments).
        if (const AVDictionaryEntry *entry = av_dict_get(tags, key, nullptr, 0))
            return entry->value;
    }
    return std::string();
}

} // namespace vokid
