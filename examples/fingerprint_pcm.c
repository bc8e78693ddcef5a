/* Fingerprints raw audio with libvok: 16-bit little-endian stereo PCM on
 * standard input, at the sample rate given as the only argument, printed as
 * a Stream1 fingerprint document.
 *
 *   ffmpeg -loglevel error -i song.mp3 -f s16le -ac 2 -ar 44100 - | fingerprint_pcm 44100
 *
 * Build: cc fingerprint_pcm.c $(pkg-config --cflags --libs vok)
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vok/vok_engine.h>

#define FRAME_BYTES 4 /* two channels of 16 bits */

int main(int argc, char **argv)
{
    static uint8_t buffer[1 << 16];
    EngineConfig config = {NULL, 0, 0};
    EngineHandle *handle = NULL;
    ResultCode result;
    size_t held = 0, got;
    uint8_t done = 0;
    char *text = NULL;
    unsigned long rate = argc == 2 ? strtoul(argv[1], NULL, 10) : 0;

    if (rate == 0 || (uint32_t)rate != rate) {
        fprintf(stderr, "usage: %s SAMPLE_RATE < audio.s16le\n", argv[0]);
        return 2;
    }
    eng_initialize(&config);
    result = eng_create(ENG_ALG_STREAM1, SAMPLE_PCM_S16, (uint32_t)rate, 2, &handle);
    while (result == ENG_OK && (got = fread(buffer + held, 1, sizeof buffer - held, stdin)) > 0) {
        /* Whole frames go to the engine; a split frame waits for its rest. */
        size_t whole = (held + got) / FRAME_BYTES * FRAME_BYTES;
        result = eng_add_audio(handle, buffer, (uint32_t)whole, &done);
        held = held + got - whole;
        memmove(buffer, buffer + whole, held);
    }
    if (result == ENG_OK && !done) {
        fprintf(stderr, "fingerprint_pcm: not enough audio for a fingerprint\n");
        eng_destroy(&handle);
        return 1;
    }
    if (result == ENG_OK)
        result = eng_serialize_xml(handle, &text);
    if (result == ENG_OK)
        fputs(text, stdout);
    eng_free_text(&text);
    eng_destroy(&handle);
    if (result != ENG_OK) {
        fprintf(stderr, "fingerprint_pcm: %s (error code %08lx)\n", eng_result_text(result),
                (unsigned long)result);
        return 1;
    }
    return 0;
}
