// The best alignment of two sub-fingerprint sequences: the offset of B in
// A at which their bits agree most beyond chance (the fewest differing
// bits, weighed by how many bits are compared), with the figures at that
// offset.
// Quiet frames hold the same generator words in every fingerprint, so two
// quiet stretches can match bit for bit; pairs with a quiet frame on
// either side are therefore left out of every error count, and the search
// never rests on them.
#ifndef VOKID_COMPARE_ALIGNMENT_H
#define VOKID_COMPARE_ALIGNMENT_H

#include <cstdint>

#include "vokid/compare/sub_fingerprints.h"

namespace vokid {

struct Alignment {
    int64_t offset = 0;      // B's word 0 pairs with A's word `offset`
    uint64_t pairs = 0;      // overlapping pairs of words
    uint64_t quietPairs = 0; // of them, pairs with a quiet frame on either side
    uint64_t errorBits = 0;  // differing bits over the other pairs
    uint64_t strongBits = 0; // bits that neither side's nearest kept mask marks weak
    uint64_t strongErrors = 0;

    uint64_t evidencePairs() const { return pairs - quietPairs; }
    // Bit error rates; negative when there is no pair to count.
    double ber() const;
    double strongBer() const;
};

// The figures for one offset.
Alignment alignAt(const SubFingerprints &a, const SubFingerprints &b, int64_t offset);

// Searches every offset at which the sequences overlap by at least 256
// pairs (or by all of the shorter one). Both must be non-empty.
Alignment bestAlignment(const SubFingerprints &a, const SubFingerprints &b);

} // namespace vokid

#endif
