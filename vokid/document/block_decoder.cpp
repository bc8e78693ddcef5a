#include "vokid/document/block_decoder.h"

#include "vokid/document/byte_code.h"

namespace vokid {

namespace {

// Reads a block's bits in the order they were written: bit 0 of byte 0
// first. Reading past the end yields zero bits; the caller compares its
// position with the size afterwards.
class BitReader {
public:
    BitReader(const uint8_t *data, size_t length) : bytes(data), size(length) {}

    // The next `count` bits (at most 25), first bit lowest.
    uint32_t peek(unsigned count) const
    {
        const size_t at = position / 8;
        uint32_t window = 0;
        for (size_t i = 0; i < 4 && at + i < size; ++i)
            window |= static_cast<uint32_t>(bytes[at + i]) << (8 * i);
        return (window >> (position % 8)) & ((1u << count) - 1u);
    }
    void skip(unsigned count) { position += count; }
    uint32_t take(unsigned count)
    {
        const uint32_t bits = peek(count);
        skip(count);
        return bits;
    }
    size_t bitPosition() const { return position; }
    size_t bitSize() const { return size * 8; }

private:
    const uint8_t *bytes;
    size_t size;
    size_t position = 0;
};

uint32_t readRawWord(BitReader &reader)
{
    const uint32_t low = reader.take(16);
    return low | reader.take(16) << 16;
}

uint32_t readCodedWord(BitReader &reader, const std::array<CodeMatch, 1u << kLongestCode> &lookup)
{
    uint32_t word = 0;
    for (unsigned shift = 0; shift < 32; shift += 8) {
        const CodeMatch match = lookup[reader.peek(kLongestCode)];
        reader.skip(match.length);
        word |= static_cast<uint32_t>(match.byte) << shift;
    }
    return word;
}

// Reads a run of words; `name(i)` names word i for the message when the
// block ends inside it. Answers each word's starting bit through `starts`
// when given.
template <size_t N, class Name>
void readRun(BitReader &reader, std::array<uint32_t, N> &words, uint32_t *starts, Name name)
{
    const auto &lookup = byteCodeLookup();
    uint32_t previous = 0;
    for (size_t i = 0; i < N; ++i) {
        const size_t start = reader.bitPosition();
        if (starts)
            starts[i] = static_cast<uint32_t>(start / 8);
        previous = i == 0 ? readRawWord(reader) : previous ^ readCodedWord(reader, lookup);
        words[i] = previous;
        if (reader.bitPosition() > reader.bitSize())
            throw BlockError(start / 8, "the block ends inside " + name(i));
    }
}

} // namespace

DecodedBlock decodeBlock(const uint8_t *bytes, size_t size)
{
    BitReader reader(bytes, size);
    DecodedBlock block;
    readRun(reader, block.words, nullptr,
            [](size_t i) { return "sub-fingerprint " + std::to_string(i); });
    readRun(reader, block.masks, block.maskOffsets.data(), [](size_t i) {
        return "the kept mask of sub-fingerprint " + std::to_string(i * kMaskStride);
    });

    const size_t used = (reader.bitPosition() + 7) / 8;
    if (used < size)
        throw BlockError(used, std::to_string(size - used) +
                                   (size - used == 1 ? " byte follows" : " bytes follow") +
                                   " the block's last code");
    const unsigned padding = static_cast<unsigned>(reader.bitSize() - reader.bitPosition());
    if (padding > 0 && reader.peek(padding) != 0)
        throw BlockError(size - 1, "the padding after the block's last code is not zero");
    return block;
}

} // namespace vokid
