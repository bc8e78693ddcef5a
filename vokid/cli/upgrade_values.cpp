#include "vokid/cli/upgrade_values.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "vokid/cli/ordered_parallel.h"
#include "vokid/document/document.h"
#include "vokid/search/track_source.h"

namespace vokid {

namespace {

using Clock = std::chrono::steady_clock;

// A batch is committed after this many tracks, or once open this long.
constexpr size_t kBatchTracks = 64;
constexpr auto kBatchTime = std::chrono::seconds(10);

// The file's size and time now; nothing when it cannot be looked at.
std::optional<TrackFile> fileNow(const std::string &path)
{
    struct stat status;
    if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    TrackFile file;
    file.path = path;
    file.size = static_cast<uint64_t>(status.st_size);
    file.modified = int64_t{status.st_mtim.tv_sec} * 1000000000 + status.st_mtim.tv_nsec;
    return file;
}

bool holdsDocuments(const std::string &path)
{
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file)
        return true; // cannot be read: no audio to take values from
    char bytes[4096];
    const size_t got = std::fread(bytes, 1, sizeof bytes, file);
    std::fclose(file);
    return looksLikeDocuments(std::string_view(bytes, got));
}

// The values of the track's file, when it is the file the track was made
// of (same size and time, before and after the decoding) and holds audio
// with enough sound; tracks from standard input (no absolute path, no
// time) have none to read.
std::optional<FileValues> valuesNow(const TrackInfo &track)
{
    if (track.path.empty() || track.path[0] != '/' || track.modified == 0)
        return std::nullopt;
    const std::optional<TrackFile> before = fileNow(track.path);
    if (!before || !track.unchanged(before->size, before->modified) ||
        holdsDocuments(track.path))
        return std::nullopt;
    std::optional<FileValues> values;
    try {
        values = valuesOfFile(track.path);
    } catch (const std::exception &) {
        return std::nullopt; // not audio that decodes, or too little sound
    }
    const std::optional<TrackFile> after = fileNow(track.path);
    if (!after || !track.unchanged(after->size, after->modified))
        return std::nullopt;
    return values;
}

// The one writer: values into a batch, committed now and then. A track
// replaced or given values by another process meanwhile is left as it is.
class ValuesWriter {
public:
    explicit ValuesWriter(IndexStore &indexStore) : store(indexStore) {}

    bool take(const TrackInfo &track, const FileValues &values)
    {
        if (!batch) {
            batch = store.batch();
            opened = Clock::now();
        }
        const std::optional<TrackInfo> now = batch->track(track.id);
        if (!now || now->values || !now->unchanged(track.fileSize, track.modified) ||
            now->path != track.path)
            return false;
        batch->setValues(track.id, values);
        if (++inBatch >= kBatchTracks || Clock::now() - opened >= kBatchTime)
            commit();
        return true;
    }

    void commit()
    {
        if (batch)
            batch->commit();
        batch.reset();
        inBatch = 0;
    }

private:
    IndexStore &store;
    std::unique_ptr<IndexBatch> batch;
    size_t inBatch = 0;
    Clock::time_point opened;
};

} // namespace

ValuesTally giveMissingValues(IndexStore &store, unsigned jobs,
                              const std::function<void(size_t, size_t)> &progress)
{
    std::vector<TrackInfo> lacking;
    for (TrackInfo &track : store.view()->tracks())
        if (!track.values)
            lacking.push_back(std::move(track));
    ValuesTally tally;
    ValuesWriter writer(store);
    size_t done = 0;
    if (progress)
        progress(0, lacking.size());
    runInOrder<std::optional<FileValues>>(
        lacking.size(), jobs, [&](size_t i) { return valuesNow(lacking[i]); },
        [&](size_t i, std::optional<FileValues> values) {
            const bool given = values && writer.take(lacking[i], *values);
            ++(given ? tally.given : tally.without);
            if (progress)
                progress(++done, lacking.size());
        });
    writer.commit();
    return tally;
}

} // namespace vokid
