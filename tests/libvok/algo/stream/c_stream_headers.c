/* The streaming fingerprint's headers compile as C, and a C program can
 * create, feed, serialise and destroy a state through them. */
#include <stdio.h>

#include "algo/stream/b64.h"
#include "algo/stream/bw.h"
#include "algo/stream/rfft.h"
#include "algo/stream/strm_internal.h"
#include "algo/stream/strm_lanes.h"
#include "engine/eng_memory.h"

int main(void)
{
    void *state = NULL;
    QueryElement *root = NULL;
    uint8_t silence[4096] = {0};
    uint8_t ready = 0;
    char *text = NULL;
    uint32_t length = 0;

    eng_mem_initialize(0, 0);
    if (strm_create(3, 44100, SAMPLE_PCM_S16, 2, &state) != ENG_OK)
        return 1;
    if (strm_add_audio(state, silence, sizeof(silence), &ready) != ENG_OK || ready != 0)
        return 2;
    if (strm_serialize(state, &root) != ENG_OK)
        return 3;
    qe_destroy(&root);
    if (strm_destroy(state) != ENG_OK)
        return 4;
    if (b64_encode(silence, 3, &text, &length, 1) != ENG_OK || length != 5)
        return 5;
    eng_free(text);
    if (bw_byte_codes()[0].length != 1 || rfft_size_tables(2048)->twiddle_count != 1534)
        return 6;
    if (!strm_path_available(STRM_PATH_SCALAR) || strm_path_lanes(STRM_PATH_AVX512) != 16)
        return 7;
    puts("streaming headers usable from C");
    return 0;
}
