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

// The stored forms of track `id`'s print, all little-endian.
//
// Versions 2 and 3 (stored_form.h), the plain form: the word count (32
// bits), the words, the kept masks, the quiet frames as a bitmap (bit
// i % 8 of byte i / 8), then the CRC-32 of the id and all that. About 5.5
// bytes per sub-fingerprint, 1.7 MB an hour. Version 1's has no checksum.
//
// Version 4, the packed form:
//   - the word count (32 bits, whole blocks, not 0);
//   - a table of 32-bit offsets, one per block: where the block's bytes
//     begin, counted from the end of the table (the first is 0);
//   - each block coded on its own, so that a stretch decodes only the
//     blocks it touches: a stream of bits taken from each byte's lowest
//     bit first, a field of n bits with its lowest bit first, padded with
//     zero bits to a whole byte:
//       - word 0 (32 bits); then for each next word the change
//         d = w[i] ^ w[i - 1], by its number of bits k:
//           k = 0: 0;  k = 1: 10 p;  k = 2: 110 p p;  k = 3: 1110 p p p;
//           k >= 4: 1111 d (32 bits),
//         where each p is the position of a changed bit (5 bits), lowest
//         first;
//       - kept mask 0 (32 bits); then for each next kept mask the change
//         d = m[k] ^ m[k - 1]: 0 bits: 0;  2 bits: 10 p p;
//         4 bits: 110 p p p p;  any other number: 111 d (32 bits);
//       - 0 when no frame of the block is quiet, else 1 and a bit per
//         frame, 1 for a quiet one;
//   - the CRC-32 of the id and all that.
// Codes are written as the stream runs: k 1 bits then a 0 (or 4 and 3 1
// bits alone) say which one follows. Consecutive words and kept masks of
// a recording differ in few bits (words in 0 to 3 bits five times in six,
// kept masks in 0, 2 or 4 two times in three): 2.0 to 2.3 bytes per
// sub-fingerprint on music, 0.6 to 0.7 MB an hour; 2.7 on speech.
//
// Every print has exactly one form in each version: a reader refuses what
// the writer would not have written (a raw change that has a shorter code,
// positions not ascending, padding bits set, a quiet bitmap of no quiet
// frame, a block that does not end where the next begins).
//
// `form`: the format version, 1 to 4; 4 and later write the packed form.
// The print must hold whole blocks, their kept masks and a quiet flag
// per word (std::invalid_argument otherwise).
std::string encodeSequence(const TrackPrint &print, uint32_t id, uint32_t form = kStoredForm);
// Throws IndexError ("the index is damaged: track 7: ...") for bytes that
// are not exactly such a form of this id in format version `form`.
TrackPrint decodeSequence(std::string_view bytes, uint32_t id, uint32_t form = kStoredForm);

// A stored sequence read in place, a stretch at a time.
class SequenceView {
public:
    // Checks the form's sizes (and in version 4 its table of blocks) and
    // its checksum, decoding nothing; throws IndexError as decodeSequence
    // does. `checksumKnown`: the store has seen these very bytes pass it
    // before. The bytes must outlive the view.
    SequenceView(std::string_view bytes, uint32_t id, uint32_t form = kStoredForm,
                 bool checksumKnown = false);
    size_t size() const { return count; }
    // Sub-fingerprints [from, from + length) clipped to the track; `first`
    // receives the position of the first one returned. Decodes the blocks
    // the stretch touches; throws IndexError for one that is damaged.
    SubFingerprints slice(int64_t from, size_t length, int64_t &first) const;
    // The whole print.
    TrackPrint print() const;

private:
    size_t readCount() const;
    void checkPlain();
    void checkPacked();
    // Block b of the packed form, decoded into 256 words, 86 kept masks
    // and 256 quiet flags.
    void decodeBlock(size_t b, uint32_t *words, uint32_t *masks, uint8_t *quiet) const;
    uint32_t plainWord(size_t i) const;
    uint32_t plainMask(size_t k) const;
    bool plainQuiet(size_t i) const;

    std::string_view bytes; // without the checksum
    uint32_t track = 0;
    bool packed = false;
    size_t count = 0;
    size_t masksOffset = 0; // plain
    size_t quietOffset = 0; // plain
    size_t blocksOffset = 0; // packed: where the table ends
};

} // namespace vokid

#endif
