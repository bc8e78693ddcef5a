// FFmpeg's error codes in plain words.
#ifndef VOKID_INPUT_FFMPEG_ERROR_H
#define VOKID_INPUT_FFMPEG_ERROR_H

#include <string>

namespace vokid {

// The cause for an error code of FFmpeg's libraries (AVERROR...).
std::string ffmpegCause(int error);

} // namespace vokid

#endif
