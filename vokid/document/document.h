// Fingerprint documents given as input, read back into numbers by the
// engine: one or more in a text, each raw or wrapped in a lookup-server
// query, as vok writes them.
#ifndef VOKID_DOCUMENT_DOCUMENT_H
#define VOKID_DOCUMENT_DOCUMENT_H

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "vokid/compare/sub_fingerprints.h"

namespace vokid {

enum class Family { Streaming, Spectral };

struct Document {
    Family family = Family::Streaming;
    // Streaming: ENG_ALG_STREAM1, _STREAM4 or _STREAM6, told by the masks;
    // 0 without blocks. Spectral: 0 (FileFixed and FileFloat documents are
    // alike).
    uint32_t algorithm = 0;
    std::string wrapping;         // "ZUVOK" or "QDV" when it came in a server query
    SubFingerprints frames;       // streaming: every block's sub-fingerprints
    std::vector<uint32_t> values; // spectral: the values as written (0 to 65535)

    size_t blockCount() const { return frames.size() / ENG_BLOCK_FRAMES; }
};

// A malformed document: the message says which (counted from 1), where
// (line and column) and what is wrong.
class DecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::vector<Document> readDocuments(std::string_view text);

// Whether the start of an input is fingerprint documents rather than audio
// (in UTF-8 or UTF-16, see document_text.h).
bool looksLikeDocuments(std::string_view start);

// Whether the start of an input is white space alone, so far: more must be
// read to tell documents from audio.
bool onlySpaceSoFar(std::string_view start);

// The BASE64 text of whole block `block` (from 0) of streaming frames, as
// the document's FP_BLOCK element carries it.
std::string blockText(const SubFingerprints &frames, uint32_t algorithm, size_t block);

} // namespace vokid

#endif
