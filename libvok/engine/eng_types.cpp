#include <vok/eng_types.h>

uint32_t eng_sample_type_bits(SampleType type)
{
    switch (type) {
    case SAMPLE_PCM_U8:
    case SAMPLE_ALAW:
    case SAMPLE_MULAW:
        return 8;
    case SAMPLE_PCM_S16:
        return 16;
    default:
        return 0;
    }
}
