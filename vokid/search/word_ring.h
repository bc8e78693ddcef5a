// The newest sub-fingerprints of a print that runs for as long as its
// audio does: words are appended as the engine gives them and dropped
// once nothing needs them, so that memory follows what is kept, never the
// recording's length. Positions count from the print's first word.
#ifndef VOKID_SEARCH_WORD_RING_H
#define VOKID_SEARCH_WORD_RING_H

#include <cstdint>

#include "vokid/compare/sub_fingerprints.h"

namespace vokid {

class WordRing {
public:
    void append(const SubFingerprints &more);
    // Forgets the words before `position` (those already gone stay gone).
    void dropBefore(int64_t position);
    // Words [from, from + length), clipped to those held.
    SubFingerprints stretch(int64_t from, int64_t length) const;

    int64_t begin() const { return base + static_cast<int64_t>(dropped); }
    int64_t end() const { return base + static_cast<int64_t>(held.size()); }
    size_t heldWords() const { return held.size() - dropped; }

private:
    SubFingerprints held; // words from `base` on; the first `dropped` of them are gone
    int64_t base = 0;
    size_t dropped = 0;
};

} // namespace vokid

#endif
