// What `vokid add` takes in: a file named on the command line, recognised
// by its absolute path, size and modification time, and turned into a
// track: audio is decoded and fingerprinted (Stream1), a fingerprint
// document is read as it is.
#ifndef VOKID_SEARCH_TRACK_SOURCE_H
#define VOKID_SEARCH_TRACK_SOURCE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vokid/index/track_info.h"
#include "vokid/index/track_print.h"

namespace vokid {

struct TrackFile {
    std::string path; // absolute, links resolved; for standard input, the name given
    uint64_t size = 0;
    int64_t modified = 0; // nanoseconds since 1970; 0 for standard input
    bool standardInput = false;
};

// Standard input as a track file called `name`: never the same file as
// before, so that adding it again replaces the track.
TrackFile standardInputFile(const std::string &name);

// Throws InputError ("no such file", "a folder, not a file", ...).
TrackFile trackFile(const std::string &name);

// The absolute form of a name, for finding a track that was added under
// it: resolved when the file still exists, else made absolute as written.
std::string absolutePath(const std::string &name);

// The files under a folder, in the order of their paths: hidden files and
// folders (names starting with '.') left out, links to folders not
// followed, links to files taken. Throws InputError when the folder cannot
// be read.
std::vector<std::string> filesInFolder(const std::string &folder);

// Whether the name is a folder (or a link to one).
bool isFolder(const std::string &name);

// The sub-fingerprints of a track that are not quiet frames; a track with
// fewer than kLeastUsableFrames (one block's worth, 3 s) has no usable
// audio and is not indexed.
constexpr size_t kLeastUsableFrames = 256;
size_t usableFrames(const TrackPrint &print);

struct Indexable {
    TrackInfo info; // id 0
    TrackPrint print;
};

// Throws InputError, DecodeError or IndexError with the cause. A track
// read from audio has the FileFloat values of its beginning (made from the
// audio decoded for its print), unless it holds too little sound for them.
Indexable readTrack(const TrackFile &file);

// 30 values of 0 to 65535 as a track keeps them; nothing for any others.
std::optional<FileValues> fileValuesOf(const std::vector<uint32_t> &values);

// The FileFloat values of a file's beginning, decoded for them alone (its
// first fourteen seconds of sound), for a track that has none. Throws
// InputError as readTrack does.
std::optional<FileValues> valuesOfFile(const std::string &path);

} // namespace vokid

#endif
