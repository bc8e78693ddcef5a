#include "vokid/index/shard_watch.h"

#include <algorithm>

namespace vokid {

namespace {

// Reads through to the store's view; tells the watch what it met when it
// ends.
class WatchedView final : public IndexView {
public:
    WatchedView(ShardWatch &shardWatch, std::unique_ptr<IndexView> inner)
        : watch(shardWatch), view(std::move(inner))
    {
    }
    ~WatchedView() override { watch.met(view->shardsDown(), view->shardCount()); }
    WatchedView(const WatchedView &) = delete;
    WatchedView &operator=(const WatchedView &) = delete;

    std::optional<TrackInfo> track(uint32_t id) override { return view->track(id); }
    std::optional<TrackInfo> trackAt(const std::string &path) override
    {
        return view->trackAt(path);
    }
    std::vector<TrackInfo> tracks() override { return view->tracks(); }
    void postings(const std::vector<uint32_t> &words, size_t limit, PostingLists &out) override
    {
        view->postings(words, limit, out);
    }
    SubFingerprints sequence(uint32_t track, int64_t from, size_t length, int64_t &first) override
    {
        return view->sequence(track, from, length, first);
    }
    void sequences(const std::vector<StretchRequest> &asked, std::vector<Stretch> &out) override
    {
        view->sequences(asked, out);
    }
    std::optional<TrackPrint> print(uint32_t track) override { return view->print(track); }
    StoreStats stats() override { return view->stats(); }
    std::vector<std::string> shardsDown() override { return view->shardsDown(); }
    size_t shardCount() override { return view->shardCount(); }

private:
    ShardWatch &watch;
    std::unique_ptr<IndexView> view;
};

} // namespace

ShardWatch::ShardWatch(IndexStore &watched) : store(watched)
{
}

std::unique_ptr<IndexView> ShardWatch::view()
{
    return std::make_unique<WatchedView>(*this, store.view());
}

std::vector<std::string> ShardWatch::shardsDown() const
{
    const std::lock_guard<std::mutex> lock(mutex);
    return std::vector<std::string>(down.begin(), down.end());
}

size_t ShardWatch::shardCount() const
{
    const std::lock_guard<std::mutex> lock(mutex);
    return count;
}

void ShardWatch::met(const std::vector<std::string> &shards, size_t shardTotal)
{
    const std::lock_guard<std::mutex> lock(mutex);
    down.insert(shards.begin(), shards.end());
    count = std::max(count, shardTotal);
}

} // namespace vokid
