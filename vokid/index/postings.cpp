#include "vokid/index/postings.h"

#include <stdexcept>
#include <string>

namespace vokid {

PrintPostings postingsOf(const TrackPrint &print, uint32_t step)
{
    if (step < 1 || step > kMaxStep)
        throw std::invalid_argument("an index step must be 1 to " + std::to_string(kMaxStep));
    if (print.quiet.size() != print.size())
        throw std::invalid_argument("a track's print needs a quiet flag per sub-fingerprint");
    PrintPostings postings;
    postings.step = step;
    postings.entries.reserve(print.size() / step + 1);
    for (size_t p = 0; p < print.size(); p += step)
        if (!print.quiet[p])
            postings.entries.push_back(WordPosition{print.words[p], static_cast<uint32_t>(p)});
    return postings;
}

void checkTrack(const TrackPrint &print, const PrintPostings &postings, uint32_t step)
{
    if (print.size() == 0 || print.size() % kBlockWords != 0 ||
        print.masks.size() != print.size() / kBlockWords * kKeptMasks ||
        print.quiet.size() != print.size() || print.size() > 0xFFFFFFFFu)
        throw std::invalid_argument("a track's print must hold whole blocks");
    if (postings.step != step)
        throw std::invalid_argument("postings computed for step " + std::to_string(postings.step) +
                                    " given to an index of step " + std::to_string(step));
    size_t next = 0; // the least position the next posting may have
    for (const WordPosition &posting : postings.entries) {
        if (posting.position < next || posting.position >= print.size() ||
            print.words[posting.position] != posting.word)
            throw std::invalid_argument("postings that are not of the track's print");
        next = size_t{posting.position} + 1;
    }
}

} // namespace vokid
