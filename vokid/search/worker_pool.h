// A fixed set of threads that run tasks in the order they were handed in.
// The speed hypotheses of a clip run on it side by side.
#ifndef VOKID_SEARCH_WORKER_POOL_H
#define VOKID_SEARCH_WORKER_POOL_H

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace vokid {

class WorkerPool {
public:
    explicit WorkerPool(unsigned threads);
    ~WorkerPool(); // finishes the tasks handed in, then joins
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    // The future holds the task's exception, if it throws.
    std::future<void> submit(std::function<void()> task);
    unsigned size() const { return static_cast<unsigned>(threads.size()); }

private:
    void run();

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::packaged_task<void()>> tasks;
    bool stopping = false;
    std::vector<std::thread> threads;
};

} // namespace vokid

#endif
