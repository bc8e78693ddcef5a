/* The fingerprint as numbers with libvok: raw 16-bit little-endian stereo
 * PCM on standard input, at the sample rate given, fingerprinted with the
 * algorithm given (1 FileFixed, 2 FileFloat, 3 Stream1, 4 Stream4). It
 * prints what the handle holds, then checks the document round trip: the
 * handle's document decoded, as it is and wrapped in a lookup-server
 * query as `vok -om zuserver` writes it, gives the handle's whole blocks
 * (or its 30 values), and those encoded again give the document's bytes.
 *
 *   ffmpeg -loglevel error -i song.mp3 -f s16le -ac 2 -ar 44100 - | frames 3 44100
 *
 * Build: cc frames.c $(pkg-config --cflags --libs vok)
 * Exit code 0 when every check holds, 1 otherwise, 2 for a usage error.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vok/vok_engine.h>

#define FRAME_BYTES 4 /* two channels of 16 bits */

static int failed(const char *what, ResultCode result)
{
    fprintf(stderr, "frames: %s: %s (error code %08lx)\n", what, eng_result_text(result),
            (unsigned long)result);
    return 1;
}

/* Feeds standard input to the handle; answers the engine's done flag. */
static ResultCode add_input(EngineHandle *handle, uint8_t *done)
{
    static uint8_t buffer[1 << 16];
    size_t held = 0, got;
    ResultCode result = ENG_OK;
    while (result == ENG_OK && (got = fread(buffer + held, 1, sizeof buffer - held, stdin)) > 0) {
        size_t whole = (held + got) / FRAME_BYTES * FRAME_BYTES;
        result = eng_add_audio(handle, buffer, (uint32_t)whole, done);
        held = held + got - whole;
        memmove(buffer, buffer + whole, held);
    }
    return result;
}

/* The document as vok -om zuserver wraps it: < > and " escaped, inside
 * FPDATA of type ZUVOK for Stream1 and QDV for every other algorithm. */
static char *wrap(const char *text, uint32_t algorithm)
{
    const char *type = algorithm == ENG_ALG_STREAM1 ? "ZUVOK" : "QDV";
    char *out = malloc(6 * strlen(text) + 200), *at;
    if (!out)
        return NULL;
    at = out + sprintf(out, "<ZUSERVER_QUERY_LIST><ZUSERVER_QUERY ID=\"1\" "
                            "OUT=\"ALBUM_RESPONSE\"><FPDATA TYPE=\"%s\">", type);
    for (; *text; ++text) {
        const char *entity = *text == '<' ? "&lt;" : *text == '>' ? "&gt;"
                             : *text == '"' ? "&quot;" : NULL;
        if (entity)
            at += sprintf(at, "%s", entity);
        else
            *at++ = *text;
    }
    strcpy(at, "</FPDATA></ZUSERVER_QUERY></ZUSERVER_QUERY_LIST>\n\n\n\n\n");
    return out;
}

/* Whole blocks equal: the same algorithm, count and numbers. */
static int same_blocks(const EngineFrames *handle, const EngineFrames *decoded)
{
    size_t n = handle->complete;
    return decoded->algorithm == handle->algorithm && decoded->count == n &&
           decoded->complete == n &&
           memcmp(decoded->words, handle->words, n * sizeof(uint32_t)) == 0 &&
           memcmp(decoded->masks, handle->masks, n * sizeof(uint32_t)) == 0 &&
           memcmp(decoded->quiet, handle->quiet, n) == 0;
}

/* Decodes one form of the document and compares it with the handle's. */
static int check_form(const char *form, const char *text, const EngineFrames *frames)
{
    EngineFrames decoded;
    size_t used = 0;
    ResultCode result = eng_decode_stream_xml(text, strlen(text), &decoded, &used);
    int bad;
    if (result != ENG_OK) {
        fprintf(stderr, "frames: %s document: %s\n", form, eng_decode_problem());
        return failed("decode", result);
    }
    bad = !same_blocks(frames, &decoded) || used != strlen(text);
    printf("%s document: %lu sub-fingerprints, %s the handle's whole blocks\n", form,
           (unsigned long)decoded.count, bad ? "NOT" : "equal to");
    eng_free_frames(&decoded);
    return bad;
}

