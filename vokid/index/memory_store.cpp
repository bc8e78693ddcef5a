#include "vokid/index/memory_store.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>

#include "vokid/index/index_error.h"

namespace vokid {

// One state of the index. A committed state is never changed again: views
// share it, and a batch changes a copy of its own.
struct MemoryStore::State {
    struct Track {
        TrackInfo info;
        std::string sequence;               // the stored form, encodeSequence's
        std::vector<WordPosition> postings; // as put, to take them out again
    };
    std::map<uint32_t, std::shared_ptr<const Track>> tracks;
    // A word's postings as track << 32 | position, ascending: in order of
    // track, then position, as the LMDB store keeps them.
    std::map<uint32_t, std::vector<uint64_t>> postings;
    std::map<std::string, std::set<uint32_t>> paths;
    uint32_t nextId = 1;
};

// What the store and its batches share: the last committed state, and
// whether a batch is open.
struct MemoryStore::Shared {
    uint32_t step = kDefaultStep;
    std::mutex mutex;
    std::condition_variable idle;
    bool writing = false;
    std::shared_ptr<const State> current = std::make_shared<State>();
};

namespace {

using State = MemoryStore::State;

uint64_t postingValue(uint32_t track, uint32_t position)
{
    return uint64_t{track} << 32 | position;
}

void lookUp(const State &state, const std::vector<uint32_t> &words, size_t limit, PostingLists &out)
{
    requireAscending(words);
    out.clear();
    for (uint32_t word : words) {
        const auto it = state.postings.find(word);
        const size_t count = it == state.postings.end() ? 0 : it->second.size();
        if (count > 0 && count <= limit)
            for (uint64_t value : it->second)
                out.add(Posting{static_cast<uint32_t>(value >> 32), static_cast<uint32_t>(value)});
        out.close(count);
    }
}

// The stored form is measured as the LMDB store would hold it, without
// its pages: 8 bytes a posting, the sequences' and records' own forms.
StoreStats statsOf(const State &state, uint32_t step)
{
    StoreStats stats;
    stats.step = step;
    stats.kind = "memory";
    for (const auto &[id, track] : state.tracks) {
        ++stats.tracks;
        stats.tracksWithValues += track->info.values ? 1 : 0;
        stats.seconds += track->info.duration;
        stats.words += track->info.words;
        stats.trackPostings += track->info.postings;
        stats.sequenceBytes += track->sequence.size();
        stats.metadataBytes += encodeTrack(track->info).size() + track->info.path.size();
    }
    for (const auto &[word, values] : state.postings)
        stats.postings += values.size();
    stats.postingBytes = 8 * stats.postings;
    stats.fileBytes = stats.postingBytes + stats.sequenceBytes + stats.metadataBytes;
    return stats;
}

// Every read of a view, over whichever state the class holds (a view's
// snapshot, a batch's state with its own changes).
template <class Base>
class MemoryReads : public Base {
public:
    explicit MemoryReads(uint32_t indexStep) : step(indexStep) {}

    std::optional<TrackInfo> track(uint32_t id) override
    {
        const auto it = state().tracks.find(id);
        if (it == state().tracks.end())
            return std::nullopt;
        return it->second->info;
    }
    std::optional<TrackInfo> trackAt(const std::string &path) override
    {
        const auto it = state().paths.find(path);
        if (it == state().paths.end() || it->second.empty())
            return std::nullopt;
        return track(*it->second.begin());
    }
    std::vector<TrackInfo> tracks() override
    {
        std::vector<TrackInfo> all;
        for (const auto &[id, stored] : state().tracks)
            all.push_back(stored->info);
        return all;
    }
    void postings(const std::vector<uint32_t> &words, size_t limit, PostingLists &out) override
    {
        lookUp(state(), words, limit, out);
    }
    SubFingerprints sequence(uint32_t id, int64_t from, size_t length, int64_t &first) override
    {
        first = 0;
        const auto it = state().tracks.find(id);
        if (it == state().tracks.end())
            return SubFingerprints();
        return SequenceView(it->second->sequence, id).slice(from, length, first);
    }
    std::optional<TrackPrint> print(uint32_t id) override
    {
        const auto it = state().tracks.find(id);
        if (it == state().tracks.end())
            return std::nullopt;
        return decodeSequence(it->second->sequence, id);
    }
    StoreStats stats() override { return statsOf(state(), step); }

protected:
    virtual const State &state() = 0;
    uint32_t step;
};

class MemoryView final : public MemoryReads<IndexView> {
public:
    MemoryView(std::shared_ptr<const State> snapshot, uint32_t indexStep)
        : MemoryReads(indexStep), held(std::move(snapshot))
    {
    }

private:
    const State &state() override { return *held; }
    std::shared_ptr<const State> held;
};

class MemoryBatch final : public MemoryReads<IndexBatch> {
public:
    explicit MemoryBatch(std::shared_ptr<MemoryStore::Shared> store);
    ~MemoryBatch() override { end(); }
    MemoryBatch(const MemoryBatch &) = delete;
    MemoryBatch &operator=(const MemoryBatch &) = delete;

