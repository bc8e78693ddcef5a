// `vokid prune DB`: tracks whose file is gone taken out of the index; with
// --changed also those whose file's size or time changed; with --dry-run
// only told. Tracks that did not come from an audio file the index can
// look at again are left alone: from standard input (a name, not an
// absolute path, and no time), over a network (a URL), or from a
// fingerprint document (a Stream4 print, a file that holds documents, or
// a gone file named *.xml).
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <optional>

#include "vokid/cli/command_support.h"
#include "vokid/cli/exit_codes.h"
#include "vokid/cli/index_commands.h"
#include "vokid/cli/json_text.h"
#include "vokid/document/document.h"
#include "vokid/index/index_error.h"

namespace vokid {

namespace {

bool endsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The first bytes of a file, to tell documents from audio.
std::string startOf(const std::string &path)
{
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file)
        return std::string();
    char bytes[4096];
    const size_t got = std::fread(bytes, 1, sizeof bytes, file);
    std::fclose(file);
    return std::string(bytes, got);
}

// Why the track goes ("gone", "changed"), or nothing when it stays.
std::optional<std::string> pruned(const TrackInfo &track, bool changed, Console &console)
{
    if (track.path.empty() || track.path[0] != '/' || track.modified == 0 ||
        track.algorithm != "Stream1")
        return std::nullopt;
    struct stat status;
    if (stat(track.path.c_str(), &status) != 0) {
        if (errno != ENOENT && errno != ENOTDIR) {
            console.failure(track.path, "cannot be checked, kept");
            return std::nullopt;
        }
        return endsWith(track.path, ".xml") ? std::nullopt : std::optional<std::string>("gone");
    }
    const int64_t modified =
        int64_t{status.st_mtim.tv_sec} * 1000000000 + status.st_mtim.tv_nsec;
    if (!changed || track.unchanged(static_cast<uint64_t>(status.st_size), modified) ||
        looksLikeDocuments(startOf(track.path)))
        return std::nullopt;
    return std::string("changed");
}

} // namespace

int runPrune(const IndexOptions &options, Console &console)
{
    const std::unique_ptr<IndexStore> store = openReporting(
        options.db, options.dryRun ? StoreAccess::Read : StoreAccess::Update, console);
    if (!store)
        return kExitFailure;
    try {
        std::vector<std::string> lines;
        size_t kept = 0;
        // A batch reads what it changes; a dry run only reads.
        const std::unique_ptr<IndexBatch> batch = options.dryRun ? nullptr : store->batch();
        const std::unique_ptr<IndexView> view = batch ? nullptr : store->view();
        for (const TrackInfo &track : (batch ? *batch : *view).tracks()) {
            const std::optional<std::string> why = pruned(track, options.changed, console);
            if (!why) {
                ++kept;
                continue;
            }
            if (batch)
                batch->remove(track.id);
            lines.push_back((options.dryRun ? "would remove track " : "removed track ") +
                            std::to_string(track.id) + " (" + *why + "): " +
                            shownText(track.path) + "\n");
        }
        if (batch)
            batch->commit();
        for (const std::string &line : lines)
            console.write(line);
        console.write(std::to_string(lines.size()) +
                      (options.dryRun ? " would be removed, " : " removed, ") +
                      std::to_string(kept) + " kept\n");
    } catch (const IndexError &error) {
        console.failure(options.db, error.what());
        return kExitFailure;
    }
    return kExitSuccess;
}

} // namespace vokid
