#include "vokid/index/index_check.h"

#include <algorithm>
#include <stdexcept>

#include "vokid/index/index_error.h"
#include "vokid/index/postings.h"

namespace vokid {

namespace {

// What was found, without the prefix every damage message has.
std::string causeOf(const std::exception &error)
{
    const std::string text = error.what();
    const std::string prefix = IndexDamaged("").what();
    return text.compare(0, prefix.size(), prefix) == 0 ? text.substr(prefix.size()) : text;
}

[[noreturn]] void fail(const std::string &problem)
{
    throw IndexDamaged(problem);
}

// The positions of one track under one word, as the postings list them
// (ascending, since a word's postings sort by track, then position).
std::vector<uint32_t> positionsOf(PostingLists::Range list, uint32_t track)
{
    std::vector<uint32_t> positions;
    for (const Posting &posting : list)
        if (posting.track == track)
            positions.push_back(posting.position);
    return positions;
}

// The track's postings against the ones its sequence calls for: under
// each of its words, exactly the positions where the sequence holds it.
void checkPostings(IndexView &view, uint32_t id, std::vector<WordPosition> expected)
{
    std::sort(expected.begin(), expected.end(), [](const WordPosition &a, const WordPosition &b) {
        return a.word != b.word ? a.word < b.word : a.position < b.position;
    });
    std::vector<uint32_t> words;
    for (const WordPosition &entry : expected)
        if (words.empty() || words.back() != entry.word)
            words.push_back(entry.word);
    PostingLists lists;
    view.postings(words, SIZE_MAX, lists);
    size_t next = 0; // the first expected entry of word w
    for (size_t w = 0; w < words.size(); ++w) {
        const std::vector<uint32_t> found = positionsOf(lists.at(w), id);
        for (uint32_t position : found) {
            if (next >= expected.size() || expected[next].word != words[w] ||
                expected[next].position != position)
                fail("its postings under word " + std::to_string(words[w]) +
                     " do not match its sequence");
            ++next;
        }
        if (next < expected.size() && expected[next].word == words[w])
            fail("position " + std::to_string(expected[next].position) + " has no posting");
    }
}

// One track read back whole; returns how many postings it has.
uint64_t checkOneTrack(IndexView &view, const TrackInfo &track, uint32_t step)
{
    const std::optional<TrackPrint> print = view.print(track.id);
    if (!print)
        fail("it has no stored sequence");
    if (print->size() != track.words)
        fail("its record counts " + std::to_string(track.words) +
             " sub-fingerprints, its sequence holds " + std::to_string(print->size()));
    const PrintPostings postings = postingsOf(*print, step);
    checkTrack(*print, postings, step);
    if (postings.entries.size() != track.postings)
        fail("its record counts " + std::to_string(track.postings) + " postings, its sequence " +
             std::to_string(postings.entries.size()));
    const std::optional<TrackInfo> byPath = view.trackAt(track.path);
    if (!byPath || byPath->id > track.id)
        fail("its path does not lead to it");
    checkPostings(view, track.id, postings.entries);
    return postings.entries.size();
}

void checkCounts(IndexView &view, uint64_t postings, CheckReport &report)
{
    try {
        const StoreStats stats = view.stats();
        if (stats.postings != postings)
            report.problems.push_back("the postings table holds " + std::to_string(stats.postings) +
                                      " postings, the tracks account for " +
                                      std::to_string(postings));
    } catch (const IndexError &error) {
        report.problems.push_back("its figures do not read: " + causeOf(error));
    }
}

} // namespace

CheckReport checkIndex(IndexStore &store,
                       const std::function<void(size_t done, size_t total)> &progress)
{
    CheckReport report;
    const std::unique_ptr<IndexView> view = store.view();
    std::vector<TrackInfo> tracks;
    try {
        tracks = view->tracks();
    } catch (const IndexError &error) {
        report.problems.push_back("its track records do not read: " + causeOf(error));
        return report;
    }
    report.tracks = tracks.size();
    uint64_t postings = 0; // of the tracks that read back whole
    for (size_t i = 0; i < tracks.size(); ++i) {
        if (progress)
            progress(i, tracks.size());
        try {
            postings += checkOneTrack(*view, tracks[i], store.step());
        } catch (const IndexError &error) {
            report.damaged.push_back({tracks[i].id, tracks[i].path, causeOf(error)});
        } catch (const std::invalid_argument &error) {
            report.damaged.push_back({tracks[i].id, tracks[i].path, causeOf(error)});
        }
    }
    if (report.damaged.empty())
        checkCounts(*view, postings, report);
    return report;
}

} // namespace vokid
