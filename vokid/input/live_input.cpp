#include "vokid/input/live_input.h"

#include <mutex>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#ifdef VOKID_HAVE_AVDEVICE
#include <libavdevice/avdevice.h>
#endif
}

#include "vokid/input/input_error.h"

namespace vokid {

namespace {

// A network read that gets nothing for this long fails, so that a stream
// that stalls is retried like one that drops: 10 s, in microseconds.
constexpr const char *kStallMicroseconds = "10000000";

std::string layoutOf(uint32_t channels)
{
    if (channels == 1)
        return "mono";
    if (channels == 2)
        return "stereo";
    return std::to_string(channels) + "c";
}

} // namespace

bool readsDevices()
{
#ifdef VOKID_HAVE_AVDEVICE
    return true;
#else
    return false;
#endif
}

const AVInputFormat *inputFormat(const AudioInput &input)
{
    if (input.format.empty())
        return nullptr;
#ifdef VOKID_HAVE_AVDEVICE
    static std::once_flag registered;
    std::call_once(registered, [] { avdevice_register_all(); });
#endif
    const AVInputFormat *found = av_find_input_format(input.format.c_str());
    if (found)
        return found;
    std::string cause = "FFmpeg has no input format '" + input.format + "'";
    if (!readsDevices())
        cause += " (this vokid was built without libavdevice, which reads sound cards)";
    throw InputError(cause);
}

void openingOptions(const AudioInput &input, AVDictionary **options)
{
    if (input.url) {
        av_dict_set(options, "rw_timeout", kStallMicroseconds, 0);
    } else {
        // Containers that refer to other files (playlists, concatenation
        // lists) may open local files only: no network, no devices.
        av_dict_set(options, "protocol_whitelist", "file", 0);
    }
    if (input.follow) {
        // A WAVE header written before its data states a size of 0, of
        // 0xFFFFFFFF or of what there was then: all of it is read.
        av_dict_set(options, "ignore_length", "1", 0);
    }
    if (input.rawRate > 0) {
        av_dict_set(options, "sample_rate", std::to_string(input.rawRate).c_str(), 0);
        av_dict_set(options, "ch_layout", layoutOf(input.rawChannels).c_str(), 0);
    }
}

} // namespace vokid
