// Fingerprint documents read as their text comes: the engine's piecewise
// decoder fed chunk by chunk, handing out each block of a streaming
// document as soon as it is read, so that a text of any length takes the
// memory of one block and one chunk.
#ifndef VOKID_DOCUMENT_DOCUMENT_STREAM_H
#define VOKID_DOCUMENT_DOCUMENT_STREAM_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <vok/vok_engine.h>

namespace vokid {

class DocumentStream {
public:
    // `read` gives the next chunk of the text, empty at its end.
    explicit DocumentStream(std::function<std::string()> read);
    ~DocumentStream();
    DocumentStream(const DocumentStream &) = delete;
    DocumentStream &operator=(const DocumentStream &) = delete;

    // The next piece, ENG_PIECE_BLOCK or ENG_PIECE_END (the block's frames
    // are valid until the next call); false at the end of the text. Throws
    // DecodeError for a malformed document or a text without any ("document
    // N: ..."), EngineError, and whatever `read` throws.
    bool next(EnginePiece &piece);

private:
    struct Release {
        void operator()(EngineDecoder *decoder) const;
    };
    std::function<std::string()> read;
    std::unique_ptr<EngineDecoder, Release> decoder;
    uint32_t ended = 0; // documents read whole
};

// The query type a wrapped document came in, as vokid names it: the one
// its algorithm takes (Stream1 alone is wrapped as ZUVOK), or for a
// document without blocks, the one its wrapping names; "" when raw.
std::string wrappingName(uint32_t wrapping, bool spectral, uint32_t algorithm);

} // namespace vokid

#endif
