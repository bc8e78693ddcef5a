// BASE64 encoder (RFC 4648 alphabet, "=" padding, no line breaks).
#include "algo/stream/b64.h"

#include "engine/eng_memory.h"

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

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
