// What the index knows about a track besides its fingerprint: where it
// came from (to recognise the same file when it is added again), its tags,
// and its sizes; and the stored form of that record.
#ifndef VOKID_INDEX_TRACK_INFO_H
#define VOKID_INDEX_TRACK_INFO_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "vokid/index/stored_form.h"

namespace vokid {

// The values of a FileFloat fingerprint of the beginning of a track's file
// (its first fourteen seconds of sound), as a FileFloat document writes
// them: 30 band statistics, each 0 to 65535.
constexpr size_t kFileValueCount = 30;
using FileValues = std::array<uint16_t, kFileValueCount>;

struct TrackInfo {
    uint32_t id = 0;
    std::string path;  // absolute
    std::string title; // from the file's tags; empty when it has none
    std::string artist;
    std::string album;
    std::string algorithm; // "Stream1" or "Stream4"
    double duration = 0;   // seconds of audio
    uint64_t fileSize = 0;
    int64_t modified = 0;  // the file's modification time, nanoseconds since 1970
    uint32_t words = 0;    // sub-fingerprints stored
    uint32_t postings = 0; // of them, indexed
    // Of the file's beginning; none for a track added from a streaming
    // document, from audio too short for them, or converted from format 1
    // or 2 (until vokid upgrade gives it them).
    std::optional<FileValues> values;

    // The same file as when it was added: same size, same time.
    bool unchanged(uint64_t size, int64_t modifiedNs) const
    {
        return fileSize == size && modified == modifiedNs;
    }
};

// The stored form (format version 3, stored_form.h): the fields of
// version 2 (file size and time, duration, counts, then algorithm, path,
// title and artist, each a 32-bit length and its bytes), the album as a
// text, the count of values (one byte: 0 or 30) and the values (16 bits
// each), then the CRC-32 of the id and all the fields. The id is the
// record's key and is not part of the fields. Versions 1 and 2 end after
// the artist (1 without the checksum); their tracks read with no album and
// no values.
std::string encodeTrack(const TrackInfo &track);
// Reads the form of format version `form` (1 has no checksum). Throws
// IndexError ("the index is damaged: track 7: ...") for bytes that are
// not exactly such a form of this id.
TrackInfo decodeTrack(uint32_t id, std::string_view bytes, uint32_t form = kStoredForm);

} // namespace vokid

#endif
