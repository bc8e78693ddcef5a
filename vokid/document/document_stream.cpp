#include "vokid/document/document_stream.h"

#include "vokid/document/document.h"
#include "vokid/support/engine.h"

namespace vokid {

void DocumentStream::Release::operator()(EngineDecoder *doomed) const
{
    eng_decoder_destroy(&doomed);
}

DocumentStream::DocumentStream(std::function<std::string()> reader) : read(std::move(reader))
{
    startEngine();
    EngineDecoder *made = nullptr;
    checkEngine("start a document decoder", eng_decoder_create(&made));
    decoder.reset(made);
}

DocumentStream::~DocumentStream() = default;

bool DocumentStream::next(EnginePiece &piece)
{
    for (;;) {
        const ResultCode result = eng_decoder_next(decoder.get(), &piece);
        if (result == ENG_E_BAD_DOCUMENT)
            throw DecodeError("document " + std::to_string(ended + 1) + ": " +
                              eng_decode_problem());
        checkEngine("read the document", result);
        if (piece.kind == ENG_PIECE_END)
            ++ended;
        if (piece.kind == ENG_PIECE_BLOCK || piece.kind == ENG_PIECE_END)
            return true;
        if (piece.kind == ENG_PIECE_DONE) {
            if (ended == 0)
                throw DecodeError("no fingerprint document in it");
            return false;
        }
        const std::string chunk = read();
        checkEngine("read the document", chunk.empty()
                                             ? eng_decoder_end(decoder.get())
                                             : eng_decoder_feed(decoder.get(), chunk.data(),
                                                                chunk.size()));
    }
}

std::string wrappingName(uint32_t wrapping, bool spectral, uint32_t algorithm)
{
    if (wrapping == ENG_WRAPPED_NONE)
        return "";
    if (!spectral && algorithm == 0)
        return wrapping == ENG_WRAPPED_ZUVOK ? "ZUVOK" : "QDV";
    return algorithm == ENG_ALG_STREAM1 ? "ZUVOK" : "QDV";
}

} // namespace vokid
