// One fingerprint block as bytes: 256 sub-fingerprints and the weak-bit
// masks of sub-fingerprints 0, 3, ..., 255, each sequence written as its
// first word in 32 raw bits and then, for every further word, the codes of
// the four bytes of its XOR with the previous word (lowest byte first).
// The masks follow the sub-fingerprints without alignment; zero bits pad
// the last byte.
#ifndef VOKID_DOCUMENT_BLOCK_DECODER_H
#define VOKID_DOCUMENT_BLOCK_DECODER_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace vokid {

constexpr size_t kBlockWords = 256;
constexpr size_t kMaskStride = 3;
constexpr size_t kKeptMasks = (kBlockWords - 1) / kMaskStride + 1; // 86

// The kept mask nearest to sub-fingerprint i of a block (0 to 255): masks
// are kept for 0, 3, ..., 255, so i = 3k + 1 takes 3k and i = 3k + 2 takes
// 3k + 3.
constexpr size_t nearestKeptMask(size_t i)
{
    return (i + 1) / kMaskStride;
}

struct DecodedBlock {
    std::array<uint32_t, kBlockWords> words{};
    std::array<uint32_t, kKeptMasks> masks{};
    // Byte offset in the block where each kept mask's bits begin.
    std::array<uint32_t, kKeptMasks> maskOffsets{};
};

// A block that breaks the code, with the byte offset where it breaks.
class BlockError : public std::runtime_error {
public:
    BlockError(size_t byteOffset, const std::string &what)
        : std::runtime_error(what), offset(byteOffset)
    {
    }
    size_t byteOffset() const { return offset; }

private:
    size_t offset;
};

// Decodes a block of `size` bytes, which must hold exactly the codes of
// one block: no byte more or less, and zero bits after the last code.
DecodedBlock decodeBlock(const uint8_t *bytes, size_t size);

} // namespace vokid

#endif
