// The index folder and its store: created on first use, tracks put,
// replaced and removed with their postings checked against the postings
// computed here from the prints, transactions that end without a commit,
// views that keep their snapshot, and the sizes it reports.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "tests/support/wav_writer.h"
#include "vokid/index/index_error.h"
#include "vokid/index/index_folder.h"
#include "vokid/index/index_header.h"

namespace {

using vokid::Posting;
using vokid::TrackInfo;
using vokid::TrackPrint;

TrackPrint randomPrint(size_t blocks, uint32_t seed)
{
    std::mt19937 random(seed);
    TrackPrint print;
    for (size_t i = 0; i < blocks * 256; ++i) {
        // Words drawn from a small set, so that words recur within and
        // across tracks as in music.
        print.words.push_back(static_cast<uint32_t>(random() % 4000) * 0x9E3779B1u);
        print.quiet.push_back(random() % 5 == 0);
    }
    for (size_t k = 0; k < blocks * 86; ++k)
        print.masks.push_back(static_cast<uint32_t>(random()));
    return print;
}

TrackInfo info(const std::string &path)
{
    TrackInfo track;
    track.path = path;
    track.algorithm = "Stream1";
    track.duration = 10;
    return track;
}

using Expected = std::map<uint32_t, std::multiset<std::pair<uint32_t, uint32_t>>>;

// The postings the tracks should have: every step-th position that is not
// a quiet frame, under its word.
void addPostings(Expected &expected, uint32_t id, const TrackPrint &print, uint32_t step)
{
    for (uint32_t p = 0; p < print.words.size(); p += step)
        if (!print.quiet[p])
            expected[print.words[p]].insert({id, p});
}

void expectPostings(vokid::IndexView &view, const Expected &expected,
                    const std::vector<uint32_t> &words)
{
    for (uint32_t word : words) {
        std::vector<Posting> found;
        const size_t count = view.postings(word, 1000000, found);
        std::multiset<std::pair<uint32_t, uint32_t>> got;
        for (const Posting &posting : found)
            got.insert({posting.track, posting.position});
        const auto it = expected.find(word);
        const size_t want = it == expected.end() ? 0 : it->second.size();
        EXPECT_EQ(want, count) << word;
        if (it != expected.end())
            EXPECT_EQ(it->second, got) << word;
        else
            EXPECT_TRUE(got.empty()) << word;
    }
}

TEST(VokidIndexStore, TracksTheirPostingsAndTheirRemoval)
{
    vok_test::TempDir dir;
    const std::string folder = dir.file("index");
    const auto store = vokid::openIndex(folder, vokid::IndexAccess::Write);
    const uint32_t step = store->step();
    ASSERT_EQ(vokid::kDefaultStep, step);

    std::vector<TrackPrint> prints = {randomPrint(4, 1), randomPrint(2, 2), randomPrint(3, 3)};
    std::vector<uint32_t> words;
    for (const TrackPrint &print : prints)
        words.insert(words.end(), print.words.begin(), print.words.end());
    words.push_back(12345); // in no track

    Expected expected;
    {
        const auto batch = store->batch();
        for (size_t t = 0; t < prints.size(); ++t) {
            const uint32_t id = batch->put(info("/m/" + std::to_string(t)), prints[t]);
            EXPECT_EQ(t + 1, id);
            addPostings(expected, id, prints[t], step);
        }
        batch->commit();
    }
    auto view = store->view();
    expectPostings(*view, expected, words);
    const std::optional<TrackInfo> second = view->trackAt("/m/1");
    ASSERT_TRUE(second);
    EXPECT_EQ(2u, second->id);
    EXPECT_EQ(512u, second->words);
    EXPECT_FALSE(view->trackAt("/m/9"));
    EXPECT_EQ(prints[2].words, view->print(3)->words);
    EXPECT_EQ(3u, view->tracks().size());

    // A word with more postings than the limit: counted, not listed.
    uint32_t common = 0;
    size_t most = 0;
    for (const auto &[word, postings] : expected)
        if (postings.size() > most)
            std::tie(common, most) = std::make_pair(word, postings.size());
    std::vector<Posting> found;
    EXPECT_EQ(most, view->postings(common, most - 1, found));
    EXPECT_TRUE(found.empty());

    // Replacing track 1 (same id) and removing track 2.
    {
        const auto batch = store->batch();
        TrackInfo again = info("/m/0");
        again.id = 1;
        prints[0] = randomPrint(1, 4);
        EXPECT_EQ(1u, batch->put(again, prints[0]));
        EXPECT_TRUE(batch->remove(2));
        EXPECT_FALSE(batch->remove(2));
        EXPECT_FALSE(batch->remove(99));
        batch->commit();
    }
    // The old view still sees its snapshot.
    expectPostings(*view, expected, words);
    EXPECT_TRUE(view->track(2));

    expected.clear();
    addPostings(expected, 1, prints[0], step);
    addPostings(expected, 3, prints[2], step);
    view = store->view();
    expectPostings(*view, expected, words);
    EXPECT_FALSE(view->track(2));
    EXPECT_FALSE(view->trackAt("/m/1"));
    EXPECT_EQ(256u, view->track(1)->words);

    // A new track gets an id never used before.
    {
        const auto batch = store->batch();
        EXPECT_EQ(4u, batch->put(info("/m/new"), randomPrint(1, 5)));
        // Without a commit, nothing stays.
    }
    EXPECT_FALSE(store->view()->track(4));

    const vokid::StoreStats stats = store->view()->stats();
    EXPECT_EQ(2u, stats.tracks);
    EXPECT_EQ(256u + 768, stats.words);
    EXPECT_EQ(stats.trackPostings, stats.postings);
    size_t postings = 0;
    for (const auto &[word, list] : expected)
        postings += list.size();
    EXPECT_EQ(postings, stats.postings);
    EXPECT_DOUBLE_EQ(20.0, stats.seconds);
    EXPECT_GT(stats.postingBytes, 0u);
    EXPECT_GT(stats.sequenceBytes, 0u);
    EXPECT_GE(stats.fileBytes,
              stats.postingBytes + stats.sequenceBytes + stats.metadataBytes + stats.freeBytes);
}

TEST(VokidIndexStore, ReadersOpenWhatWritersMade)
{
    vok_test::TempDir dir;
    const std::string folder = dir.file("index");
    EXPECT_THROW(vokid::openIndex(folder, vokid::IndexAccess::Read), vokid::IndexError);
    struct stat status;
    EXPECT_NE(0, stat(folder.c_str(), &status)); // a reader creates nothing
    {
        const auto store = vokid::openIndex(folder, vokid::IndexAccess::Write);
        const auto batch = store->batch();
        batch->put(info("/a"), randomPrint(1, 6));
        batch->commit();
    }
    for (const char *name : {vokid::kHeaderFile, vokid::kDataFile})
        EXPECT_EQ(0, stat((folder + "/" + name).c_str(), &status)) << name;
    const auto reader = vokid::openIndex(folder, vokid::IndexAccess::Read);
    EXPECT_EQ(1u, reader->view()->tracks().size());
    EXPECT_THROW(reader->batch(), std::logic_error);
}

} // namespace
