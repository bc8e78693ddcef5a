#include "vokid/index/track_info.h"

#include <cmath>

#include "vokid/index/bytes.h"
#include "vokid/index/index_error.h"

namespace vokid {

std::string encodeTrack(const TrackInfo &track)
{
    ByteWriter out;
    out.u64(track.fileSize);
    out.u64(static_cast<uint64_t>(track.modified));
    out.f64(track.duration);
    out.u32(track.words);
    out.u32(track.postings);
    out.text(track.algorithm);
    out.text(track.path);
    out.text(track.title);
    out.text(track.artist);
    return std::move(out.data());
}

TrackInfo decodeTrack(uint32_t id, std::string_view bytes)
{
    ByteReader in(bytes, "a track record");
    TrackInfo track;
    track.id = id;
    track.fileSize = in.u64();
    track.modified = static_cast<int64_t>(in.u64());
    track.duration = in.f64();
    track.words = in.u32();
    track.postings = in.u32();
    track.algorithm = in.text();
    track.path = in.text();
    track.title = in.text();
    track.artist = in.text();
    in.end();
    if (!std::isfinite(track.duration) || track.duration < 0)
        throw IndexError("a track record has no valid duration");
    if (track.postings > track.words)
        throw IndexError("a track record has more postings than sub-fingerprints");
    return track;
}

} // namespace vokid