    uint32_t put(TrackInfo info, const TrackPrint &print, const PrintPostings &postings) override;
    bool setValues(uint32_t id, const FileValues &values) override;
    bool remove(uint32_t id) override;
    void commit() override;

private:
    const State &state() override;
    State &changing();
    uint32_t takeId(uint32_t taken);
    void removeContents(const State::Track &old);
    void end();

    std::shared_ptr<MemoryStore::Shared> shared;
    std::shared_ptr<const State> base;
    std::shared_ptr<State> working; // base's copy, from the first change on
    bool done = false;
};

// Waits for the batch before it to end.
MemoryBatch::MemoryBatch(std::shared_ptr<MemoryStore::Shared> store)
    : MemoryReads(store->step), shared(std::move(store))
{
    std::unique_lock<std::mutex> lock(shared->mutex);
    shared->idle.wait(lock, [&] { return !shared->writing; });
    shared->writing = true;
    base = shared->current;
}

void MemoryBatch::end()
{
    if (done)
        return;
    done = true;
    {
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->writing = false;
    }
    shared->idle.notify_one();
}

const State &MemoryBatch::state()
{
    if (done)
        throw std::logic_error("the batch has been committed");
    return working ? *working : *base;
}

State &MemoryBatch::changing()
{
    state(); // refuses a committed batch
    if (!working)
        working = std::make_shared<State>(*base);
    return *working;
}

// The id the next new track gets; `taken` (when not 0) is in use from now
// on, and the next id is moved past it.
uint32_t MemoryBatch::takeId(uint32_t taken)
{
    State &now = changing();
    if (taken != 0 && taken < now.nextId)
        return taken;
    const uint32_t id = taken != 0 ? taken : now.nextId;
    if (id == 0xFFFFFFFFu)
        throw IndexError("the index has used every track id");
    now.nextId = id + 1;
    return id;
}

void MemoryBatch::removeContents(const State::Track &old)
{
    State &now = changing();
    for (const WordPosition &posting : old.postings) {
        const auto list = now.postings.find(posting.word);
        if (list == now.postings.end())
            continue;
        std::vector<uint64_t> &values = list->second;
        const uint64_t value = postingValue(old.info.id, posting.position);
        const auto at = std::lower_bound(values.begin(), values.end(), value);
        if (at != values.end() && *at == value)
            values.erase(at);
        if (values.empty())
            now.postings.erase(list);
    }
    const auto path = now.paths.find(old.info.path);
    if (path != now.paths.end() && path->second.erase(old.info.id) > 0 && path->second.empty())
        now.paths.erase(path);
}

uint32_t MemoryBatch::put(TrackInfo info, const TrackPrint &print, const PrintPostings &postings)
{
    State &now = changing();
    checkTrack(print, postings, step);
    const auto old = now.tracks.find(info.id);
    if (info.id != 0 && old != now.tracks.end())
        removeContents(*old->second);
    else
        info.id = takeId(info.id);
    info.words = static_cast<uint32_t>(print.size());
    info.postings = static_cast<uint32_t>(postings.entries.size());
    auto track = std::make_shared<State::Track>();
    track->info = info;
    track->sequence = encodeSequence(print, info.id);
    track->postings = postings.entries;
    for (const WordPosition &posting : postings.entries) {
        std::vector<uint64_t> &values = now.postings[posting.word];
        const uint64_t value = postingValue(info.id, posting.position);
        values.insert(std::lower_bound(values.begin(), values.end(), value), value);
    }
    now.paths[info.path].insert(info.id);
    now.tracks[info.id] = std::move(track);
    return info.id;
}

bool MemoryBatch::setValues(uint32_t id, const FileValues &values)
{
    State &now = changing();
    const auto old = now.tracks.find(id);
    if (old == now.tracks.end())
        return false;
    auto track = std::make_shared<State::Track>(*old->second);
    track->info.values = values;
    old->second = std::move(track);
    return true;
}

bool MemoryBatch::remove(uint32_t id)
{
    State &now = changing();
    const auto old = now.tracks.find(id);
    if (old == now.tracks.end())
        return false;
    removeContents(*old->second);
    now.tracks.erase(old);
    return true;
}

void MemoryBatch::commit()
{
    state(); // refuses a committed batch
    if (working) {
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->current = std::move(working);
    }
    end();
}

} // namespace

MemoryStore::MemoryStore(uint32_t step) : shared(std::make_shared<Shared>())
{
    if (step < 1 || step > kMaxStep)
        throw std::invalid_argument("an index step must be 1 to " + std::to_string(kMaxStep));
    shared->step = step;
}

MemoryStore::~MemoryStore() = default;

std::unique_ptr<IndexView> MemoryStore::view()
{
    std::lock_guard<std::mutex> lock(shared->mutex);
    return std::make_unique<MemoryView>(shared->current, shared->step);
}

std::unique_ptr<IndexBatch> MemoryStore::batch()
{
    return std::make_unique<MemoryBatch>(shared);
}

uint32_t MemoryStore::step() const
{
    return shared->step;
}

} // namespace vokid
