// The byte code of fingerprint blocks: every byte value has a fixed code of
// 1 to 16 bits, written least significant bit first. The 256 codes form a
// complete prefix code, so any bit string splits into codes in exactly one
// way; a block's only possible faults are its length and its padding.
#ifndef VOKID_DOCUMENT_BYTE_CODE_H
#define VOKID_DOCUMENT_BYTE_CODE_H

#include <array>
#include <cstdint>

namespace vokid {

struct ByteCodeEntry {
    uint16_t code;  // the bits, first bit in bit 0
    uint8_t length; // 1 to 16
};

// The code of each byte value, indexed by the byte.
const std::array<ByteCodeEntry, 256> &byteCode();

// What the next 16 bits of a block (first bit in bit 0) start with.
struct CodeMatch {
    uint8_t byte;
    uint8_t length;
};

constexpr unsigned kLongestCode = 16;

// Built once from byteCode(): for every value of the next 16 bits, the one
// code they begin with.
const std::array<CodeMatch, 1u << kLongestCode> &byteCodeLookup();

} // namespace vokid

#endif
