// A match whose track is removed while the clip is searched (as another
// process's `vokid remove` would) is dropped and the clip searched again:
// the copy of the recording that stays is found, never a track without its
// record.
#include <gtest/gtest.h>

#include "tests/support/recording.h"
#include "tests/support/wav_writer.h"
#include "vokid/index/memory_store.h"
#include "vokid/index/postings.h"
#include "vokid/search/identifier.h"
#include "vokid/search/track_source.h"

namespace {

using namespace vokid;

// The real store, whose track `doomed` is removed (committed) the first
// time a view is asked for its record.
class RemovingStore final : public IndexStore {
public:
    RemovingStore(MemoryStore &store, uint32_t id) : real(store), doomed(id) {}
    std::unique_ptr<IndexView> view() override;
    std::unique_ptr<IndexBatch> batch() override { return real.batch(); }
    uint32_t step() const override { return real.step(); }

    MemoryStore &real;
    uint32_t doomed;
    bool removed = false;
};

class RemovingView final : public IndexView {
public:
    RemovingView(RemovingStore &removing, std::unique_ptr<IndexView> view)
        : store(removing), inner(std::move(view))
    {
    }
    std::optional<TrackInfo> track(uint32_t id) override
    {
        if (id == store.doomed && !store.removed) {
            const std::unique_ptr<IndexBatch> batch = store.real.batch();
            batch->remove(id);
            batch->commit();
            store.removed = true;
            return std::nullopt;
        }
        return inner->track(id);
    }
    std::optional<TrackInfo> trackAt(const std::string &path) override
    {
        return inner->trackAt(path);
    }
    std::vector<TrackInfo> tracks() override { return inner->tracks(); }
    void postings(const std::vector<uint32_t> &words, size_t limit, PostingLists &out) override
    {
        inner->postings(words, limit, out);
    }
    SubFingerprints sequence(uint32_t id, int64_t from, size_t length, int64_t &first) override
    {
        return inner->sequence(id, from, length, first);
    }
    std::optional<TrackPrint> print(uint32_t id) override { return inner->print(id); }
    StoreStats stats() override { return inner->stats(); }

private:
    RemovingStore &store;
    std::unique_ptr<IndexView> inner;
};

std::unique_ptr<IndexView> RemovingStore::view()
{
    return std::make_unique<RemovingView>(*this, real.view());
}

// Two copies of one recording, tracks 1 and 2.
void addCopies(MemoryStore &memory, const std::string &music)
{
    const std::unique_ptr<IndexBatch> batch = memory.batch();
    for (int copy = 0; copy < 2; ++copy) {
        Indexable track = readTrack(trackFile(music));
        track.info.path += copy ? ".copy" : "";
        batch->put(track.info, track.print, postingsOf(track.print, memory.step()));
    }
    batch->commit();
}

TEST(VokidRemovedMatch, IsDroppedAndTheClipSearchedAgain)
{
    vok_test::TempDir dir;
    const std::string music = dir.file("music.wav"), clip = dir.file("clip.wav");
    vok_test::write_recording(music, 91, 20, 11025, 1);
    vok_test::write_recording(clip, 91, 12, 11025, 1);
    WorkerPool pool(2);
    // The best match of two equal copies is the lower id.
    const struct {
        uint32_t doomed, gone; // removed during the search if matched, and before it (0: none)
        std::optional<uint32_t> found;
        bool removed;
    } cases[] = {{1, 0, 2u, true}, {2, 0, 1u, false}, {2, 1, std::nullopt, true}};
    for (const auto &c : cases) {
        MemoryStore memory;
        addCopies(memory, music);
        if (c.gone) {
            const std::unique_ptr<IndexBatch> batch = memory.batch();
            batch->remove(c.gone);
            batch->commit();
        }
        RemovingStore store(memory, c.doomed);
        std::optional<TrackInfo> track;
        const Identification found =
            Identifier(store, pool).identifyKnown(AudioInput::named(clip), 12, track);
        EXPECT_EQ(c.removed, store.removed) << c.doomed;
        ASSERT_EQ(c.found.has_value(), found.match.accepted) << c.doomed;
        if (!c.found)
            continue;
        ASSERT_TRUE(track.has_value()) << c.doomed;
        EXPECT_EQ(*c.found, track->id);
        EXPECT_EQ(found.match.best.track, track->id);
        EXPECT_EQ(*c.found == 2 ? music + ".copy" : music, track->path);
    }
}

} // namespace
