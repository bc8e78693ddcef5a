#include "vokid/search/track_source.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "vokid/fingerprint/recognised_input.h"
#include "vokid/index/index_error.h"
#include "vokid/input/input_error.h"
#include "vokid/support/system_cause.h"

namespace vokid {

namespace {

std::string currentFolder()
{
    std::unique_ptr<char, decltype(&std::free)> cwd(getcwd(nullptr, 0), &std::free);
    return cwd ? std::string(cwd.get()) : std::string();
}

// "a/./b/../c" as "a/c", without touching the file system.
std::string lexicallyNormal(const std::string &path)
{
    std::vector<std::string> parts;
    size_t at = 0;
    while (at <= path.size()) {
        const size_t slash = std::min(path.find('/', at), path.size());
        const std::string part = path.substr(at, slash - at);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = slash + 1;
    }
    std::string normal;
    for (const std::string &part : parts)
        normal += "/" + part;
    return normal.empty() ? "/" : normal;
}

// About where the audio of a document lasted: a hop past its last
// sub-fingerprint (the audio after its last whole block is not in it).
double documentSeconds(const Document &document)
{
    const StreamGrid &grid = streamGrid(document.algorithm);
    return grid.firstOffsetSeconds + static_cast<double>(document.frames.size()) * grid.frameSeconds;
}

Indexable fromAudio(const AudioInput &audio, Indexable track)
{
    const Fingerprint made = fingerprint(audio, {Algorithm::Stream1, 0, false, true, true});
    track.print = TrackPrint::of(made.frames);
    track.info.algorithm = algorithmName(made.algorithm);
    track.info.duration = made.duration;
    track.info.title = made.title;
    track.info.artist = made.artist;
    track.info.album = made.album;
    track.info.values = fileValuesOf(made.fileValues);
    return track;
}

Indexable fromDocument(const Document &document, Indexable track)
{
    if (document.family != Family::Streaming)
        throw IndexError("a spectral fingerprint cannot be indexed (only Stream1 and Stream4)");
    // TrackPrint::of refuses six-second blocks and an empty print.
    track.print = TrackPrint::of(document.frames);
    const std::optional<Algorithm> algorithm = algorithmOfEngineId(document.algorithm);
    if (!algorithm)
        throw IndexError("the fingerprint's algorithm cannot be indexed");
    track.info.algorithm = algorithmName(*algorithm);
    track.info.duration = documentSeconds(document);
    return track;
}

} // namespace

std::optional<FileValues> fileValuesOf(const std::vector<uint32_t> &values)
{
    if (values.size() != kFileValueCount)
        return std::nullopt;
    FileValues out{};
    for (size_t i = 0; i < kFileValueCount; ++i) {
        if (values[i] > 0xFFFFu)
            return std::nullopt;
        out[i] = static_cast<uint16_t>(values[i]);
    }
    return out;
}

std::optional<FileValues> valuesOfFile(const std::string &path)
{
    const Fingerprint made = fingerprint(AudioInput::named(path), {Algorithm::FileFloat});
    return fileValuesOf(made.values);
}

std::string absolutePath(const std::string &name)
{
    char resolved[PATH_MAX];
    if (realpath(name.c_str(), resolved))
        return resolved;
    return lexicallyNormal(name.empty() || name[0] == '/' ? name : currentFolder() + "/" + name);
}

TrackFile trackFile(const std::string &name)
{
    struct stat status;
    if (stat(name.c_str(), &status) != 0)
        throw InputError(systemCause(errno));
    if (S_ISDIR(status.st_mode))
        throw InputError("a folder, not a file");
    char resolved[PATH_MAX];
    if (!realpath(name.c_str(), resolved))
        throw InputError(systemCause(errno));
    TrackFile file;
    file.path = resolved;
    file.size = static_cast<uint64_t>(status.st_size);
    file.modified = int64_t{status.st_mtim.tv_sec} * 1000000000 + status.st_mtim.tv_nsec;
    return file;
}

std::vector<std::string> filesInFolder(const std::string &folder)
{
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    std::error_code error;
    fs::recursive_directory_iterator walk(folder, fs::directory_options::skip_permission_denied,
                                          error);
    for (; !error && walk != fs::recursive_directory_iterator(); walk.increment(error)) {
        const fs::directory_entry &entry = *walk;
        std::error_code ignored;
        const bool hidden = entry.path().filename().string().front() == '.';
        // The walk itself never goes through a link to a folder.
        if (hidden && entry.is_directory(ignored) && !entry.is_symlink(ignored))
            walk.disable_recursion_pending();
        if (!hidden && entry.is_regular_file(ignored))
            files.push_back(entry.path().string());
    }
    if (error)
        throw InputError(systemCause(error.value()));
    std::sort(files.begin(), files.end());
    return files;
}

bool isFolder(const std::string &name)
{
    struct stat status;
    return name != "-" && stat(name.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

size_t usableFrames(const TrackPrint &print)
{
    return static_cast<size_t>(std::count(print.quiet.begin(), print.quiet.end(), 0));
}

TrackFile standardInputFile(const std::string &name)
{
    TrackFile file;
    file.path = name;
    file.standardInput = true;
    return file;
}

Indexable readTrack(const TrackFile &file)
{
    Indexable track;
    track.info.path = file.path;
    track.info.fileSize = file.size;
    track.info.modified = file.modified;
    RecognisedInput input = recogniseInput(file.standardInput ? "-" : file.path);
    if (input.audio)
        return fromAudio(*input.audio, std::move(track));
    if (input.documents.size() != 1)
        throw InputError("holds " + std::to_string(input.documents.size()) +
                         " fingerprint documents; a track is one");
    return fromDocument(input.documents.front(), std::move(track));
}

} // namespace vokid
