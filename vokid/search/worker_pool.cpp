#include "vokid/search/worker_pool.h"

#include <algorithm>

namespace vokid {

WorkerPool::WorkerPool(unsigned count)
{
    for (unsigned i = 0; i < std::max(count, 1u); ++i)
        threads.emplace_back([this] { run(); });
}

WorkerPool::~WorkerPool()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    for (std::thread &thread : threads)
        thread.join();
}

std::future<void> WorkerPool::submit(std::function<void()> task)
{
    std::packaged_task<void()> packaged(std::move(task));
    std::future<void> done = packaged.get_future();
    {
        std::lock_guard<std::mutex> lock(mutex);
        tasks.push_back(std::move(packaged));
    }
    changed.notify_one();
    return done;
}

void WorkerPool::run()
{
    for (;;) {
        std::packaged_task<void()> task;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [this] { return stopping || !tasks.empty(); });
            if (tasks.empty())
                return; // stopping, and nothing left
            task = std::move(tasks.front());
            tasks.pop_front();
        }
        task();
    }
}

} // namespace vokid