static int streaming(EngineHandle *handle, uint32_t algorithm)
{
    EngineFrames frames;
    char *text = NULL, *wrapped = NULL, *again = NULL;
    int bad = 0;
    ResultCode result = eng_stream_frames(handle, &frames);
    if (result != ENG_OK)
        return failed("frames", result);
    printf("algorithm %lu: %lu sub-fingerprints, %lu in whole blocks, one every %.6f s, "
           "the first at %.6f s\n",
           (unsigned long)frames.algorithm, (unsigned long)frames.count,
           (unsigned long)frames.complete, frames.frame_seconds, frames.first_offset_seconds);
    if (frames.count > 0)
        printf("first: %08lx, weak bits %08lx%s\n", (unsigned long)frames.words[0],
               (unsigned long)frames.masks[0], frames.quiet[0] ? ", quiet" : "");
    result = eng_serialize_xml(handle, &text);
    if (result != ENG_OK)
        return failed("serialize", result);
    wrapped = wrap(text, algorithm);
    bad = !wrapped || check_form("raw", text, &frames) || check_form("wrapped", wrapped, &frames);
    if (!bad && (result = eng_encode_stream_xml(&frames, &again)) != ENG_OK)
        bad = failed("encode", result);
    if (!bad) {
        bad = strcmp(again, text) != 0;
        printf("encoded again: %s %lu bytes\n", bad ? "NOT" : "the same", (unsigned long)strlen(text));
    }
    free(wrapped);
    eng_free_text(&again);
    eng_free_text(&text);
    return bad;
}

static int spectral(EngineHandle *handle)
{
    int16_t values[30], decoded[30];
    char *text = NULL;
    size_t used = 0, i;
    int bad;
    ResultCode result = eng_spectral_values(handle, values);
    if (result != ENG_OK)
        return failed("values", result);
    printf("values:");
    for (i = 0; i < 30; ++i)
        printf(" %u", (unsigned)(uint16_t)values[i]);
    printf("\n");
    result = eng_serialize_xml(handle, &text);
    if (result == ENG_OK)
        result = eng_decode_spectral_xml(text, strlen(text), decoded, &used);
    eng_free_text(&text);
    if (result != ENG_OK)
        return failed("document", result);
    bad = memcmp(values, decoded, sizeof values) != 0;
    printf("document: %s values\n", bad ? "NOT the same" : "the same");
    return bad;
}

int main(int argc, char **argv)
{
    EngineConfig config = {NULL, 0, 0};
    EngineHandle *handle = NULL;
    unsigned long algorithm = argc == 3 ? strtoul(argv[1], NULL, 10) : 0;
    unsigned long rate = argc == 3 ? strtoul(argv[2], NULL, 10) : 0;
    uint8_t done = 0;
    ResultCode result;
    int bad;

    if (algorithm < 1 || algorithm > 4 || rate == 0 || (uint32_t)rate != rate) {
        fprintf(stderr, "usage: %s ALGORITHM SAMPLE_RATE < audio.s16le\n", argv[0]);
        return 2;
    }
    eng_initialize(&config);
    result = eng_create((uint32_t)algorithm, SAMPLE_PCM_S16, (uint32_t)rate, 2, &handle);
    if (result == ENG_OK)
        result = add_input(handle, &done);
    if (result != ENG_OK)
        return failed("fingerprint", result);
    if (!done) {
        fprintf(stderr, "frames: not enough audio for a fingerprint\n");
        eng_destroy(&handle);
        return 1;
    }
    bad = algorithm >= ENG_ALG_STREAM1 ? streaming(handle, (uint32_t)algorithm) : spectral(handle);
    eng_destroy(&handle);
    return bad ? 1 : 0;
}
