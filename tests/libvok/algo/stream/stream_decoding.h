// Test-side readers of the streaming fingerprint's output: a BASE64 decoder
// and a decoder of the block bit stream, built as the inverse of the byte
// code table, so that any block can be turned back into its 256
// sub-fingerprints and 86 kept masks.
#ifndef VOK_TESTS_ALGO_STREAM_STREAM_DECODING_H
#define VOK_TESTS_ALGO_STREAM_STREAM_DECODING_H

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "algo/stream/bw.h"

namespace stream_test {

inline std::vector<uint8_t> base64_decode(const std::string &text)
{
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (text.size() % 4 != 0)
        throw std::runtime_error("BASE64 text length not a multiple of 4");
    std::vector<uint8_t> out;
    for (size_t i = 0; i < text.size(); i += 4) {
        uint32_t group = 0;
        int pad = 0;
        for (size_t j = 0; j < 4; ++j) {
            const char ch = text[i + j];
            uint32_t v = 0;
            if (ch == '=') {
                ++pad;
            } else {
                const size_t at = alphabet.find(ch);
                if (at == std::string::npos || pad)
                    throw std::runtime_error("bad BASE64 character");
                v = static_cast<uint32_t>(at);
            }
            group = (group << 6) | v;
        }
        out.push_back(static_cast<uint8_t>(group >> 16));
        if (pad < 2)
            out.push_back(static_cast<uint8_t>(group >> 8));
        if (pad < 1)
            out.push_back(static_cast<uint8_t>(group));
    }
    return out;
}

// Reads bits least significant first.
class BitReader {
public:
    explicit BitReader(const std::vector<uint8_t> &bytes) : bytes_(bytes) {}
    uint32_t bit()
    {
        if (position_ / 8 >= bytes_.size())
            throw std::runtime_error("read past the end of the block");
        const uint32_t b = (bytes_[position_ / 8] >> (position_ % 8)) & 1u;
        ++position_;
        return b;
    }
    uint32_t bits(int n)
    {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i)
            v |= bit() << i;
        return v;
    }
    size_t position() const { return position_; }

private:
    const std::vector<uint8_t> &bytes_;
    size_t position_ = 0;
};

// The inverse of the byte-code table: (length, code) -> byte.
inline std::map<std::pair<int, uint32_t>, uint8_t> code_inverse()
{
    std::map<std::pair<int, uint32_t>, uint8_t> inverse;
    const ByteCode *codes = bw_byte_codes();
    for (int b = 0; b < 256; ++b)
        inverse[{codes[b].length, codes[b].code}] = static_cast<uint8_t>(b);
    return inverse;
}

inline uint8_t read_byte_code(BitReader &reader,
                              const std::map<std::pair<int, uint32_t>, uint8_t> &inverse)
{
    uint32_t code = 0;
    for (int length = 1; length <= 16; ++length) {
        code |= reader.bit() << (length - 1);
        const auto found = inverse.find({length, code});
        if (found != inverse.end())
            return found->second;
    }
    throw std::runtime_error("no byte code matches");
}

// A run: first word raw, then four byte codes of each XOR difference.
inline std::vector<uint32_t> read_run(BitReader &reader, int count,
                                      const std::map<std::pair<int, uint32_t>, uint8_t> &inv)
{
    std::vector<uint32_t> words;
    uint32_t previous = reader.bits(32);
    words.push_back(previous);
    for (int i = 1; i < count; ++i) {
        uint32_t x = 0;
        for (int b = 0; b < 4; ++b)
            x |= static_cast<uint32_t>(read_byte_code(reader, inv)) << (8 * b);
        previous ^= x;
        words.push_back(previous);
    }
    return words;
}

struct DecodedBlock {
    std::vector<uint32_t> words; // 256 sub-fingerprints
    std::vector<uint32_t> masks; // 86 masks: those of words 0, 3, ..., 255
    size_t bits = 0;             // bits used before the final padding
};

inline DecodedBlock decode_block(const std::vector<uint8_t> &bytes)
{
    const auto inverse = code_inverse();
    BitReader reader(bytes);
    DecodedBlock block;
    block.words = read_run(reader, 256, inverse);
    block.masks = read_run(reader, 86, inverse);
    block.bits = reader.position();
    if ((block.bits + 7) / 8 != bytes.size())
        throw std::runtime_error("block length does not match its bits");
    for (size_t p = block.bits; p < 8 * bytes.size(); ++p) {
        if ((bytes[p / 8] >> (p % 8)) & 1u)
            throw std::runtime_error("padding bits are not zero");
    }
    return block;
}

} // namespace stream_test

#endif
