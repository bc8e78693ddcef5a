// Result codes in words, for the messages of programs built on the engine.
// The README's table of result codes uses the same words.
#include <vok/vok_engine.h>

namespace {

struct ResultText {
    ResultCode code;
    const char *text;
};

const ResultText kTexts[] = {
    {ENG_OK, "success"},
    {QE_E_NO_MEMORY, "query document: out of memory"},
    {QE_E_NOT_FOUND, "query document: path element not found"},
    {QE_E_INVALID_ARG, "query document: invalid argument"},
    {QE_E_BAD_DOCUMENT, "query document: the text is not XML the reader takes"},
    {TB_E_NO_MEMORY, "text buffer: out of memory"},
    {TB_E_INVALID_ARG, "text buffer: invalid argument"},
    {MEM_E_ALREADY_STARTED, "memory layer: already started"},
    {MEM_E_NOT_STARTED, "memory layer: not started (eng_initialize was not called)"},
    {ENG_E_NO_CONFIG, "engine start-up: no configuration given"},
    {ENG_E_NO_MEMORY, "engine: no memory for the handle, or the engine is not started"},
    {ENG_E_INVALID_ARG, "engine: null handle, buffer or out-pointer"},
    {ENG_E_NO_TEXT, "engine: the fingerprint could not be turned into text"},
    {ENG_E_UNKNOWN_ALGORITHM, "engine: unknown algorithm id"},
    {ENG_E_BAD_DOCUMENT, "engine: the text is not a fingerprint document it reads (damaged or "
                         "foreign)"},
    {B64_E_NO_MEMORY, "BASE64 encoder: out of memory"},
    {B64_E_INVALID_ARG, "BASE64 encoder: invalid argument"},
    {B64_E_BAD_DOCUMENT, "BASE64 decoder: not the canonical BASE64 text of some bytes"},
    {RFFT_E_NO_MEMORY, "transform plan: out of memory"},
    {RFFT_E_INVALID_ARG, "transform plan: size not a power of two from 8 to 1048576"},
    {STRM_E_NO_MEMORY, "streaming fingerprint: out of memory"},
    {STRM_E_INVALID_ARG,
     "streaming fingerprint: sample rate, sample type, channel count or argument not supported"},
    {STRM_E_NO_DATA, "streaming fingerprint: no data (no bytes per frame)"},
    {STRM_E_BAD_DOCUMENT, "streaming fingerprint: a block that is not the exact code of one block"},
    {SFP_E_NO_MEMORY,
     "spectral fingerprint: out of memory, or a sample rate FileFixed does not support"},
    {SFP_E_INVALID_ARG,
     "spectral fingerprint: sample rate, sample type, channel count, byte count or argument "
     "not supported"},
    {SFP_E_NO_DATA, "spectral fingerprint: no data"},
    {SFP_S_COMPLETE, "spectral fingerprint: complete (internal status)"},
    {SFP_E_NOT_COMPLETE,
     "spectral fingerprint: not complete (too little audio), or not computable (a steady signal)"},
};

} // namespace

const char *eng_result_text(ResultCode code)
{
    for (const ResultText &entry : kTexts) {
        if (entry.code == code)
            return entry.text;
    }
    return "unknown result code";
}
