/*
 * A small reader for RIFF/WAVE files.
 *
 * wav_open checks the RIFF header and decodes the first format (fmt) chunk;
 * wav_read then hands out the bytes of the file's data chunks, in file
 * order, in pieces of the size the caller asks for, reusing one buffer.
 * Every operation answers one of the small WAV_* codes below (not an engine
 * ResultCode). The parser knows nothing about fingerprints; it uses the
 * standard allocator and buffered file streams directly.
 *
 * Plain C declarations so that C programs can use it as well.
 */
#ifndef VOK_WAV_WAV_PARSER_H
#define VOK_WAV_WAV_PARSER_H

#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes; wav_error_name gives their names. */
#define WAV_OK            0
#define WAV_E_NO_MEMORY   1 /* "Could not allocate memory" */
#define WAV_E_INVALID_ARG 2 /* "Invalid input" */
#define WAV_E_OPEN        3 /* "Could not open file" */
#define WAV_E_FORMAT      4 /* "File format invalid" */
#define WAV_E_END_OF_FILE 5 /* "End of file encountered" */

/* Results of the two header readers used by wav_open. */
#define WAV_HEADER_OK       0
#define WAV_HEADER_SHORT    1 /* RIFF header: fewer than 12 bytes; fmt: no usable fmt chunk */
#define WAV_HEADER_MISMATCH 2 /* RIFF header: ids wrong; fmt: format tag not accepted */

/* Format tags accepted by the parser. */
#define WAV_FORMAT_PCM   1
#define WAV_FORMAT_FLOAT 3
#define WAV_FORMAT_ALAW  6
#define WAV_FORMAT_MULAW 7

/* Bytes of a fmt chunk body that are held and decoded; a longer body is
 * read up to this size and the rest skipped. A body shorter than 16 bytes
 * lacks the bits-per-sample field and is refused. */
#define WAV_FMT_HOLD_BYTES 40u
#define WAV_FMT_MIN_BYTES  16u

typedef struct WavParser {
    FILE *file;         /* the open input, read only */
    char *path;         /* private copy of the path it was opened with */
    uint8_t *buffer;    /* the piece handed out by wav_read, or null */
    uint32_t capacity;  /* size of buffer in bytes; it never shrinks */
    uint32_t riff_size; /* the RIFF header's size field (kept, not used) */
    uint32_t remaining; /* bytes of the current data chunk not yet handed out */
    uint32_t format_tag;
    uint32_t sample_rate; /* Hz */
    uint32_t bits_per_sample;
    uint32_t channels;
    uint8_t pad_pending; /* the current data chunk has an odd size: skip its pad byte */
    int64_t file_size;   /* bytes in the file, or -1 when it cannot be known */
} WavParser;

/* Opens path read only and reads its headers. On success *out holds a new
 * parser for wav_close; on failure *out is unchanged and nothing is left
 * open. WAV_E_INVALID_ARG for a null argument, WAV_E_OPEN when the file
 * cannot be opened (or is a directory), WAV_E_FORMAT for a file that is not
 * a WAVE file with an accepted fmt chunk, WAV_E_NO_MEMORY. */
int wav_open(const char *path, WavParser **out);

/* Hands out the next piece of data-chunk bytes: at most requested bytes
 * (0 asks for the whole rest of the current data chunk). *numSamples counts
 * bytes, not samples. *buffer points into the parser and stays valid until
 * the next wav_read or wav_close. WAV_E_END_OF_FILE when the file ends at a
 * chunk boundary, WAV_E_FORMAT when it ends inside a chunk header or inside
 * a data chunk (then *numSamples says how many bytes were due),
 * WAV_E_NO_MEMORY when the buffer cannot be grown (*numSamples 0). A null
 * parser or buffer writes a debug line on standard output and answers
 * WAV_E_INVALID_ARG. */
int wav_read(uint32_t *numSamples, WavParser *wavParserHandle, uint32_t requested,
             uint8_t **buffer);

/* Closes the file and frees the buffer, the path copy and the record.
 * A null parser is ignored. */
void wav_close(WavParser *parser);

/* The name of a result code; "Unknown" for 0 and any unlisted code. */
const char *wav_error_name(int code);

/* Reads the 12-byte RIFF header: WAV_HEADER_OK, WAV_HEADER_SHORT or
 * WAV_HEADER_MISMATCH ("RIFF" or "WAVE" missing). */
int wav_read_riff_header(FILE *stream, uint32_t *riff_size);

/* Finds the first fmt chunk after the current position, skipping every
 * other chunk (and the pad byte after an odd-sized one), and decodes it.
 * WAV_HEADER_OK leaves the stream just after the chunk (and its pad byte);
 * WAV_HEADER_SHORT when no usable fmt chunk is found; WAV_HEADER_MISMATCH
 * for a format tag other than 1, 3, 6 or 7. */
int wav_read_format(FILE *stream, uint32_t *format_tag, uint32_t *channels, uint32_t *sample_rate,
                    uint32_t *bits_per_sample);

/* Moves forward by count bytes: a seek, or reading and discarding on a
 * stream that cannot seek. Past the end of the file is allowed (the next
 * read then comes up short). 0 on success, -1 when the stream fails. */
int wav_skip(FILE *stream, uint64_t count);

#ifdef __cplusplus
}
#endif

#endif /* VOK_WAV_WAV_PARSER_H */
