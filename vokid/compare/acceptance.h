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

// identify searches a clip in windows of 6.4 s, 3.2 s apart, each as
// played, at 10 tempos and at 10 speeds: more tries, more chances for a
// wrong recording to look good. The best wrong-recording bit error rate
// over every window and hypothesis of a clip (vokid_index_eval wrong; 103
// clips: 44 unindexed recordings, 20 speeches, 40 clips of indexed tracks
// with their own track left out; the 100- and the 10000-track index
// alike):
//                         6 s (1 window)   30 s (9 windows)
//   as played, speeds     0.293            0.289
//   tempos                0.216            0.197
// The tempos are what other recordings of an indexed piece (covers,
// played 5% faster) come near at: their notes laid on the track's grid
// line up. Tempo-changed clips of indexed tracks stay at or below 0.096
// (40 clips at 3% and 5%, either way), so a match at a tempo needs 0.16:
// 0.037 below the covers at 30 s. The speeds and windows lower the best
// wrong rate by 0.004 only from 6 to 30 s, but it falls with every window
// a longer clip adds, so a track heard in one window only of a clip of
// several needs 0.22 (0.069 below it at 30 s); two windows that agree on
// a track and its position are as unlikely to be wrong as one window
// under the rule above.
constexpr AcceptanceRule kLoneWindowAcceptance = {0.22, 480, 0.08, 256};
constexpr AcceptanceRule kTempoAcceptance = {0.16, 480, 0.08, 256};

// The bit error rate of unrelated sequences.
constexpr double kChanceBer = 0.5;

bool accepts(const AcceptanceRule &rule, const Alignment &best, double runnerUpBer = kChanceBer);

} // namespace vokid

#endif
