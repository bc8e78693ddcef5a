// When two sub-fingerprint sequences are taken for the same recording: one
// rule for compare, identify, monitor and duplicates alike, chosen from
// measured distributions of the bit error rate (make bench prints them):
//   - there are at least minPairs pairs without a quiet frame on either
//     side: quiet frames hold the same generator words in every
//     fingerprint and are never evidence;
//   - the bit error rate over those pairs is at most the threshold: maxBer
//     over fullPairs pairs or more; over fewer, a threshold as many
//     standard deviations below chance (0.5), which shrink as the square
//     root of the pairs counted: 0.5 - (0.5 - maxBer) * sqrt(fullPairs /
//     pairs);
//   - the runner-up, the best candidate of another recording, is at least
//     minMargin worse. With no other candidate (compare) it is chance.
#ifndef VOKID_COMPARE_ACCEPTANCE_H
#define VOKID_COMPARE_ACCEPTANCE_H

#include <cstdint>

#include "vokid/compare/alignment.h"

namespace vokid {

struct AcceptanceRule {
    double maxBer;
    uint64_t fullPairs;
    double minMargin;
    uint64_t minPairs;

    // The bit error rate at or below which `pairs` pairs are the same
    // recording.
    double threshold(uint64_t pairs) const;
};

// Measured on 6-s clips (482 sub-fingerprints) of a generated library of
// 100 tracks, every speed hypothesis searched: clips of indexed tracks
// stay at or below 0.224 (white noise 10 dB below the music), the best
// alignments of other recordings (unknown ones, other recordings of an
// indexed piece, other tracks) at or above 0.293. On 3.4-s clips (256
// pairs) 0.160 and 0.211, the same distances from chance in standard
// deviations. The runner-up of a true match is at least 0.137 worse.
constexpr AcceptanceRule kAcceptance = {0.25, 480, 0.08, 256};

// A track heard in one window only of a clip searched in several.
constexpr AcceptanceRule kLoneWindowAcceptance = {0.22, 480, 0.08, 256};
// A match found at a tempo hypothesis (the clip's words laid on the
// track's grid): a cover, the same notes played at another tempo, is what
// the stretch makes look like the track.
constexpr AcceptanceRule kTempoAcceptance = {0.16, 480, 0.08, 256};

// The bit error rate of unrelated sequences.
constexpr double kChanceBer = 0.5;

bool accepts(const AcceptanceRule &rule, const Alignment &best, double runnerUpBer = kChanceBer);

} // namespace vokid

#endif
