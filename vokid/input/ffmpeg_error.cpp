#include "vokid/input/ffmpeg_error.h"

#include <cctype>
#include <cerrno>

extern "C" {
#include <libavutil/error.h>
}

namespace vokid {

std::string ffmpegCause(int error)
{
    switch (error) {
    case AVERROR(ENOENT):
        return "no such file";
    case AVERROR(EACCES):
    case AVERROR(EPERM):
        return "permission denied";
    case AVERROR(EISDIR):
        return "a folder, not a file";
    case AVERROR(ENOMEM):
        return "out of memory";
    case AVERROR(EIO):
        return "read error";
    case AVERROR_INVALIDDATA:
        return "not audio in any format FFmpeg can read";
    case AVERROR_EOF:
        return "no audio in it";
    case AVERROR_DECODER_NOT_FOUND:
        return "FFmpeg has no decoder for its audio";
    case AVERROR_DEMUXER_NOT_FOUND:
        return "FFmpeg cannot read this container";
    case AVERROR_STREAM_NOT_FOUND:
        return "no audio stream in it";
    case AVERROR_PATCHWELCOME:
        return "a feature FFmpeg does not support";
    default:
        break;
    }
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    std::string cause(text);
    if (!cause.empty())
        cause[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(cause[0])));
    return cause;
}

} // namespace vokid
