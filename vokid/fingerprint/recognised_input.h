// Inputs that may be fingerprint documents or audio, told apart by their
// content; and whole inputs read as text.
#ifndef VOKID_FINGERPRINT_RECOGNISED_INPUT_H
#define VOKID_FINGERPRINT_RECOGNISED_INPUT_H

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "vokid/document/document.h"
#include "vokid/fingerprint/fingerprinter.h"
#include "vokid/input/audio_source.h"

namespace vokid {

// The largest document input read: a fingerprint of ten hours of audio
// takes about 20 MB.
constexpr size_t kMaxDocumentBytes = size_t{256} << 20;

// A whole file, or standard input for "-". Throws InputError.
std::string readInputText(const std::string &name, size_t limit = kMaxDocumentBytes);

// The input as it comes, in chunks of at most 64 kB, empty at its end: a
// file, or standard input for "-". Throws InputError.
std::function<std::string()> inputChunks(const std::string &name);

struct RecognisedInput {
    std::vector<Document> documents; // when it holds fingerprint documents
    std::optional<AudioInput> audio; // when it holds audio
};

// Reads the start of the input; documents are read whole (DecodeError when
// malformed), audio is left for fingerprinting.
RecognisedInput recogniseInput(const std::string &name);

} // namespace vokid

#endif
