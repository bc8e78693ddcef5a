// The search of a query (a clip's sub-fingerprints) in the index:
//   1. lookup: every sub-fingerprint of the query that is not a quiet
//      frame, and each variant with one of its weak bits toggled (the bits
//      its nearest kept mask marks as the likeliest to flip), is looked up
//      as a whole 32-bit word in the inverted index;
//   2. vote: each posting (track, position) found for query position i
//      votes for the query starting at position - i of that track;
//   3. verify: the best-voted alignments are measured against the stored
//      sequences, a few positions either side, by their bit error rate
//      over the pairs without quiet frames;
//   4. judge: the best is accepted by the acceptance rule, against the
//      best alignment of another recording. Tracks that match as well and
//      are the same recording as the best (their stored sequences agree:
//      a copy, a re-encoding) are no rivals: they are reported with it.
#ifndef VOKID_SEARCH_MATCHER_H
#define VOKID_SEARCH_MATCHER_H

#include <cstdint>
#include <vector>

#include "vokid/compare/acceptance.h"
#include "vokid/compare/alignment.h"
#include "vokid/compare/sub_fingerprints.h"
#include "vokid/index/index_store.h"
#include "vokid/search/vote_counter.h"

namespace vokid {

struct Candidate {
    uint32_t track = 0;
    uint32_t votes = 0;
    Alignment alignment; // offset: the track's position of query position 0

    double ber() const { return alignment.ber(); }
};

struct Match {
    bool found = false;    // there was a candidate at all
    bool accepted = false; // by the acceptance rule
    Candidate best;
    double runnerUpBer = kChanceBer;      // the best of another recording
    std::vector<Candidate> sameRecording; // other tracks, the same recording as best
    std::vector<Candidate> ranked;        // each candidate track's best alignment, best first

    // How far the best stands from the runner-up: (runner-up - best) /
    // runner-up, 1 for a perfect match, 0 when another recording is as good.
    double confidence() const;
};

class Matcher {
public:
    explicit Matcher(IndexView &view, const AcceptanceRule &rule = kAcceptance);
    // `exclude`: a track left out of the search (0: none).
    Match search(const SubFingerprints &query, uint32_t exclude = 0);
    // How fast the query runs through the track of a match, in track
    // sub-fingerprints per query sub-fingerprint: 1 in step, 1.02 for a
    // clip played 2% faster than the query was read. From where the two
    // halves of the query align best; 1 for a query too short to tell.
    double pace(const SubFingerprints &query, const Candidate &match);

private:
    void vote(const SubFingerprints &query, uint32_t exclude);
    std::vector<Candidate> bestVoted() const;
    Candidate verify(const SubFingerprints &query, Candidate candidate, const Stretch &stretch);
    void checkPostings(uint32_t track, const SubFingerprints &stored, int64_t first) const;
    bool sameRecording(const Candidate &a, const Candidate &b, size_t length);

    IndexView &view;
    AcceptanceRule rule;
    std::vector<uint64_t> lookups; // word << 32 | query position
    std::vector<uint32_t> words;   // of the lookups, ascending, each once
    PostingLists found;            // of each word
    VoteCounter votes;
    std::vector<StretchRequest> asked; // the candidates' stretches
    std::vector<Stretch> stretches;
};

} // namespace vokid

#endif
