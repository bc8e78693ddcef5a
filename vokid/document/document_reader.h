// Reads fingerprint documents back: one or more in a text, each either raw
// or wrapped in a server query (FPDATA of type ZUVOK or QDV), with every
// block checked against the byte code and the variant of streaming
// fingerprints told from their masks or their wrapping.
#ifndef VOKID_DOCUMENT_DOCUMENT_READER_H
#define VOKID_DOCUMENT_DOCUMENT_READER_H

#include <stdexcept>
#include <string_view>
#include <vector>

#include "vokid/document/document.h"

namespace vokid {

// A malformed document. The message says where it breaks: the document
// (counted from 1), then the block (its ORD) and the byte offset in the
// decoded block, or the line and column of the text.
class DecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::vector<Document> readDocuments(std::string_view text);

// Whether the start of an input is fingerprint documents rather than audio.
bool looksLikeDocuments(std::string_view start);

} // namespace vokid

#endif
