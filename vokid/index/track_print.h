// A track's fingerprint as the index keeps it: every sub-fingerprint, the
// kept weak-bit masks (those of sub-fingerprints 0, 3, ..., 255 of each
// block, as the document carries them) and which sub-fingerprints stand
// for quiet frames; and its stored form. Which positions are indexed is
// postings.h's.
#ifndef VOKID_INDEX_TRACK_PRINT_H
#define VOKID_INDEX_TRACK_PRINT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "vokid/compare/sub_fingerprints.h"
#include "vokid/index/stored_form.h"

namespace vokid {

// Blocks as documents keep them: 256 sub-fingerprints, and the masks of
// 0, 3, ..., 255. Frame i of a block takes the kept mask nearest to it.
constexpr size_t kBlockWords = ENG_BLOCK_FRAMES;
constexpr size_t kKeptMasks = (ENG_BLOCK_FRAMES - 1) / ENG_MASK_STRIDE + 1; // 86
constexpr size_t nearestKeptMask(size_t i)
{
    return (i + 1) / ENG_MASK_STRIDE;
}

struct TrackPrint {
    std::vector<uint32_t> words; // whole blocks of 256
    std::vector<uint32_t> masks; // 86 per block
    std::vector<uint8_t> quiet;  // per word: 1 for a quiet frame

    // Whole blocks of a three-second streaming fingerprint (Stream1 or
    // Stream4). Throws IndexError for anything else.
    static TrackPrint of(const SubFingerprints &frames);

    size_t size() const { return words.size(); }
    uint32_t weak(size_t i) const
    {
        return masks[i / kBlockWords * kKeptMasks + nearestKeptMask(i % kBlockWords)];
    }
    // The whole print laid out for comparison.
    SubFingerprints subFingerprints() const;
};

// Seconds from one sub-fingerprint to the next in the index: the grid of
// three-second blocks.
double indexFrameSeconds();

// The stored form of track `id`'s print (format version 2,
// stored_form.h): the word count (32 bits), the words, the kept masks, the
// quiet frames as a bitmap (bit i % 8 of byte i / 8), then the CRC-32 of
// the id and all that, all little-endian. About 5.5 bytes per
// sub-fingerprint, 1.7 MB an hour. Version 1's has no checksum.
std::string encodeSequence(const TrackPrint &print, uint32_t id);
// Throws IndexError ("the index is damaged: track 7: ...") for bytes that
// are not exactly such a form of this id in format version `form`.
TrackPrint decodeSequence(std::string_view bytes, uint32_t id, uint32_t form = kStoredForm);

// A stored sequence read in place, a stretch at a time.
class SequenceView {
public:
    // Checks the form's sizes and checksum; throws IndexError as
    // decodeSequence does.
    // `checksumKnown`: the store has seen these very bytes pass it before.
    SequenceView(std::string_view bytes, uint32_t id, uint32_t form = kStoredForm,
                 bool checksumKnown = false);
    size_t size() const { return count; }
    // Sub-fingerprints [from, from + length) clipped to the track; `first`
    // receives the position of the first one returned.
    SubFingerprints slice(int64_t from, size_t length, int64_t &first) const;

    uint32_t word(size_t i) const;
    uint32_t mask(size_t k) const; // the k-th kept mask
    bool quiet(size_t i) const;

private:
    void checkSizes();

    std::string_view bytes;
    size_t count = 0;
    size_t masksOffset = 0;
    size_t quietOffset = 0;
};

} // namespace vokid

#endif
