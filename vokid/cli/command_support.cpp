#include "vokid/cli/command_support.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <thread>

#include "vokid/cli/json_text.h"
#include "vokid/index/index_error.h"
#include "vokid/index/open_store.h"

namespace vokid {

std::unique_ptr<IndexStore> openReporting(const std::string &db, StoreAccess access,
                                          Console &console)
{
    try {
        return openStore(db, access);
    } catch (const IndexError &error) {
        console.failure(db, error.what());
        return nullptr;
    }
}

unsigned cores()
{
    return std::max(1u, std::thread::hardware_concurrency());
}

std::string seconds3(double seconds)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

std::string clockTime(double seconds)
{
    const auto tenths = static_cast<long long>(std::llround(std::max(0.0, seconds) * 10));
    const long long hours = tenths / 36000, minutes = tenths / 600 % 60;
    const double rest = static_cast<double>(tenths % 600) / 10;
    char text[48];
    if (hours > 0)
        std::snprintf(text, sizeof text, "%lld:%02lld:%04.1f", hours, minutes, rest);
    else
        std::snprintf(text, sizeof text, "%lld:%04.1f", minutes, rest);
    return text;
}

std::string tagsOf(const TrackInfo &track)
{
    if (!track.artist.empty() && !track.title.empty())
        return shownText(track.artist) + " - " + shownText(track.title);
    return shownText(track.title.empty() ? track.artist : track.title);
}

std::string describeTrack(const TrackInfo &track)
{
    const std::string tags = tagsOf(track);
    const std::string path = shownText(track.path);
    return tags.empty() ? path : path + " (" + tags + ")";
}

nlohmann::ordered_json trackJson(const TrackInfo &track)
{
    const auto orNull = [](const std::string &text) {
        return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text);
    };
    return {{"track", track.id},
            {"path", track.path},
            {"title", orNull(track.title)},
            {"artist", orNull(track.artist)}};
}

double rounded4(double value)
{
    return std::round(value * 1e4) / 1e4;
}

} // namespace vokid
