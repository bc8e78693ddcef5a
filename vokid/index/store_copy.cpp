#include "vokid/index/store_copy.h"

#include <optional>
#include <string>
#include <vector>

#include "vokid/index/index_error.h"
#include "vokid/index/postings.h"

namespace vokid {

namespace {

std::string named(const TrackInfo &track)
{
    return "track " + std::to_string(track.id) + " (" + track.path + ")";
}

bool sameFile(const TrackInfo &a, const TrackInfo &b)
{
    return a.path == b.path && a.fileSize == b.fileSize && a.modified == b.modified;
}

} // namespace

void copyStore(IndexStore &from, IndexStore &to, size_t perBatch,
               const std::function<void(uint64_t done, uint64_t total)> &step,
               StoreCopyReport &report)
{
    const std::unique_ptr<IndexView> source = from.view();
    const std::vector<TrackInfo> tracks = source->tracks();
    std::unique_ptr<IndexBatch> batch = to.batch();
    size_t inBatch = 0;
    const auto commit = [&] {
        batch->commit();
        report.copied += inBatch;
        inBatch = 0;
    };
    for (size_t i = 0; i < tracks.size(); ++i) {
        const TrackInfo &track = tracks[i];
        if (const std::optional<TrackInfo> there = batch->track(track.id)) {
            if (!sameFile(*there, track))
                throw IndexError("the destination holds another file under the id of " +
                                 named(track) + ": " + there->path);
            ++report.present;
        } else {
            const std::optional<TrackPrint> print = source->print(track.id);
            if (!print)
                throw IndexDamaged(named(track) + " has no print");
            const uint32_t id = batch->put(track, *print, postingsOf(*print, to.step()));
            if (id != track.id)
                throw IndexError("the destination holds the file of " + named(track) +
                                 " under another id");
            ++inBatch;
        }
        if (inBatch >= perBatch) {
            commit();
            batch = to.batch();
        }
        if (step && (i % 64 == 63 || i + 1 == tracks.size()))
            step(i + 1, tracks.size());
    }
    commit();
}

} // namespace vokid
