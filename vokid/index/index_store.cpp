// What every store shares of the interface: the lists a lookup fills, and
// the check of the words it is given.
#include "vokid/index/index_store.h"

#include <stdexcept>

namespace vokid {

PostingLists::Range PostingLists::at(size_t i) const
{
    const size_t from = i == 0 ? 0 : ends[i - 1];
    return Range{postings.data() + from, postings.data() + ends[i]};
}

void PostingLists::clear()
{
    postings.clear();
    ends.clear();
    counts.clear();
}

void PostingLists::close(size_t count)
{
    ends.push_back(postings.size());
    counts.push_back(count);
}

void IndexView::sequences(const std::vector<StretchRequest> &asked, std::vector<Stretch> &out)
{
    out.resize(asked.size());
    for (size_t i = 0; i < asked.size(); ++i)
        out[i].frames = sequence(asked[i].track, asked[i].from, asked[i].length, out[i].first);
}

void requireAscending(const std::vector<uint32_t> &words)
{
    for (size_t i = 1; i < words.size(); ++i)
        if (words[i] <= words[i - 1])
            throw std::invalid_argument("the words looked up must ascend without repeats");
}

} // namespace vokid
