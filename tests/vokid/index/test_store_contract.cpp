// What every store behind IndexStore must do, one table of cases run on
// each: ids, tracks, paths, prints and sequence slices read back; postings
// against those worked out here from the prints (every step-th position
// that is not a quiet frame), looked up together and one by one, with the
// limit; replacing and removing; snapshots, a batch left uncommitted, one
// batch at a time, a batch that is done; refusals; and the stats. A store
// joins by a factory in kStores, the only part of its own.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <random>
#include <stdexcept>
#include <thread>

#include "tests/support/wav_writer.h"
#include "vokid/index/index_check.h"
#include "vokid/index/index_error.h"
#include "vokid/index/lmdb/index_header.h"
#include "vokid/index/memory_store.h"
#include "vokid/index/open_store.h"
#ifdef VOKID_TEST_POSTGRES
#include "tests/vokid/index/postgres_stores.h"
#endif

namespace {

using vokid::IndexBatch;
using vokid::IndexStore;
using vokid::IndexView;
using vokid::Posting;
using vokid::TrackInfo;
using vokid::TrackPrint;

struct StoreFactory {
    const char *name;
    const char *kind; // as its stats name it
    // A new, empty store of an index of `step`, its files (if any) in `dir`.
    std::function<std::unique_ptr<IndexStore>(const vok_test::TempDir &dir, uint32_t step)> make;
};

// An LMDB folder whose header says the step, with no store yet: the
// opener creates it.
std::unique_ptr<IndexStore> lmdbStore(const vok_test::TempDir &dir, uint32_t step)
{
    const std::string folder = dir.file("index");
    mkdir(folder.c_str(), 0755);
    vokid::IndexHeader header;
    header.step = step;
    const std::string bytes = vokid::encodeHeader(header);
    vok_test::write_file(folder + "/" + vokid::kHeaderFile,
                         vok_test::Bytes(bytes.begin(), bytes.end()));
    return vokid::openStore(folder, vokid::StoreAccess::Write);
}

void PrintTo(const StoreFactory &factory, std::ostream *out)
{
    *out << factory.name;
}

const StoreFactory kStores[] = {
    {"Lmdb", "lmdb", lmdbStore},
    {"Memory", "memory",
     [](const vok_test::TempDir &, uint32_t step) {
         return std::make_unique<vokid::MemoryStore>(step);
     }},
#ifdef VOKID_TEST_POSTGRES
    // In a test program of its own, which starts a PostgreSQL cluster.
    {"Postgres", "postgresql", vokid_test::postgresStore},
#endif
};

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

TrackInfo info(const std::string &path, uint32_t id = 0)
{
    TrackInfo track;
    track.id = id;
    track.path = path;
    track.algorithm = "Stream1";
    track.duration = 10;
    return track;
}

// word -> (track, position), each list in order of track and position.
using Postings = std::map<uint32_t, std::vector<std::pair<uint32_t, uint32_t>>>;

// The postings a track should have, worked out here: every step-th
// position that is not a quiet frame.
void addPostings(Postings &expected, uint32_t id, const TrackPrint &print, uint32_t step)
{
    for (uint32_t p = 0; p < print.words.size(); ++p)
        if (p % step == 0 && !print.quiet[p])
            expected[print.words[p]].push_back({id, p});
    for (auto &[word, list] : expected)
        std::sort(list.begin(), list.end());
}

size_t countOf(const Postings &postings)
{
    size_t count = 0;
    for (const auto &[word, list] : postings)
        count += list.size();
    return count;
}

// Lists and counts of a batched lookup.
struct Found {
    std::vector<std::vector<std::pair<uint32_t, uint32_t>>> lists;
    std::vector<size_t> counts;
};

Found lookUp(IndexView &view, const std::vector<uint32_t> &words, size_t limit)
{
    vokid::PostingLists out;
    view.postings(words, limit, out);
    Found found;
    EXPECT_EQ(words.size(), out.size());
    for (size_t i = 0; i < out.size(); ++i) {
        found.counts.push_back(out.count(i));
        found.lists.emplace_back();
        for (const Posting &posting : out.at(i))
            found.lists.back().push_back({posting.track, posting.position});
    }
    return found;
}

// Every word of `words` looked up together and one by one: both as expected.
void expectPostings(IndexView &view, const Postings &expected, std::vector<uint32_t> words,
                    size_t limit = 1000000)
{
    std::sort(words.begin(), words.end());
    words.erase(std::unique(words.begin(), words.end()), words.end());
    const Found together = lookUp(view, words, limit);
    ASSERT_EQ(words.size(), together.counts.size());
    for (size_t i = 0; i < words.size(); ++i) {
        const auto it = expected.find(words[i]);
        const size_t want = it == expected.end() ? 0 : it->second.size();
        // Past the limit, a store may stop counting.
        if (want <= limit) {
            EXPECT_EQ(want, together.counts[i]) << words[i];
        } else {
            EXPECT_GT(together.counts[i], limit) << words[i];
            EXPECT_LE(together.counts[i], want) << words[i];
        }
        if (want <= limit && it != expected.end())
            EXPECT_EQ(it->second, together.lists[i]) << words[i];
        else
            EXPECT_TRUE(together.lists[i].empty()) << words[i];
        const Found alone = lookUp(view, {words[i]}, limit);
        EXPECT_EQ(together.counts[i], alone.counts[0]) << words[i];
        EXPECT_EQ(together.lists[i], alone.lists[0]) << words[i];
    }
}

// The words of the prints and a few of none, ascending, each once.
std::vector<uint32_t> wordsOf(const std::vector<TrackPrint> &prints)
{
    std::vector<uint32_t> words = {12345, 0, 0xFFFFFFFFu}; // in no track
    for (const TrackPrint &print : prints)
        words.insert(words.end(), print.words.begin(), print.words.end());
    std::sort(words.begin(), words.end());
    words.erase(std::unique(words.begin(), words.end()), words.end());
    return words;
}

class StoreContract : public ::testing::TestWithParam<StoreFactory> {
protected:
    std::unique_ptr<IndexStore> make(uint32_t step = vokid::kDefaultStep)
    {
        return GetParam().make(dir, step);
    }
    uint32_t put(IndexBatch &batch, const TrackInfo &track, const TrackPrint &print,
                 uint32_t step = vokid::kDefaultStep)
    {
        return batch.put(track, print, vokid::postingsOf(print, step));
    }
    // Three tracks (ids 1 to 3) committed, their postings in `expected`.
    std::vector<TrackPrint> fill(IndexStore &store, Postings &expected)
    {
        const std::vector<TrackPrint> prints = {randomPrint(4, 1), randomPrint(2, 2),
                                                randomPrint(3, 3)};
        const auto batch = store.batch();
        for (uint32_t t = 0; t < prints.size(); ++t) {
            EXPECT_EQ(t + 1, put(*batch, info("/m/" + std::to_string(t)), prints[t]));
            addPostings(expected, t + 1, prints[t], store.step());
        }
        batch->commit();
        return prints;
    }

