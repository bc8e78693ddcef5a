#include "vokid/search/matcher.h"

#include <algorithm>
#include <string>

#include "vokid/index/index_error.h"

namespace vokid {

namespace {

// A word with more postings than this (a sustained tone, a drum loop
// repeated through a whole collection) says little about where a query
// comes from, and would cost more than all other lookups together. In
// the benchmark's library, 99.9% of lookups find fewer than 100.
constexpr size_t kMaxPostings = 256;
// Alignments verified per query: the true one is nearly always the best
// voted; the others measure the runner-up.
constexpr size_t kCandidates = 12;
// Offsets verified either side of a voted one: a clip starts between two
// sub-fingerprints of the track, and a clip read back at a speed within
// 0.5% of its own drifts by up to 2.4 sub-fingerprints over 6 s.
constexpr int64_t kRadius = 3;
// A query's halves are aligned within this many sub-fingerprints of
// where they would be in step: at 3% off, 6 s drift by 7.
constexpr int64_t kPaceRadius = 10;
// Pairs a half needs to tell its offset: a second of audio.
constexpr uint64_t kMinPacePairs = 86;
// Voted offsets of one track closer than this are one candidate.
constexpr int64_t kSeparation = 2 * kRadius + 1;

// Enough evidence first, then the lower bit error rate, then more evidence.
bool better(const Alignment &x, const Alignment &y, uint64_t minPairs)
{
    const bool xEnough = x.evidencePairs() >= minPairs;
    const bool yEnough = y.evidencePairs() >= minPairs;
    if (xEnough != yEnough)
        return xEnough;
    if (x.evidencePairs() == 0 || y.evidencePairs() == 0)
        return x.evidencePairs() > y.evidencePairs();
    if (x.ber() != y.ber())
        return x.ber() < y.ber();
    return x.evidencePairs() > y.evidencePairs();
}

// The best alignment of `b` in `a` at offsets center - kRadius to center +
// kRadius (offsets of b's word 0 in a's numbering, a starting at `aFirst`).
Alignment bestNear(const SubFingerprints &a, int64_t aFirst, const SubFingerprints &b,
                   int64_t center, uint64_t minPairs)
{
    Alignment best;
    best.offset = center;
    if (a.size() == 0 || b.size() == 0)
        return best;
    for (int64_t offset = center - kRadius; offset <= center + kRadius; ++offset) {
        Alignment alignment = alignAt(a, b, offset - aFirst);
        alignment.offset = offset;
        if (better(alignment, best, minPairs))
            best = alignment;
    }
    return best;
}

} // namespace

double Match::confidence() const
{
    if (!found || runnerUpBer <= 0 || best.alignment.evidencePairs() == 0)
        return 0;
    return std::clamp((runnerUpBer - best.ber()) / runnerUpBer, 0.0, 1.0);
}

Matcher::Matcher(IndexView &indexView, const AcceptanceRule &acceptance)
    : view(indexView), rule(acceptance)
{
}

void Matcher::vote(const SubFingerprints &query, uint32_t exclude)
{
    lookups.clear();
    for (size_t i = 0; i < query.size(); ++i) {
        if (query.quiet[i])
            continue;
        const uint64_t position = i;
        const uint32_t word = query.words[i];
        lookups.push_back(uint64_t{word} << 32 | position);
        for (uint32_t weak = query.weak[i]; weak != 0; weak &= weak - 1u)
            lookups.push_back(uint64_t{word ^ (weak & (0u - weak))} << 32 | position);
    }
    // In order of word: equal words are looked up once, all in one call,
    // and neighbouring lookups find their pages already at hand.
    std::sort(lookups.begin(), lookups.end());
    words.clear();
    for (uint64_t lookup : lookups)
        if (words.empty() || words.back() != static_cast<uint32_t>(lookup >> 32))
            words.push_back(static_cast<uint32_t>(lookup >> 32));
    view.postings(words, kMaxPostings, found);
    votes.clear();
    size_t k = 0; // the first lookup of word w
    for (size_t w = 0; w < words.size(); ++w) {
        size_t end = k + 1;
        while (end < lookups.size() && static_cast<uint32_t>(lookups[end] >> 32) == words[w])
            ++end;
        for (const Posting &posting : found.at(w)) {
            if (posting.track == exclude)
                continue;
            for (size_t j = k; j < end; ++j)
                votes.add(posting.track,
                          int64_t{posting.position} - static_cast<uint32_t>(lookups[j]));
        }
        k = end;
    }
}

std::vector<Candidate> Matcher::bestVoted() const
{
    std::vector<Candidate> chosen;
    for (const VoteCounter::Tally &tally : votes.best(kCandidates, kSeparation)) {
        Candidate candidate;
        candidate.track = tally.track;
        candidate.votes = tally.score;
        candidate.alignment.offset = tally.offset;
        chosen.push_back(candidate);
    }
    return chosen;
}

// `stretch`: the track's stretch around the candidate's offset, kRadius
// on each side of the query.
Candidate Matcher::verify(const SubFingerprints &query, Candidate candidate, const Stretch &stretch)
{
    const int64_t center = candidate.alignment.offset;
    const SubFingerprints &stored = stretch.frames;
    const int64_t first = stretch.first;
    // The stretch holds the position of a posting that voted for it.
    if (stored.size() == 0)
        throw IndexDamaged("a posting names position " + std::to_string(center) + " of track " +
                           std::to_string(candidate.track) + ", which it does not hold");
    checkPostings(candidate.track, stored, first);
    candidate.alignment = bestNear(stored, first, query, center, rule.minPairs);
    return candidate;
}

// Every posting found that points into the stretch of a track read back
// names the word stored there, which is no quiet frame: the postings and
// the stored sequences are the same track's, and neither is damaged where
// the search looked.
void Matcher::checkPostings(uint32_t track, const SubFingerprints &stored, int64_t first) const
{
    const int64_t end = first + static_cast<int64_t>(stored.size());
    for (size_t w = 0; w < words.size(); ++w)
        for (const Posting &posting : found.at(w)) {
            const int64_t at = posting.position;
            if (posting.track != track || at < first || at >= end)
                continue;
            const auto i = static_cast<size_t>(at - first);
            if (stored.words[i] != words[w] || stored.quiet[i] != 0)
                throw IndexDamaged("a posting of track " + std::to_string(track) +
                                   " names a word that its sequence does not hold at " +
                                   std::to_string(at));
        }
}

// Whether two tracks are the same recording where the query met them:
// their stored sequences over the query's stretch, by the same rule.
bool Matcher::sameRecording(const Candidate &a, const Candidate &b, size_t length)
{
    int64_t firstA = 0;
    const SubFingerprints stretchA = view.sequence(a.track, a.alignment.offset, length, firstA);
    const int64_t shift = b.alignment.offset - a.alignment.offset;
    int64_t firstB = 0;
    const SubFingerprints stretchB =
        view.sequence(b.track, firstA + shift - kRadius, stretchA.size() + 2 * kRadius, firstB);
    return accepts(rule, bestNear(stretchB, firstB, stretchA, firstA + shift, rule.minPairs));
}

double Matcher::pace(const SubFingerprints &query, const Candidate &match)
{
    const auto half = static_cast<int64_t>(query.size() / 2);
    if (half < static_cast<int64_t>(kMinPacePairs))
        return 1;
    // Where a half aligns best within kPaceRadius of where it would in step.
    const auto bestOffset = [&](int64_t from) {
        const SubFingerprints part = stretchOf(query, from, half);
        const int64_t center = match.alignment.offset + from;
        int64_t first = 0;
        const SubFingerprints stored =
            view.sequence(match.track, center - kPaceRadius, part.size() + 2 * kPaceRadius, first);
        Alignment best;
        best.offset = center;
        for (int64_t offset = center - kPaceRadius; offset <= center + kPaceRadius; ++offset) {
            Alignment alignment = alignAt(stored, part, offset - first);
            alignment.offset = offset;
            if (better(alignment, best, kMinPacePairs))
                best = alignment;
        }
        return best.offset;
    };
    const int64_t first = bestOffset(0), second = bestOffset(half);
    return static_cast<double>(second - first) / static_cast<double>(half);
}

Match Matcher::search(const SubFingerprints &query, uint32_t exclude)
{
    Match match;
    vote(query, exclude);
    std::vector<Candidate> candidates = bestVoted();
    // Every candidate's stretch in one call: one round trip to a server.
    asked.clear();
    for (const Candidate &candidate : candidates)
        asked.push_back({candidate.track, candidate.alignment.offset - kRadius,
                         query.size() + 2 * kRadius});
    view.sequences(asked, stretches);
    for (size_t i = 0; i < candidates.size(); ++i)
        candidates[i] = verify(query, candidates[i], stretches[i]);
    std::stable_sort(candidates.begin(), candidates.end(),
                     [&](const Candidate &x, const Candidate &y) {
                         return better(x.alignment, y.alignment, rule.minPairs);
                     });
    // The best of each track.
    std::vector<Candidate> tracks;
    for (const Candidate &candidate : candidates) {
        const bool seen = std::any_of(tracks.begin(), tracks.end(), [&](const Candidate &c) {
            return c.track == candidate.track;
        });
        if (!seen)
            tracks.push_back(candidate);
    }
    match.ranked = tracks;
    if (tracks.empty() || tracks.front().alignment.evidencePairs() == 0)
        return match;
    match.found = true;
    match.best = tracks.front();
    for (size_t r = 1; r < tracks.size(); ++r) {
        const Candidate &other = tracks[r];
        if (other.alignment.evidencePairs() < rule.minPairs)
            break; // too little overlap to be a rival (sorted last)
        if (other.ber() < match.best.ber() + rule.minMargin &&
            sameRecording(match.best, other, query.size())) {
            match.sameRecording.push_back(other);
            continue;
        }
        match.runnerUpBer = other.ber();
        break;
    }
    match.accepted = accepts(rule, match.best.alignment, match.runnerUpBer);
    return match;
}

} // namespace vokid
