// BASE64 text as fingerprint blocks carry it: the standard alphabet, "="
// padding to a multiple of four characters, no line breaks, and nothing
// but zero bits in the unused part of the last character.
#ifndef VOKID_DOCUMENT_BASE64_H
#define VOKID_DOCUMENT_BASE64_H

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vokid {

class Base64Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The bytes of a BASE64 text. Refuses anything but the one canonical text
// of some bytes, saying which character is wrong.
std::vector<uint8_t> decodeBase64(std::string_view text);

// The canonical text of some bytes.
std::string encodeBase64(const uint8_t *bytes, size_t size);

} // namespace vokid

#endif
