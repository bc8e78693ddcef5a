// Bytes worked out by the tests themselves: little-endian words and the
// CRC-32 of IEEE 802.3 computed bit by bit, to check what the code under
// test writes without using its own routines.
#ifndef VOK_TESTS_SUPPORT_BYTES_H
#define VOK_TESTS_SUPPORT_BYTES_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace vok_test {

// `value` as `size` little-endian bytes.
std::string little_endian(uint64_t value, size_t size);
void put_little_endian(std::string &bytes, size_t at, uint64_t value, size_t size);
uint64_t read_little_endian(const std::string &bytes, size_t at, size_t size);

uint32_t bitwise_crc32(const std::string &bytes);

} // namespace vok_test

#endif
