// The two header readers of the WAVE parser and its forward skip.
#include "wav/wav_parser.h"

#include <sys/types.h>

#include <cstdio>

#include "wav/wav_bytes.h"

using wav_bytes::id_is;
using wav_bytes::padded;

int wav_skip(FILE *stream, uint64_t count)
{
    if (count == 0)
        return 0;
    // A chunk size is at most 2^32 bytes (plus its pad byte): it fits off_t.
    if (fseeko(stream, static_cast<off_t>(count), SEEK_CUR) == 0)
        return 0;
    // A pipe cannot seek: read and discard. Its end counts as reached.
    uint8_t scratch[4096];
    while (count > 0) {
        const size_t want = count < sizeof scratch ? static_cast<size_t>(count) : sizeof scratch;
        const size_t got = std::fread(scratch, 1, want, stream);
        if (got == 0)
            return std::ferror(stream) ? -1 : 0;
        count -= got;
    }
    return 0;
}

int wav_read_riff_header(FILE *stream, uint32_t *riff_size)
{
    uint8_t header[12];
    if (std::fread(header, 1, sizeof header, stream) != sizeof header)
        return WAV_HEADER_SHORT;
    if (!id_is(header, "RIFF") || !id_is(header + 8, "WAVE"))
        return WAV_HEADER_MISMATCH;
    *riff_size = eng_le_u32(header + 4);
    return WAV_HEADER_OK;
}

int wav_read_format(FILE *stream, uint32_t *format_tag, uint32_t *channels, uint32_t *sample_rate,
                    uint32_t *bits_per_sample)
{
    uint8_t header[8];
    for (;;) {
        if (std::fread(header, 1, sizeof header, stream) != sizeof header)
            return WAV_HEADER_SHORT;
        const uint32_t size = eng_le_u32(header + 4);
        if (id_is(header, "fmt "))
            break;
        if (wav_skip(stream, padded(size)) != 0)
            return WAV_HEADER_SHORT;
    }

    const uint32_t size = eng_le_u32(header + 4);
    // Without bits per sample (offset 14) the format cannot be used.
    if (size < WAV_FMT_MIN_BYTES)
        return WAV_HEADER_SHORT;
    uint8_t body[WAV_FMT_HOLD_BYTES];
    const uint32_t held = size < WAV_FMT_HOLD_BYTES ? size : WAV_FMT_HOLD_BYTES;
    if (std::fread(body, 1, held, stream) != held)
        return WAV_HEADER_SHORT;

    const uint32_t tag = eng_le_u16(body);
    if (tag != WAV_FORMAT_PCM && tag != WAV_FORMAT_FLOAT && tag != WAV_FORMAT_ALAW &&
        tag != WAV_FORMAT_MULAW)
        return WAV_HEADER_MISMATCH;
    // The rest of a long body, and the pad byte of an odd one, are not used.
    if (wav_skip(stream, padded(size) - held) != 0)
        return WAV_HEADER_SHORT;

    *format_tag = tag;
    *channels = eng_le_u16(body + 2);
    *sample_rate = eng_le_u32(body + 4);
    *bits_per_sample = eng_le_u16(body + 14);
    return WAV_HEADER_OK;
}
