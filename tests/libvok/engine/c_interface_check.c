/* Compiled as C89 against the shared library and as C99 against the
 * static one: the engine's public interface must be usable from any C
 * program. Exits 0 when every call answers as documented. */
#include <stdio.h>
#include <string.h>

#include <vok/vok_engine.h>

int main(void)
{
    EngineConfig config = {0, 0, 0};
    EngineHandle *handle = 0;
    char *text = 0;
    int failures = 0;

    failures += eng_initialize(&config) != ENG_OK;
    failures += eng_algorithm_count() != 5u;
    failures += eng_create(0, SAMPLE_PCM_S16, 44100, 2, &handle) != ENG_E_UNKNOWN_ALGORITHM;
    failures += handle != 0;
    failures += eng_serialize_xml(handle, &text) != ENG_E_INVALID_ARG;
    failures += eng_free_text(&text) != ENG_OK;
    failures += eng_destroy(&handle) != ENG_OK;
    failures += eng_sample_type_bits(SAMPLE_PCM_S16) != 16u;
    failures += ENG_CONDITION(ENG_E_UNKNOWN_ALGORITHM) != ENG_COND_UNKNOWN_ALGO;
    failures +=
        strcmp(eng_result_text(ENG_E_UNKNOWN_ALGORITHM), "engine: unknown algorithm id") != 0;
    failures += strcmp(eng_version(), VOK_EXPECTED_VERSION) != 0;
    if (failures)
        fprintf(stderr, "%d checks failed\n", failures);
    return failures != 0;
}
