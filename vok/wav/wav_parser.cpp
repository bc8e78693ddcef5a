// Opening, reading and closing a WAVE file.
#include "wav/wav_parser.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "wav/wav_bytes.h"

using wav_bytes::id_is;
using wav_bytes::padded;

namespace {

// Size of a regular file, -1 for anything else (a pipe, a device).
int64_t regular_file_size(FILE *file)
{
    struct stat status;
    if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode))
        return -1;
    return static_cast<int64_t>(status.st_size);
}

bool is_directory(FILE *file)
{
    struct stat status;
    return fstat(fileno(file), &status) == 0 && S_ISDIR(status.st_mode);
}

// Finds the next data chunk from the current position; its size goes to
// *available. Other chunks are skipped with their pad bytes.
int next_data_chunk(WavParser *parser, uint32_t *available)
{
    if (parser->pad_pending) {
        parser->pad_pending = 0;
        if (wav_skip(parser->file, 1) != 0)
            return WAV_E_FORMAT;
    }
    uint8_t header[8];
    for (;;) {
        const size_t got = std::fread(header, 1, sizeof header, parser->file);
        if (got == 0)
            return WAV_E_END_OF_FILE;
        if (got < sizeof header)
            return WAV_E_FORMAT;
        const uint32_t size = eng_le_u32(header + 4);
        if (id_is(header, "data")) {
            *available = size;
            parser->pad_pending = static_cast<uint8_t>(size & 1u);
            return WAV_OK;
        }
        if (wav_skip(parser->file, padded(size)) != 0)
            return WAV_E_FORMAT;
    }
}

// True when the file is known to hold fewer than count more bytes, so that
// a read of count bytes must come up short. Saves allocating a buffer for
// a data chunk whose header claims more than the file holds.
bool known_to_be_short(const WavParser *parser, uint32_t count)
{
    if (parser->file_size < 0)
        return false;
    const off_t position = ftello(parser->file);
    if (position < 0)
        return false;
    return static_cast<int64_t>(count) > parser->file_size - static_cast<int64_t>(position);
}

} // namespace

int wav_open(const char *path, WavParser **out)
{
    if (!path || !out)
        return WAV_E_INVALID_ARG;
    // Read only: the parser never writes, and a read-only file must open.
    FILE *file = std::fopen(path, "rb");
    if (!file)
        return WAV_E_OPEN;
    if (is_directory(file)) {
        std::fclose(file);
        return WAV_E_OPEN;
    }

    uint32_t riff_size = 0;
    uint32_t format_tag = 0, channels = 0, sample_rate = 0, bits_per_sample = 0;
    if (wav_read_riff_header(file, &riff_size) != WAV_HEADER_OK ||
        wav_read_format(file, &format_tag, &channels, &sample_rate, &bits_per_sample) !=
            WAV_HEADER_OK) {
        std::fclose(file);
        return WAV_E_FORMAT;
    }

    auto *parser = static_cast<WavParser *>(std::malloc(sizeof(WavParser)));
    if (!parser) {
        std::fclose(file);
        return WAV_E_NO_MEMORY;
    }
    const size_t path_bytes = std::strlen(path) + 1;
    char *path_copy = static_cast<char *>(std::malloc(path_bytes));
    if (!path_copy) {
        std::fclose(file);
        std::free(parser);
        return WAV_E_NO_MEMORY;
    }
    std::memcpy(path_copy, path, path_bytes);

    parser->file = file;
    parser->path = path_copy;
    parser->buffer = nullptr;
    parser->capacity = 0;
    parser->riff_size = riff_size;
    parser->remaining = 0;
    parser->format_tag = format_tag;
    parser->sample_rate = sample_rate;
    parser->bits_per_sample = bits_per_sample;
    parser->channels = channels;
    parser->pad_pending = 0;
    parser->file_size = regular_file_size(file);
    *out = parser;
    return WAV_OK;
}

int wav_read(uint32_t *numSamples, WavParser *wavParserHandle, uint32_t requested, uint8_t **buffer)
{
    if (numSamples)
        *numSamples = 0;
    if (!wavParserHandle || !buffer || !numSamples) {
        std::printf("PATDF wavParserHandle=%p buffer=%p numSamples=%p\n",
                    static_cast<void *>(wavParserHandle), static_cast<void *>(buffer),
                    static_cast<void *>(numSamples));
        std::fflush(stdout);
        return WAV_E_INVALID_ARG;
    }
    WavParser *parser = wavParserHandle;

    uint32_t available = parser->remaining;
    if (available == 0) {
        const int found = next_data_chunk(parser, &available);
        if (found != WAV_OK)
            return found;
    }

    // A request of 0 takes the whole rest of the chunk.
    uint32_t count = available;
    uint32_t left_after = 0;
    if (requested != 0 && available > requested) {
        count = requested;
        left_after = available - requested;
    }

    if (known_to_be_short(parser, count)) {
        parser->remaining = left_after;
        *numSamples = count;
        return WAV_E_FORMAT;
    }

    if (!parser->buffer || parser->capacity < count) {
        std::free(parser->buffer);
        parser->capacity = 0;
        // A zero-size data chunk still hands out a valid pointer.
        parser->buffer = static_cast<uint8_t *>(std::malloc(count == 0 ? 1 : count));
        if (!parser->buffer)
            return WAV_E_NO_MEMORY;
        parser->capacity = count;
    }

    parser->remaining = left_after;
    *numSamples = count;
    if (std::fread(parser->buffer, 1, count, parser->file) != count)
        return WAV_E_FORMAT;
    *buffer = parser->buffer;
    return WAV_OK;
}

void wav_close(WavParser *parser)
{
    if (!parser)
        return;
    if (parser->file)
        std::fclose(parser->file);
    std::free(parser->buffer);
    std::free(parser->path);
    std::free(parser);
}
