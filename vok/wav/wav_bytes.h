// RIFF structures, shared by the parser's source files: chunk ids and pad
// bytes. Little-endian fields are read with the engine's byte readers.
#ifndef VOK_WAV_WAV_BYTES_H
#define VOK_WAV_WAV_BYTES_H

#include <cstdint>
#include <cstring>

#include "engine/eng_bytes.h"

namespace wav_bytes {

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
