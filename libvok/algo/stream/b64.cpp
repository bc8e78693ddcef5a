// BASE64 encoder and its strict decoder (RFC 4648 alphabet, "=" padding,
// no line breaks).
#include "algo/stream/b64.h"

#include "engine/eng_memory.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t kNotInAlphabet = 0xFF;

// The value of each character, built from the alphabet at compile time.
struct CharacterValues {
    uint8_t of[256];
};

constexpr CharacterValues make_values()
{
    CharacterValues values{};
    for (uint32_t c = 0; c < 256; ++c)
        values.of[c] = kNotInAlphabet;
    for (uint32_t i = 0; i < 64; ++i)
        values.of[static_cast<unsigned char>(kAlphabet[i])] = static_cast<uint8_t>(i);
    return values;
}

constexpr CharacterValues kValues = make_values();

uint8_t value_of(char c)
{
    return kValues.of[static_cast<unsigned char>(c)];
}

ResultCode refuse(B64Fault *fault, uint8_t kind, uint32_t offset)
{
    fault->kind = kind;
    fault->offset = offset;
    return B64_E_BAD_DOCUMENT;
}

// Checks that the text is canonical and answers its characters without the
// padding. A last group of 2 or 3 characters carries 1 or 2 bytes; its last
// character has 4 or 2 bits that no byte uses, and they must be zero.
ResultCode check_text(const char *text, uint32_t length, uint32_t *characters, B64Fault *fault)
{
    if (length % 4 != 0)
        return refuse(fault, B64_FAULT_LENGTH, length);
    uint32_t padding = 0;
    while (padding < 2 && padding < length && text[length - 1 - padding] == '=')
        ++padding;
    const uint32_t count = length - padding;
    for (uint32_t i = 0; i < count; ++i) {
        if (value_of(text[i]) == kNotInAlphabet)
            return refuse(fault, B64_FAULT_CHARACTER, i);
    }
    // A third "=" is the last character counted above, so the tail here is
    // 0, 2 or 3 characters.
    const uint32_t tail = count % 4;
    const uint32_t unused = tail == 2 ? 4u : tail == 3 ? 2u : 0u;
    if (unused && (value_of(text[count - 1]) & ((1u << unused) - 1u)))
        return refuse(fault, B64_FAULT_UNUSED_BITS, count - 1);
    *characters = count;
    return ENG_OK;
}

// Decodes characters that check_text accepted.
void decode_groups(const char *text, uint32_t characters, uint8_t *out)
{
    uint32_t group = 0;
    uint32_t written = 0;
    for (uint32_t i = 0; i < characters; ++i) {
        group = (group << 6) | value_of(text[i]);
        if (i % 4 == 3) {
            out[written++] = static_cast<uint8_t>(group >> 16);
            out[written++] = static_cast<uint8_t>(group >> 8);
            out[written++] = static_cast<uint8_t>(group);
            group = 0;
        }
    }
    const uint32_t tail = characters % 4;
    if (tail == 2) {
        out[written] = static_cast<uint8_t>(group >> 4);
    } else if (tail == 3) {
        out[written] = static_cast<uint8_t>(group >> 10);
        out[written + 1] = static_cast<uint8_t>(group >> 2);
    }
}

} // namespace

ResultCode b64_encoded_size(uint32_t byte_count, uint32_t *size, uint8_t terminate)
{
    if (!size)
        return B64_E_INVALID_ARG;
    // Computed wide: 4 * byte_count overflows 32 bits for large counts, and
    // a wrapped size would under-allocate the text.
    const uint64_t needed = (4 * static_cast<uint64_t>(byte_count) + 8) / 3 + (terminate ? 1 : 0);
    if (needed > 0xFFFFFFFFu)
        return B64_E_INVALID_ARG;
    *size = static_cast<uint32_t>(needed);
    return ENG_OK;
}

ResultCode b64_encode(const uint8_t *bytes, uint32_t byte_count, char **text, uint32_t *length,
                      uint8_t terminate)
{
    if (!bytes || !text || !length)
        return B64_E_INVALID_ARG;
    uint32_t size = 0;
    const ResultCode sized = b64_encoded_size(byte_count, &size, terminate);
    if (sized != ENG_OK)
        return sized;
    char *out = static_cast<char *>(eng_malloc(size));
    if (!out)
        return B64_E_NO_MEMORY;

    uint32_t written = 0;
    uint32_t i = 0;
    for (; i + 3 <= byte_count; i += 3) {
        const uint32_t group = (static_cast<uint32_t>(bytes[i]) << 16) |
                               (static_cast<uint32_t>(bytes[i + 1]) << 8) | bytes[i + 2];
        out[written++] = kAlphabet[(group >> 18) & 63u];
        out[written++] = kAlphabet[(group >> 12) & 63u];
        out[written++] = kAlphabet[(group >> 6) & 63u];
        out[written++] = kAlphabet[group & 63u];
    }
    const uint32_t rest = byte_count - i;
    if (rest > 0) {
        const uint32_t group = (static_cast<uint32_t>(bytes[i]) << 16) |
                               (rest == 2 ? static_cast<uint32_t>(bytes[i + 1]) << 8 : 0u);
        out[written++] = kAlphabet[(group >> 18) & 63u];
        out[written++] = kAlphabet[(group >> 12) & 63u];
        out[written++] = rest == 2 ? kAlphabet[(group >> 6) & 63u] : '=';
        out[written++] = '=';
    }
    if (terminate)
        out[written++] = '\0';
    *text = out;
    *length = written;
    return ENG_OK;
}

ResultCode b64_decode(const char *text, uint32_t length, uint8_t **bytes, uint32_t *size,
                      B64Fault *fault)
{
    if (!text || !bytes || !size || !fault)
        return B64_E_INVALID_ARG;
    uint32_t characters = 0;
    const ResultCode checked = check_text(text, length, &characters, fault);
    if (checked != ENG_OK)
        return checked;
    const uint32_t tail = characters % 4;
    const uint32_t count = characters / 4 * 3 + (tail == 0 ? 0 : tail - 1);
    auto *out = static_cast<uint8_t *>(eng_malloc(count));
    if (!out)
        return B64_E_NO_MEMORY;
    decode_groups(text, characters, out);
    *bytes = out;
    *size = count;
    return ENG_OK;
}
