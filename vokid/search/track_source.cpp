#include "vokid/search/track_source.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "vokid/document/document_reader.h"
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

// Where the audio of a document lasted: its sub-fingerprints plus the
// first frame (2048 samples at 5512.5 Hz) and the one that primed the
// analysis.
double documentSeconds(size_t words)
{
    return static_cast<double>(words + 1) * kFrameSeconds + 2048.0 / 5512.5;
}

} // namespace

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

Indexable readTrack(const TrackFile &file)
{
    Indexable track;
    track.info.path = file.path;
    track.info.fileSize = file.size;
    track.info.modified = file.modified;
    RecognisedInput input = recogniseInput(file.path);
    if (input.audio) {
        const Fingerprint made = fingerprint(*input.audio, {Algorithm::Stream1, 0});
        const Document document = readDocuments(made.xml).front();
        track.print = TrackPrint::of(document);
        track.info.algorithm = algorithmName(made.algorithm);
        track.info.duration = made.duration;
        track.info.title = made.title;
        track.info.artist = made.artist;
        return track;
    }
    if (input.documents.size() != 1)
        throw InputError("holds " + std::to_string(input.documents.size()) +
                         " fingerprint documents; a track is one");
    const Document &document = input.documents.front();
    track.print = TrackPrint::of(document);
    track.info.algorithm = document.variant == "Stream4" ? "Stream4" : "Stream1";
    track.info.duration = documentSeconds(track.print.size());
    return track;
}

} // namespace vokid
