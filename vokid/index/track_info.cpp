#include "vokid/index/track_info.h"

#include <cmath>

#include "vokid/index/bytes.h"
#include "vokid/index/index_error.h"

namespace vokid {

namespace {

constexpr size_t kCrcBytes = 4;

// Version 3's album and values, after the fields of version 2.
void readAdded(ByteReader &in, TrackInfo &track)
{
    track.album = in.text();
    const uint8_t count = in.u8();
    if (count == 0)
        return;
    if (count != kFileValueCount)
        throw IndexError("its record has " + std::to_string(count) + " file values, not " +
                         std::to_string(kFileValueCount));
    FileValues values{};
    for (uint16_t &value : values)
        value = in.u16();
    track.values = values;
}

TrackInfo readFields(uint32_t id, std::string_view bytes, uint32_t form)
{
    ByteReader in(bytes, "its record");
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
    if (form >= 3)
        readAdded(in, track);
    in.end();
    if (!std::isfinite(track.duration) || track.duration < 0)
        throw IndexError("its record has no valid duration");
    if (track.postings > track.words)
        throw IndexError("its record has more postings than sub-fingerprints");
    return track;
}

// The fields of a form of version 2 or 3, once its checksum matches.
std::string_view checkedFields(uint32_t id, std::string_view bytes)
{
    if (bytes.size() < kCrcBytes)
        throw IndexError("its record is cut short");
    const std::string_view fields = bytes.substr(0, bytes.size() - kCrcBytes);
    ByteReader stored(bytes.substr(fields.size()), "its record");
    if (stored.u32() != recordCrc(id, fields))
        throw IndexError("its record fails its checksum");
    return fields;
}

} // namespace

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
    out.text(track.album);
    out.u8(track.values ? static_cast<uint8_t>(kFileValueCount) : 0);
    if (track.values)
        for (uint16_t value : *track.values)
            out.u16(value);
    out.u32(recordCrc(track.id, out.data()));
    return std::move(out.data());
}

TrackInfo decodeTrack(uint32_t id, std::string_view bytes, uint32_t form)
{
    try {
        return readFields(id, form >= 2 ? checkedFields(id, bytes) : bytes, form);
    } catch (const IndexError &error) {
        throw damaged("track " + std::to_string(id) + ": " + error.what());
    }
}

} // namespace vokid
