// What the index knows about a track besides its fingerprint: where it
// came from (to recognise the same file when it is added again), its tags,
// and its sizes; and the stored form of that record.
#ifndef VOKID_INDEX_TRACK_INFO_H
#define VOKID_INDEX_TRACK_INFO_H

#include <cstdint>
#include <string>
#include <string_view>

namespace vokid {

struct TrackInfo {
    uint32_t id = 0;
    std::string path;  // absolute
    std::string title; // from the file's tags; empty when it has none
    std::string artist;
    std::string algorithm; // "Stream1" or "Stream4"
    double duration = 0;   // seconds of audio
    uint64_t fileSize = 0;
    int64_t modified = 0;  // the file's modification time, nanoseconds since 1970
    uint32_t words = 0;    // sub-fingerprints stored
    uint32_t postings = 0; // of them, indexed

    // The same file as when it was added: same size, same time.
    bool unchanged(uint64_t size, int64_t modifiedNs) const
    {
        return fileSize == size && modified == modifiedNs;
    }
};

// The id is the record's key and is not part of the form.
std::string encodeTrack(const TrackInfo &track);
// Throws IndexError for bytes that are not exactly such a form.
TrackInfo decodeTrack(uint32_t id, std::string_view bytes);

} // namespace vokid

#endif
