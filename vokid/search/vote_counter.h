// Votes for where a query lies: (track, offset) pairs counted in an
// open-addressing table that keeps its memory from one query to the next,
// and the best-voted pairs found with the votes of their neighbouring
// offsets added (a query between two sub-fingerprints of the track, or
// drifting, shares its votes between them).
#ifndef VOKID_SEARCH_VOTE_COUNTER_H
#define VOKID_SEARCH_VOTE_COUNTER_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vokid {

class VoteCounter {
public:
    struct Tally {
        uint32_t track;
        int64_t offset;
        uint32_t score; // its votes and its neighbours'
    };

    VoteCounter();
    void clear();
    // Track 0 is no track; offsets lie within +-2^31.
    void add(uint32_t track, int64_t offset);
    size_t size() const { return used.size(); }
    // Up to `count` pairs, best first; pairs of a track closer than
    // `separation` to a better one are left out.
    std::vector<Tally> best(size_t count, int64_t separation) const;

private:
    static uint64_t keyOf(uint32_t track, int64_t offset);
    size_t slotOf(uint64_t key) const;
    uint32_t countOf(uint64_t key) const;
    void grow();

    std::vector<uint64_t> keys; // 0: empty
    std::vector<uint32_t> counts;
    std::vector<size_t> used; // slots in use, to clear and to walk
    size_t mask;
};

} // namespace vokid

#endif
