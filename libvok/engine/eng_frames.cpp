// The fingerprints as numbers: documents decoded into frames and values,
// and frames encoded into documents. The families do the work; here the
// arguments are checked and their codes become the interface's.
#include "algo/spectral/sfp_family.h"
#include "algo/stream/stream.h"
#include "engine/eng_document.h"
#include "engine/eng_memory.h"
#include "engine/eng_registry.h"
#include "engine/eng_support.h"
#include "query/qe_xml_writer.h"
#include <vok/vok_engine.h>

namespace {

// A module's code as the interface answers it: conditions mean the same in
// every module.
ResultCode interface_code(ResultCode result)
{
    switch (ENG_CONDITION(result)) {
    case ENG_COND_NO_MEMORY:
        return ENG_E_NO_MEMORY;
    case ENG_COND_INVALID_ARG:
        return ENG_E_INVALID_ARG;
    case ENG_COND_BAD_DOCUMENT:
        return ENG_E_BAD_DOCUMENT;
    default:
        return result;
    }
}

// A family's decoder of a document read, with its output.
typedef ResultCode (*FamilyDecoder)(DocumentRead *read, void *out);

ResultCode decode_frames(DocumentRead *read, void *frames)
{
    return strm_decode_document(read, static_cast<EngineFrames *>(frames));
}

ResultCode decode_values(DocumentRead *read, void *values)
{
    return sfp_decode_document(read, static_cast<int16_t *>(values));
}

// Reads the first document of the text and hands it to the family's
// decoder; *consumed is the bytes it took, or the offset of its fault.
ResultCode decode(const char *text, size_t length, const char *family, FamilyDecoder decoder,
                  void *out, size_t *consumed)
{
    eng_clear_problem();
    DocumentRead read;
    ResultCode result = eng_read_document(text, length, family, &read);
    if (result == ENG_OK)
        result = decoder(&read, out);
    if (result == ENG_OK)
        *consumed = read.used;
    else if (result == ENG_E_BAD_DOCUMENT)
        *consumed = read.fault;
    eng_release_document(&read);
    return interface_code(result);
}

// Which family a handle belongs to, by the operations its registry row
// binds: a row of another family (a test's) has a state of its own shape.
bool is_streaming(const EngineHandle *handle)
{
    return handle && handle->entry && handle->state && handle->entry->create == strm_create;
}

bool is_spectral(const EngineHandle *handle)
{
    return handle && handle->entry && handle->state && handle->entry->create == sfp_create;
}

} // namespace

ResultCode eng_stream_frames(EngineHandle *handle, EngineFrames *frames)
{
    if (!is_streaming(handle) || !frames)
        return ENG_E_INVALID_ARG;
    return interface_code(strm_frames(handle->state, frames));
}

ResultCode eng_stream_discard(EngineHandle *handle, size_t count)
{
    if (!is_streaming(handle))
        return ENG_E_INVALID_ARG;
    return interface_code(strm_discard(handle->state, count));
}

ResultCode eng_decode_stream_xml(const char *text, size_t length, EngineFrames *frames,
                                 size_t *consumed)
{
    if (!text || !frames || !consumed)
        return ENG_E_INVALID_ARG;
    return decode(text, length, STRM_ALGORITHM_NAME, decode_frames, frames, consumed);
}

ResultCode eng_free_frames(EngineFrames *frames)
{
    if (!frames)
        return ENG_E_INVALID_ARG;
    if (strm_owns_frames(frames))
        eng_free(const_cast<uint32_t *>(frames->words));
    eng_memset(frames, 0, sizeof *frames);
    return ENG_OK;
}

ResultCode eng_encode_stream_xml(const EngineFrames *frames, char **text)
{
    if (!frames || !text)
        return ENG_E_INVALID_ARG;
    QueryElement *root = nullptr;
    const ResultCode result = strm_frames_document(frames, &root);
    if (result != ENG_OK)
        return interface_code(result);
    char *written = qe_write_xml(root, 1, 1, 1);
    qe_destroy(&root);
    if (!written)
        return ENG_E_NO_MEMORY;
    *text = written;
    return ENG_OK;
}

ResultCode eng_encode_stream_block(const EngineFrames *frames, size_t block, char **text)
{
    int32_t block_length = 0;
    if (!frames || !text || strm_frames_block_length(frames, &block_length) != ENG_OK)
        return ENG_E_INVALID_ARG;
    return interface_code(strm_frames_block_text(frames, block, text));
}

ResultCode eng_spectral_values(EngineHandle *handle, int16_t values[30])
{
    if (!is_spectral(handle) || !values)
        return ENG_E_INVALID_ARG;
    // Too little audio, or a steady signal, keeps the family's own code, as
    // eng_serialize_xml answers it.
    const ResultCode result = sfp_values(handle->state, values, ENG_SPECTRAL_VALUES);
    return result == SFP_E_NOT_COMPLETE ? result : interface_code(result);
}

ResultCode eng_decode_spectral_xml(const char *text, size_t length, int16_t values[30],
                                   size_t *consumed)
{
    if (!text || !values || !consumed)
        return ENG_E_INVALID_ARG;
    return decode(text, length, SFP_ALGORITHM_NAME, decode_values, values, consumed);
}

const char *eng_decode_problem(void)
{
    return eng_document_problem();
}