    vok_test::TempDir dir;
};

TEST_P(StoreContract, KeepsTracksPrintsAndPostings)
{
    const auto store = make();
    Postings expected;
    const std::vector<TrackPrint> prints = fill(*store, expected);
    const auto view = store->view();
    expectPostings(*view, expected, wordsOf(prints));
    const std::vector<TrackInfo> tracks = view->tracks();
    ASSERT_EQ(3u, tracks.size());
    for (uint32_t t = 0; t < 3; ++t) {
        EXPECT_EQ(t + 1, tracks[t].id);
        EXPECT_EQ("/m/" + std::to_string(t), tracks[t].path);
        EXPECT_EQ(prints[t].size(), tracks[t].words);
        Postings own;
        addPostings(own, t + 1, prints[t], store->step());
        EXPECT_EQ(countOf(own), tracks[t].postings);
        const std::optional<TrackPrint> print = view->print(t + 1);
        ASSERT_TRUE(print);
        EXPECT_EQ(prints[t].words, print->words);
        EXPECT_EQ(prints[t].masks, print->masks);
        EXPECT_EQ(prints[t].quiet, print->quiet);
    }
    EXPECT_EQ(2u, view->track(2)->id);
    EXPECT_EQ(2u, view->trackAt("/m/1")->id);
    EXPECT_FALSE(view->trackAt("/m/9"));
    EXPECT_FALSE(view->track(4));
    EXPECT_FALSE(view->print(4));
}

TEST_P(StoreContract, SlicesSequencesWithinTheTrack)
{
    const auto store = make();
    Postings expected;
    const std::vector<TrackPrint> prints = fill(*store, expected);
    const TrackPrint &print = prints[1]; // 512 sub-fingerprints, track 2
    const struct {
        int64_t from;
        size_t length;
        int64_t first;
        size_t size;
    } cases[] = {{0, 10, 0, 10},    {100, 256, 100, 256}, {-5, 10, 0, 5},  {505, 10, 505, 7},
                 {512, 10, 512, 0}, {600, 10, 512, 0},    {-20, 10, 0, 0}, {0, 5000, 0, 512}};
    const auto view = store->view();
    // Each case alone, and all of them (with tracks 1 and 99 between)
    // in one call.
    std::vector<vokid::StretchRequest> asked;
    for (const auto &c : cases) {
        asked.push_back({2, c.from, c.length});
        asked.push_back({asked.size() % 4 == 1 ? 1u : 99u, 0, 3});
    }
    std::vector<vokid::Stretch> together = {vokid::Stretch()}; // resized by the call
    view->sequences(asked, together);
    ASSERT_EQ(asked.size(), together.size());
    for (size_t n = 0; n < asked.size(); n += 2) {
        const size_t other = asked[n + 1].track == 1 ? 3 : 0;
        EXPECT_EQ(other, together[n + 1].frames.size()) << n;
        if (other > 0) {
            EXPECT_EQ(prints[0].words[2], together[n + 1].frames.words[2]);
        }
    }
    for (size_t n = 0; n < std::size(cases); ++n) {
        const auto &c = cases[n];
        int64_t first = -1;
        const vokid::SubFingerprints slice = view->sequence(2, c.from, c.length, first);
        EXPECT_EQ(c.first, first) << c.from;
        EXPECT_EQ(c.first, together[2 * n].first) << c.from;
        EXPECT_EQ(slice.words, together[2 * n].frames.words) << c.from;
        EXPECT_EQ(slice.weak, together[2 * n].frames.weak) << c.from;
        EXPECT_EQ(slice.quiet, together[2 * n].frames.quiet) << c.from;
        ASSERT_EQ(c.size, slice.size()) << c.from;
        for (size_t j = 0; j < slice.size(); ++j) {
            const size_t i = static_cast<size_t>(first) + j;
            EXPECT_EQ(print.words[i], slice.words[j]);
            EXPECT_EQ(print.weak(i), slice.weak[j]);
            EXPECT_EQ(print.quiet[i], slice.quiet[j]);
        }
    }
    int64_t first = -1;
    EXPECT_EQ(0u, view->sequence(99, 0, 10, first).size());
    EXPECT_EQ(0, first);
}

TEST_P(StoreContract, ListsAWordUpToTheLimitAndCountsItAlways)
{
    const auto store = make();
    Postings expected;
    std::vector<TrackPrint> prints = fill(*store, expected);
    {
        // A tone: one word throughout, its quiet frames apart.
        prints.push_back(randomPrint(1, 16));
        std::fill(prints.back().words.begin(), prints.back().words.end(), 0xC0FFEEu);
        const auto batch = store->batch();
        put(*batch, info("/tone"), prints.back());
        batch->commit();
        addPostings(expected, 4, prints.back(), store->step());
    }
    const size_t most = expected.at(0xC0FFEEu).size();
    ASSERT_GT(most, 50u);
    const auto view = store->view();
    for (size_t limit : {size_t{0}, size_t{1}, most / 2, most - 1, most})
        expectPostings(*view, expected, wordsOf(prints), limit);
    // The lists of one lookup do not carry over into the next.
    vokid::PostingLists out;
    view->postings(wordsOf({prints[0]}), 1000, out);
    view->postings({}, 1000, out);
    EXPECT_EQ(0u, out.size());
}

TEST_P(StoreContract, ReplacesAndRemovesTracksWithTheirPostings)
{
    const auto store = make();
    Postings expected;
    std::vector<TrackPrint> prints = fill(*store, expected);
    {
        const auto batch = store->batch();
        prints[0] = randomPrint(1, 4);
        EXPECT_EQ(1u, put(*batch, info("/m/renamed", 1), prints[0])); // same id
        EXPECT_TRUE(batch->remove(2));
        EXPECT_FALSE(batch->remove(2));
        EXPECT_FALSE(batch->remove(99));
        batch->commit();
    }
    expected.clear();
    addPostings(expected, 1, prints[0], store->step());
    addPostings(expected, 3, prints[2], store->step());
    const auto view = store->view();
    expectPostings(*view, expected, wordsOf(prints));
    EXPECT_FALSE(view->track(2));
    EXPECT_FALSE(view->print(2));
    EXPECT_FALSE(view->trackAt("/m/1"));
    EXPECT_FALSE(view->trackAt("/m/0"));
    EXPECT_EQ(1u, view->trackAt("/m/renamed")->id);
    EXPECT_EQ(256u, view->track(1)->words);
    EXPECT_EQ(prints[0].words, view->print(1)->words);
    EXPECT_EQ(2u, view->tracks().size());
}

TEST_P(StoreContract, GivesIdsThatAreNeverUsedAgain)
{
    const auto store = make();
    const TrackPrint print = randomPrint(1, 5);
    const auto batch = store->batch();
    const struct {
        uint32_t asked; // 0: a new id
        uint32_t given;
    } puts[] = {{0, 1}, {0, 2}, {10, 10}, {0, 11}, {5, 5}, {0, 12}, {2, 2}, {0, 13}};
    for (const auto &p : puts)
        EXPECT_EQ(p.given, put(*batch, info("/i/" + std::to_string(p.given), p.asked), print));
    EXPECT_TRUE(batch->remove(13)); // the highest id out: still not used again
    EXPECT_EQ(14u, put(*batch, info("/i/14"), print));
    EXPECT_EQ(0xFFFFFFFEu, put(*batch, info("/i/last", 0xFFFFFFFEu), print));
    EXPECT_THROW(put(*batch, info("/i/none"), print), vokid::IndexError);
    batch->commit();
    EXPECT_EQ(8u, store->view()->tracks().size());
}

TEST_P(StoreContract, FindsAPathsLowestTrack)
{
    const auto store = make();
    const auto batch = store->batch();
    put(*batch, info("/same"), randomPrint(1, 6));
    put(*batch, info("/same"), randomPrint(1, 7));
    put(*batch, info("/other"), randomPrint(1, 8));
    EXPECT_EQ(1u, batch->trackAt("/same")->id);
    batch->remove(1);
    EXPECT_EQ(2u, batch->trackAt("/same")->id);
    put(*batch, info("/moved", 2), randomPrint(1, 7));
    EXPECT_FALSE(batch->trackAt("/same"));
    EXPECT_EQ(2u, batch->trackAt("/moved")->id);
    EXPECT_EQ(3u, batch->trackAt("/other")->id);
}

TEST_P(StoreContract, ViewsKeepTheirSnapshot)
{
    const auto store = make();
    Postings before;
    std::vector<TrackPrint> prints = fill(*store, before);
    const auto old = store->view();
    const vokid::StoreStats oldStats = old->stats();
    {
        const auto batch = store->batch();
        const auto during = store->view(); // while the batch is open
        prints.push_back(randomPrint(2, 9));
        put(*batch, info("/m/new"), prints.back());
        batch->remove(1);
        EXPECT_EQ(3u, during->tracks().size());
        batch->commit();
        expectPostings(*during, before, wordsOf(prints));
    }
    expectPostings(*old, before, wordsOf(prints));
    EXPECT_TRUE(old->track(1));
    EXPECT_FALSE(old->track(4));
    EXPECT_EQ(oldStats.tracks, old->stats().tracks);
    EXPECT_EQ(oldStats.postings, old->stats().postings);
    int64_t first = 0;
    EXPECT_EQ(prints[0].words[7], old->sequence(1, 7, 1, first).words.at(0));

    Postings after;
    addPostings(after, 2, prints[1], store->step());
    addPostings(after, 3, prints[2], store->step());
    addPostings(after, 4, prints[3], store->step());
    const auto now = store->view();
    expectPostings(*now, after, wordsOf(prints));
    EXPECT_FALSE(now->track(1));
    EXPECT_EQ(4u, now->trackAt("/m/new")->id);
}

TEST_P(StoreContract, KeepsNothingOfAnUncommittedBatch)
{
    const auto store = make();
    const TrackPrint print = randomPrint(2, 10);
    Postings expected;
    addPostings(expected, 1, print, store->step());
    {
        const auto batch = store->batch();
        EXPECT_EQ(1u, put(*batch, info("/u"), print));
        // The batch sees its own changes; nobody else does.
        EXPECT_EQ(1u, batch->trackAt("/u")->id);
        expectPostings(*batch, expected, print.words);
        EXPECT_EQ(countOf(expected), batch->stats().postings);
        EXPECT_TRUE(store->view()->tracks().empty());
    }
    const auto view = store->view();
    EXPECT_TRUE(view->tracks().empty());
    expectPostings(*view, {}, print.words);
    EXPECT_EQ(0u, view->stats().postings);
    const auto batch = store->batch();
    // The id was not taken either; where batches write at once, ids come
    // from a sequence that no rollback gives back, and one is skipped.
    EXPECT_EQ(store->concurrentBatches() ? 2u : 1u, put(*batch, info("/u"), print));
}

TEST_P(StoreContract, OpensOneBatchAtATime)
{
    const auto store = make();
    if (store->concurrentBatches())
        GTEST_SKIP() << "its batches write at once";
    auto first = store->batch();
    put(*first, info("/first"), randomPrint(1, 11));
    std::atomic<bool> opened{false};
    std::thread second([&] {
        const auto batch = store->batch(); // waits for the first to end
        opened = true;
        EXPECT_EQ(1u, batch->trackAt("/first")->id); // and sees what it committed
        EXPECT_EQ(2u, put(*batch, info("/second"), randomPrint(1, 12)));
        batch->commit();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(opened);
    first->commit();
    second.join();
    EXPECT_TRUE(opened);
    EXPECT_EQ(2u, store->view()->tracks().size());
    first.reset();
    // A batch destroyed without a commit lets the next one in too.
    store->batch();
    EXPECT_EQ(2u, store->batch()->tracks().size());
}

TEST_P(StoreContract, RefusesABatchUsedAfterItsCommit)
{
    const auto store = make();
    const auto batch = store->batch();
    put(*batch, info("/a"), randomPrint(1, 13));
    batch->commit();
    const std::vector<std::function<void()>> uses = {
        [&] { put(*batch, info("/b"), randomPrint(1, 14)); },
        [&] { batch->remove(1); },
        [&] { batch->commit(); },
        [&] { batch->track(1); },
        [&] { batch->tracks(); },
    };
    for (size_t i = 0; i < uses.size(); ++i)
        EXPECT_THROW(uses[i](), std::logic_error) << i;
    EXPECT_EQ(1u, store->view()->tracks().size());
}

TEST_P(StoreContract, RefusesPrintsAndPostingsThatDoNotFit)
{
    const auto store = make();
    const TrackPrint good = randomPrint(2, 15);
    const vokid::PrintPostings postings = vokid::postingsOf(good, store->step());
    ASSERT_GE(postings.entries.size(), 2u);
    const auto change = [&](const std::function<void(TrackPrint &, vokid::PrintPostings &)> &how) {
        return [&, how] {
            TrackPrint print = good;
            vokid::PrintPostings given = postings;
            how(print, given);
            const auto batch = store->batch();
            batch->put(info("/bad"), print, given);
        };
    };
    const std::vector<std::pair<const char *, std::function<void()>>> cases = {
        {"part of a block", change([](TrackPrint &p, vokid::PrintPostings &) {
             p.words.pop_back();
             p.quiet.pop_back();
         })},
        {"empty", change([](TrackPrint &p, vokid::PrintPostings &g) {
             p = TrackPrint();
             g.entries.clear();
         })},
        {"a mask short", change([](TrackPrint &p, vokid::PrintPostings &) { p.masks.pop_back(); })},
        {"quiet flags short",
         change([](TrackPrint &p, vokid::PrintPostings &) { p.quiet.pop_back(); })},
        {"another step", change([](TrackPrint &, vokid::PrintPostings &g) { g.step += 1; })},
        {"another word",
         change([](TrackPrint &, vokid::PrintPostings &g) { g.entries[1].word ^= 1; })},
        {"past the end",
         change([](TrackPrint &, vokid::PrintPostings &g) { g.entries.back().position = 512; })},
        {"out of order", change([](TrackPrint &, vokid::PrintPostings &g) {
             std::swap(g.entries[0], g.entries[1]);
         })},
        {"words descending",
         [&] {
             vokid::PostingLists out;
             store->view()->postings({5, 3}, 9, out);
         }},
        {"words repeated",
         [&] {
             vokid::PostingLists out;
             store->view()->postings({3, 3}, 9, out);
         }},
    };
    for (const auto &[name, work] : cases)
        EXPECT_THROW(work(), std::invalid_argument) << name;
    EXPECT_TRUE(store->view()->tracks().empty());
}

TEST_P(StoreContract, CountsWhatItHolds)
{
    const auto store = make();
    Postings expected;
    fill(*store, expected);
    {
        const auto batch = store->batch();
        batch->remove(2);
        batch->commit();
    }
    const vokid::StoreStats stats = store->view()->stats();
    EXPECT_EQ(2u, stats.tracks);
    EXPECT_DOUBLE_EQ(20.0, stats.seconds);
    EXPECT_EQ(1024u + 768, stats.words);
    Postings held;
    addPostings(held, 1, randomPrint(4, 1), stats.step);
    addPostings(held, 3, randomPrint(3, 3), stats.step);
    EXPECT_EQ(countOf(held), stats.postings);
    EXPECT_EQ(stats.postings, stats.trackPostings);
    EXPECT_EQ(vokid::kDefaultStep, stats.step);
    EXPECT_EQ(GetParam().kind, stats.kind);
    EXPECT_GE(stats.postingBytes, 8 * stats.postings);
    EXPECT_GT(stats.sequenceBytes, stats.words * 4);
    EXPECT_GT(stats.metadataBytes, 0u);
    EXPECT_GE(stats.fileBytes,
              stats.postingBytes + stats.sequenceBytes + stats.metadataBytes + stats.freeBytes);
}

vokid::FileValues valuesFrom(uint16_t first)
{
    vokid::FileValues values{};
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<uint16_t>(first + 2000 * i);
    return values;
}

// The album and the FileFloat values kept with a track, put with it or
// given later (its print, postings and path left as they were), counted
// by stats, read back whole by the index's own check.
TEST_P(StoreContract, KeepsAlbumsAndFileValues)
{
    const auto store = make();
    Postings expected;
    const std::vector<TrackPrint> prints = fill(*store, expected);
    TrackInfo withValues = info("/m/values");
    withValues.album = "Album";
    withValues.values = valuesFrom(65535 - 58000);
    const struct {
        const char *name;
        uint32_t id;
        bool given; // setValues finds the track
    } cases[] = {{"a track without", 2, true}, {"no such track", 9, false}};
    {
        const auto batch = store->batch();
        EXPECT_EQ(4u, put(*batch, withValues, randomPrint(1, 4)));
        for (const auto &c : cases)
            EXPECT_EQ(c.given, batch->setValues(c.id, valuesFrom(7))) << c.name;
        EXPECT_EQ(valuesFrom(7), batch->track(2)->values); // a batch reads its own changes
        batch->commit();
    }
    addPostings(expected, 4, randomPrint(1, 4), store->step());
    const auto view = store->view();
    const std::vector<TrackInfo> tracks = view->tracks();
    ASSERT_EQ(4u, tracks.size());
    EXPECT_FALSE(tracks[0].values);
    EXPECT_EQ(valuesFrom(7), tracks[1].values);
    EXPECT_EQ("", tracks[1].album);
    EXPECT_EQ("Album", tracks[3].album);
    EXPECT_EQ(withValues.values, tracks[3].values);
    EXPECT_EQ(prints[1].words, view->print(2)->words);
    EXPECT_EQ(2u, view->trackAt("/m/1")->id);
    expectPostings(*view, expected, wordsOf(prints));
    EXPECT_EQ(2u, view->stats().tracksWithValues);
    EXPECT_TRUE(vokid::checkIndex(*store).ok());
}

// Quiet frames and the step: a store of each step holds exactly the
// postings worked out here, and its tracks count them.
TEST_P(StoreContract, HoldsThePostingsOfItsStep)
{
    for (uint32_t step : {1u, 2u, 3u, 16u}) {
        vok_test::TempDir own;
        const auto store = GetParam().make(own, step);
        ASSERT_EQ(step, store->step());
        const TrackPrint print = randomPrint(2, 20 + step);
        {
            const auto batch = store->batch();
            put(*batch, info("/s"), print, step);
            EXPECT_THROW(put(*batch, info("/t"), print, step == 1 ? 2 : 1), std::invalid_argument);
            batch->commit();
        }
        Postings expected;
        addPostings(expected, 1, print, step);
        const auto view = store->view();
        expectPostings(*view, expected, print.words);
        EXPECT_EQ(countOf(expected), view->track(1)->postings) << step;
        EXPECT_EQ(countOf(expected), view->stats().postings) << step;
        EXPECT_EQ(step, view->stats().step);
    }
}

INSTANTIATE_TEST_SUITE_P(Stores, StoreContract, ::testing::ValuesIn(kStores),
                         [](const ::testing::TestParamInfo<StoreFactory> &store) {
                             return std::string(store.param.name);
                         });

} // namespace
