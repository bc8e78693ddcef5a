#include "vokid/index/track_print.h"

#include <algorithm>
#include <stdexcept>

#include "vokid/index/bytes.h"
#include "vokid/index/index_error.h"

namespace vokid {

namespace {

constexpr size_t kCountBytes = 4;
constexpr size_t kCrcBytes = 4;

size_t maskCount(size_t words)
{
    return words / kBlockWords * kKeptMasks;
}

size_t quietBytes(size_t words)
{
    return (words + 7) / 8;
}

// Without the checksum.
size_t formBytes(size_t words)
{
    return kCountBytes + 4 * words + 4 * maskCount(words) + quietBytes(words);
}

uint32_t readU32(std::string_view bytes, size_t offset)
{
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value |= uint32_t{static_cast<uint8_t>(bytes[offset + i])} << (8 * i);
    return value;
}

// The form without its checksum, once the checksum (version 2) matches
// (or is known to match).
std::string_view checkedForm(std::string_view bytes, uint32_t id, uint32_t form, bool known)
{
    if (form < 2)
        return bytes;
    if (bytes.size() < kCountBytes + kCrcBytes)
        throw IndexError("its sequence is cut short");
    const std::string_view fields = bytes.substr(0, bytes.size() - kCrcBytes);
    if (!known && readU32(bytes, fields.size()) != recordCrc(id, fields))
        throw IndexError("its sequence fails its checksum");
    return fields;
}

} // namespace

double indexFrameSeconds()
{
    return streamGrid(ENG_ALG_STREAM1).frameSeconds;
}

TrackPrint TrackPrint::of(const SubFingerprints &frames)
{
    if (frames.blockLength != streamGrid(ENG_ALG_STREAM1).blockLength)
        throw IndexError("six-second blocks cannot be indexed (only Stream1 and Stream4)");
    if (frames.words.empty())
        throw IndexError("the fingerprint has no blocks");
    if (frames.size() % kBlockWords != 0)
        throw std::invalid_argument("a track's print must hold whole blocks");
    TrackPrint print;
    print.words = frames.words;
    print.quiet = frames.quiet;
    for (size_t block = 0; block < frames.size(); block += kBlockWords)
        for (size_t k = 0; k < kKeptMasks; ++k)
            print.masks.push_back(frames.weak[block + k * ENG_MASK_STRIDE]);
    return print;
}

SubFingerprints TrackPrint::subFingerprints() const
{
    SubFingerprints out;
    out.words = words;
    out.quiet = quiet;
    out.weak.resize(words.size());
    for (size_t i = 0; i < words.size(); ++i)
        out.weak[i] = weak(i);
    out.frameSeconds = indexFrameSeconds();
    out.blockLength = streamGrid(ENG_ALG_STREAM1).blockLength;
    return out;
}

std::string encodeSequence(const TrackPrint &print, uint32_t id)
{
    ByteWriter out;
    out.data().reserve(formBytes(print.size()));
    out.u32(static_cast<uint32_t>(print.size()));
    for (uint32_t word : print.words)
        out.u32(word);
    for (uint32_t mask : print.masks)
        out.u32(mask);
    std::string quiet(quietBytes(print.size()), '\0');
    for (size_t i = 0; i < print.size(); ++i)
        if (print.quiet[i])
            quiet[i / 8] = static_cast<char>(quiet[i / 8] | 1 << (i % 8));
    out.data() += quiet;
    out.u32(recordCrc(id, out.data()));
    return std::move(out.data());
}

SequenceView::SequenceView(std::string_view stored, uint32_t id, uint32_t form, bool checksumKnown)
{
    try {
        bytes = checkedForm(stored, id, form, checksumKnown);
        checkSizes();
    } catch (const IndexError &error) {
        throw damaged("track " + std::to_string(id) + ": " + error.what());
    }
    masksOffset = kCountBytes + 4 * count;
    quietOffset = masksOffset + 4 * maskCount(count);
}

void SequenceView::checkSizes()
{
    if (bytes.size() < kCountBytes)
        throw IndexError("its sequence is cut short");
    count = readU32(bytes, 0);
    if (count == 0 || count % kBlockWords != 0)
        throw IndexError("its sequence holds " + std::to_string(count) +
                         " sub-fingerprints, not whole blocks");
    if (bytes.size() != formBytes(count))
        throw IndexError("its sequence of " + std::to_string(count) + " sub-fingerprints has " +
                         std::to_string(bytes.size()) + " bytes instead of " +
                         std::to_string(formBytes(count)));
}

uint32_t SequenceView::word(size_t i) const
{
    return readU32(bytes, kCountBytes + 4 * i);
}

uint32_t SequenceView::mask(size_t k) const
{
    return readU32(bytes, masksOffset + 4 * k);
}

bool SequenceView::quiet(size_t i) const
{
    return (static_cast<uint8_t>(bytes[quietOffset + i / 8]) >> (i % 8) & 1u) != 0;
}

SubFingerprints SequenceView::slice(int64_t from, size_t length, int64_t &first) const
{
    const auto size = static_cast<int64_t>(count);
    const int64_t begin = std::clamp<int64_t>(from, 0, size);
    const int64_t end = std::clamp<int64_t>(from + static_cast<int64_t>(length), begin, size);
    first = begin;
    SubFingerprints out;
    out.frameSeconds = indexFrameSeconds();
    out.blockLength = streamGrid(ENG_ALG_STREAM1).blockLength;
    const auto n = static_cast<size_t>(end - begin);
    out.words.resize(n);
    out.weak.resize(n);
    out.quiet.resize(n);
    for (size_t j = 0; j < n; ++j) {
        const size_t i = static_cast<size_t>(begin) + j;
        out.words[j] = word(i);
        out.weak[j] = mask(i / kBlockWords * kKeptMasks + nearestKeptMask(i % kBlockWords));
        out.quiet[j] = quiet(i) ? 1 : 0;
    }
    return out;
}

TrackPrint decodeSequence(std::string_view bytes, uint32_t id, uint32_t form)
{
    const SequenceView view(bytes, id, form);
    TrackPrint print;
    const size_t n = view.size();
    print.words.resize(n);
    for (size_t i = 0; i < n; ++i)
        print.words[i] = view.word(i);
    print.masks.resize(maskCount(n));
    for (size_t k = 0; k < print.masks.size(); ++k)
        print.masks[k] = view.mask(k);
    print.quiet.resize(n);
    for (size_t i = 0; i < n; ++i)
        print.quiet[i] = view.quiet(i) ? 1 : 0;
    return print;
}

} // namespace vokid
