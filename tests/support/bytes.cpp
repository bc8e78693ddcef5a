#include "tests/support/bytes.h"

namespace vok_test {

std::string little_endian(uint64_t value, size_t size)
{
    std::string bytes(size, '\0');
    put_little_endian(bytes, 0, value, size);
    return bytes;
}

void put_little_endian(std::string &bytes, size_t at, uint64_t value, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        bytes[at + i] = static_cast<char>(value >> (8 * i) & 0xFF);
}

uint64_t read_little_endian(const std::string &bytes, size_t at, size_t size)
{
    uint64_t value = 0;
    for (size_t i = 0; i < size; ++i)
        value |= uint64_t{static_cast<uint8_t>(bytes[at + i])} << (8 * i);
    return value;
}

uint32_t bitwise_crc32(const std::string &bytes)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (char c : bytes) {
        crc ^= static_cast<uint8_t>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 1u ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

} // namespace vok_test
