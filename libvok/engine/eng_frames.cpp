// The fingerprints as numbers: placeholders until the families provide them.
#include <vok/vok_engine.h>

ResultCode eng_stream_frames(EngineHandle *, EngineFrames *)
{
    return ENG_E_INVALID_ARG;
}

ResultCode eng_stream_discard(EngineHandle *, size_t)
{
    return ENG_E_INVALID_ARG;
}

ResultCode eng_decode_stream_xml(const char *, size_t, EngineFrames *, size_t *)
{
    return ENG_E_INVALID_ARG;
}

ResultCode eng_free_frames(EngineFrames *)
{
    return ENG_E_INVALID_ARG;
}

ResultCode eng_encode_stream_xml(const EngineFrames *, char **)
{
    return ENG_E_INVALID_ARG;
}

ResultCode eng_encode_stream_block(const EngineFrames *, size_t, char **)
{
    return ENG_E_INVALID_ARG;
}

ResultCode eng_spectral_values(EngineHandle *, int16_t *)
{
    return ENG_E_INVALID_ARG;
}

ResultCode eng_decode_spectral_xml(const char *, size_t, int16_t *, size_t *)
{
    return ENG_E_INVALID_ARG;
}

const char *eng_decode_problem(void)
{
    return "";
}
