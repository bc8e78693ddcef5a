#include "vokid/input/live_input.h"

#include <dlfcn.h>

#include <mutex>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#ifdef VOKID_HAVE_AVDEVICE
#include <libavdevice/version.h>
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

#ifdef VOKID_HAVE_AVDEVICE
#define VOKID_STRING(x) #x
#define VOKID_SONAME(major) "libavdevice.so." VOKID_STRING(major)

// libavdevice is loaded when a format FFmpeg's own does not have is asked
// for: linked in, its sound, video and screen libraries (80 of them) took
// every vokid process 60 ms to load, twice what identifying a clip takes.
bool loadDevices()
{
    static std::once_flag loaded;
    static bool registered = false;
    std::call_once(loaded, [] {
        // Kept for the process's life: the formats it registers point into it.
        void *library = dlopen(VOKID_SONAME(LIBAVDEVICE_VERSION_MAJOR), RTLD_NOW | RTLD_GLOBAL);
        if (!library)
            return;
        using Register = void (*)();
        const auto registerAll = reinterpret_cast<Register>(dlsym(library, "avdevice_register_all"));
        if (registerAll) {
            registerAll();
            registered = true;
        }
    });
    return registered;
}
#else
bool loadDevices()
{
    return false;
}
#endif

} // namespace

const AVInputFormat *inputFormat(const AudioInput &input)
{
    if (input.format.empty())
        return nullptr;
    const AVInputFormat *found = av_find_input_format(input.format.c_str());
    if (!found && loadDevices())
        found = av_find_input_format(input.format.c_str());
    if (found)
        return found;
    std::string cause = "FFmpeg has no input format '" + input.format + "'";
    if (!loadDevices())
        cause += " (libavdevice, which reads sound cards, could not be loaded)";
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
