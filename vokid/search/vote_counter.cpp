#include "vokid/search/vote_counter.h"

#include <algorithm>
#include <cstdlib>

namespace vokid {

namespace {

// Offsets are kept biased into 32 bits.
constexpr int64_t kBias = int64_t{1} << 31;
constexpr size_t kInitialSlots = 1 << 14;

} // namespace

VoteCounter::VoteCounter()
    : keys(kInitialSlots, 0), counts(kInitialSlots, 0), mask(kInitialSlots - 1)
{
}

uint64_t VoteCounter::keyOf(uint32_t track, int64_t offset)
{
    return uint64_t{track} << 32 | static_cast<uint32_t>(offset + kBias);
}

size_t VoteCounter::slotOf(uint64_t key) const
{
    // Fibonacci hashing: the key's bits spread over the high bits of the
    // product, whatever the table's size.
    size_t slot = static_cast<size_t>((key * 0x9E3779B97F4A7C15u) >> 40) & mask;
    while (keys[slot] != 0 && keys[slot] != key)
        slot = (slot + 1) & mask;
    return slot;
}

uint32_t VoteCounter::countOf(uint64_t key) const
{
    const size_t slot = slotOf(key);
    return keys[slot] == key ? counts[slot] : 0;
}

void VoteCounter::clear()
{
    for (size_t slot : used) {
        keys[slot] = 0;
        counts[slot] = 0;
    }
    used.clear();
}

void VoteCounter::grow()
{
    std::vector<uint64_t> oldKeys(keys.size() * 2, 0);
    std::vector<uint32_t> oldCounts(counts.size() * 2, 0);
    oldKeys.swap(keys);
    oldCounts.swap(counts);
    mask = keys.size() - 1;
    const std::vector<size_t> oldUsed = std::move(used);
    used.clear();
    for (size_t slot : oldUsed) {
        const size_t to = slotOf(oldKeys[slot]);
        keys[to] = oldKeys[slot];
        counts[to] = oldCounts[slot];
        used.push_back(to);
    }
}

void VoteCounter::add(uint32_t track, int64_t offset)
{
    // At most half full: probes stay short.
    if (2 * (used.size() + 1) > keys.size())
        grow();
    const uint64_t key = keyOf(track, offset);
    const size_t slot = slotOf(key);
    if (keys[slot] == 0) {
        keys[slot] = key;
        used.push_back(slot);
    }
    ++counts[slot];
}

std::vector<VoteCounter::Tally> VoteCounter::best(size_t count, int64_t separation) const
{
    std::vector<Tally> all;
    all.reserve(used.size());
    for (size_t slot : used) {
        const uint64_t key = keys[slot];
        const uint32_t score = counts[slot] + countOf(key - 1) + countOf(key + 1);
        all.push_back(Tally{static_cast<uint32_t>(key >> 32),
                            int64_t{static_cast<uint32_t>(key)} - kBias, score});
    }
    const auto better = [](const Tally &x, const Tally &y) {
        return x.score != y.score   ? x.score > y.score
               : x.track != y.track ? x.track < y.track
                                    : x.offset < y.offset;
    };
    // Only the best few are ranked: with the neighbours of a chosen pair
    // left out, 2 * separation + 1 per pair chosen are enough.
    const size_t ranked = std::min(all.size(), count * static_cast<size_t>(2 * separation + 1));
    std::partial_sort(all.begin(), all.begin() + static_cast<long>(ranked), all.end(), better);
    std::vector<Tally> chosen;
    for (size_t i = 0; i < ranked && chosen.size() < count; ++i) {
        const Tally &tally = all[i];
        const bool near = std::any_of(chosen.begin(), chosen.end(), [&](const Tally &c) {
            return c.track == tally.track && std::abs(c.offset - tally.offset) < separation;
        });
        if (!near)
            chosen.push_back(tally);
    }
    return chosen;
}

} // namespace vokid
