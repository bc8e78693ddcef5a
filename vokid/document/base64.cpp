#include "vokid/document/base64.h"

#include <array>

namespace vokid {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t kNotBase64 = 0xFF;

constexpr std::array<uint8_t, 256> makeValues()
{
    std::array<uint8_t, 256> values{};
    for (auto &value : values)
        value = kNotBase64;
    for (uint8_t i = 0; i < 64; ++i)
        values[static_cast<unsigned char>(kAlphabet[i])] = i;
    return values;
}
constexpr std::array<uint8_t, 256> kValues = makeValues();

std::string characterAt(std::string_view text, size_t at)
{
    const unsigned char c = static_cast<unsigned char>(text[at]);
    std::string shown =
        c >= 0x21 && c < 0x7F ? "'" + std::string(1, text[at]) + "'" : "byte " + std::to_string(c);
    return "character " + std::to_string(at + 1) + " (" + shown + ")";
}

} // namespace

std::vector<uint8_t> decodeBase64(std::string_view text)
{
    if (text.size() % 4 != 0)
        throw Base64Error("BASE64 text of " + std::to_string(text.size()) +
                          " characters, not a multiple of 4");
    size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=')
        ++padding;
    const size_t characters = text.size() - padding;

    std::vector<uint8_t> bytes;
    bytes.reserve(characters * 3 / 4);
    uint32_t group = 0;
    for (size_t i = 0; i < characters; ++i) {
        const uint8_t value = kValues[static_cast<unsigned char>(text[i])];
        if (value == kNotBase64)
            throw Base64Error("BASE64 " + characterAt(text, i) + " is not in the alphabet");
        group = group << 6 | value;
        if (i % 4 == 3) {
            bytes.push_back(static_cast<uint8_t>(group >> 16));
            bytes.push_back(static_cast<uint8_t>(group >> 8));
            bytes.push_back(static_cast<uint8_t>(group));
            group = 0;
        }
    }
    // A last group of 2 or 3 characters carries 1 or 2 bytes; its last
    // character has 4 or 2 bits that no byte uses, and they must be zero.
    const size_t tail = characters % 4; // 0, or 3 or 2 with one or two "="
    if (tail > 1) {
        const unsigned unused = tail == 2 ? 4 : 2;
        if (group & ((1u << unused) - 1u))
            throw Base64Error("BASE64 " + characterAt(text, characters - 1) +
                              " has bits set that no byte uses");
        group >>= unused;
        if (tail == 3)
            bytes.push_back(static_cast<uint8_t>(group >> 8));
        bytes.push_back(static_cast<uint8_t>(group));
    }
    return bytes;
}

std::string encodeBase64(const uint8_t *bytes, size_t size)
{
    std::string text;
    text.reserve((size + 2) / 3 * 4);
    for (size_t i = 0; i < size; i += 3) {
        const size_t left = size - i;
        const uint32_t group = static_cast<uint32_t>(bytes[i]) << 16 |
                               (left > 1 ? static_cast<uint32_t>(bytes[i + 1]) << 8 : 0u) |
                               (left > 2 ? bytes[i + 2] : 0u);
        text += kAlphabet[group >> 18];
        text += kAlphabet[group >> 12 & 63u];
        text += left > 1 ? kAlphabet[group >> 6 & 63u] : '=';
        text += left > 2 ? kAlphabet[group & 63u] : '=';
    }
    return text;
}

} // namespace vokid
