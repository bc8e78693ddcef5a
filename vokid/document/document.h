// A fingerprint document as read back: the streaming fingerprint's
// sub-fingerprints and kept masks (all blocks in order), or the spectral
// fingerprint's 30 values.
#ifndef VOKID_DOCUMENT_DOCUMENT_H
#define VOKID_DOCUMENT_DOCUMENT_H

#include <cstdint>
#include <string>
#include <vector>

namespace vokid {

enum class Family { Streaming, Spectral };

constexpr size_t kSpectralValues = 30;

struct Document {
    Family family = Family::Streaming;
    std::string wrapping; // "ZUVOK" or "QDV" when it came in a server query

    // The variant ("Stream1", "Stream4", "FileFixed or FileFloat", ...)
    // and what told it.
    std::string variant;
    std::string variantBasis;

    // Streaming fingerprints.
    unsigned blockLength = 0;            // seconds per block: 3, or 6 for engine id 5
    unsigned weakBits = 0;               // weak bits per mask, 14 or 8; 0 without blocks
    std::vector<std::string> blockTexts; // each block's BASE64 text
    std::vector<uint32_t> words;         // 256 per block
    std::vector<uint32_t> masks;         // 86 per block: of words 0, 3, ..., 255
    std::vector<uint8_t> quiet;          // per word: 1 when it stands for a quiet frame

    // Spectral fingerprints: the 30 values as written (0 to 65535).
    std::vector<uint32_t> values;

    size_t blockCount() const;
    // Seconds between consecutive sub-fingerprints: 64 (or 128) samples at
    // 5512.5 Hz.
    double frameSeconds() const;
};

} // namespace vokid

#endif
