#include "vokid/cli/command_support.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <thread>

#include "vokid/cli/json_text.h"
#include "vokid/index/index_error.h"
#include "vokid/index/open_store.h"
#include "vokid/index/postgres/pg_schema.h"
#include "vokid/index/stored_form.h"

namespace vokid {

CopyProgress progressOn(Console &console, const std::string &db, const char *work)
{
    CopyProgress progress;
    progress.step = [&console, work](uint64_t done, uint64_t total) {
        const unsigned percent =
            total == 0 ? 100u : static_cast<unsigned>(done * 100 / std::max<uint64_t>(total, 1));
        console.status(std::string(work) + ": " + std::to_string(percent) + "% of " +
                       std::to_string(total) + " records");
    };
    progress.waiting = [&console, db] {
        console.failure(db, "waiting for another process that writes to the index");
    };
    return progress;
}

namespace {

// The first write to an index of an older format converts it, as vokid
// upgrade does (atomically: an interruption leaves the old index).
std::unique_ptr<IndexStore> openUpgraded(const std::string &db, StoreAccess access,
                                         Console &console)
{
    const bool tables = isPostgresLocation(db);
    console.failure(db, "converting the index" + std::string(tables ? "'s tables" : "") + " to " +
                            (tables ? "schema version " + std::to_string(kSchemaVersion)
                                    : "format version " + std::to_string(kStoredForm)) +
                            " before writing to it");
    upgradeIndex(db, progressOn(console, db, "upgrade"));
    console.clearStatus();
    return openStore(db, access);
}

} // namespace

std::unique_ptr<IndexStore> openReporting(const std::string &db, StoreAccess access,
                                          Console &console, uint32_t step)
{
    try {
        try {
            return openStore(db, access, step);
        } catch (const OlderFormat &) {
            if (access == StoreAccess::Read)
                throw;
            return openUpgraded(db, access, console);
        }
    } catch (const IndexError &error) {
        console.clearStatus();
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

std::string paceText(double speed, double tempo)
{
    const auto percent = [](double factor) {
        return std::to_string(std::llround(std::abs(factor - 1) * 100)) + "% ";
    };
    if (speed != 1)
        return ", played " + percent(speed) + (speed > 1 ? "fast" : "slow");
    if (tempo != 1)
        return ", tempo " + percent(tempo) + (tempo > 1 ? "faster" : "slower");
    return "";
}

std::string megabytes(uint64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
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

// "Artist - Title [Album]", each part only when the track has it.
std::string tagsOf(const TrackInfo &track)
{
    std::string tags = !track.artist.empty() && !track.title.empty()
                           ? shownText(track.artist) + " - " + shownText(track.title)
                           : shownText(track.title.empty() ? track.artist : track.title);
    if (track.album.empty())
        return tags;
    return (tags.empty() ? "" : tags + " ") + "[" + shownText(track.album) + "]";
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
    nlohmann::ordered_json object = {{"track", track.id},
                                     {"path", track.path},
                                     {"title", orNull(track.title)},
                                     {"artist", orNull(track.artist)}};
    if (!track.album.empty())
        object["album"] = track.album;
    return object;
}

double rounded4(double value)
{
    return std::round(value * 1e4) / 1e4;
}

} // namespace vokid
