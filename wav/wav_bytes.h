// Little-endian field access for the RIFF structures, shared by the parser's
// source files.
#ifndef VOK_WAV_WAV_BYTES_H
#define VOK_WAV_WAV_BYTES_H

#include <cstdint>
#include <cstring>

namespace wav_bytes {

inline uint32_t u16_at(const uint8_t *bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8;
}

inline uint32_t u32_at(const uint8_t *bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// True when the four bytes are the given chunk or form id.
inline bool id_is(const uint8_t *bytes, const char (&id)[5])
{
    return std::memcmp(bytes, id, 4) == 0;
}

// A chunk body of an odd size is followed by one pad byte.
inline uint64_t padded(uint32_t size)
{
    return static_cast<uint64_t>(size) + (size & 1u);
}

} // namespace wav_bytes

#endif
