// A store seen through a watch that gathers the shards down that its
// views met (IndexView::shardsDown): a search makes views of its own,
// and its caller then asks the watch whether the answer is partial. One
// watch per answer; the store itself is shared.
#ifndef VOKID_INDEX_SHARD_WATCH_H
#define VOKID_INDEX_SHARD_WATCH_H

#include <cstddef>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "vokid/index/index_store.h"

namespace vokid {

class ShardWatch final : public IndexStore {
public:
    explicit ShardWatch(IndexStore &watched);

    std::unique_ptr<IndexView> view() override;
    std::unique_ptr<IndexBatch> batch() override { return store.batch(); }
    uint32_t step() const override { return store.step(); }
    bool concurrentBatches() const override { return store.concurrentBatches(); }
    void setWaitNotice(std::function<void()> notice) override
    {
        store.setWaitNotice(std::move(notice));
    }
    bool releaseReserve() override { return store.releaseReserve(); }

    // The shards down that the views made so far met, in order; and how
    // many shards the index has (0: not sharded).
    std::vector<std::string> shardsDown() const;
    size_t shardCount() const;

    // For the views: what one met, when it ends.
    void met(const std::vector<std::string> &down, size_t shards);

private:
    IndexStore &store;
    mutable std::mutex mutex;
    std::set<std::string> down;
    size_t count = 0;
};

} // namespace vokid

#endif
