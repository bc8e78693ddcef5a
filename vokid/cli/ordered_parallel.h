// Work on many inputs in parallel, results in input order: each result is
// handed on as soon as it and every one before it are done, and workers
// run at most a few inputs ahead of the output, so that finished results
// never pile up in memory.
#ifndef VOKID_CLI_ORDERED_PARALLEL_H
#define VOKID_CLI_ORDERED_PARALLEL_H

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace vokid {

// work(i) must not throw; deliver(i, result) runs on the calling thread.
// If deliver throws, the workers stop after their current input and the
// exception goes on.
template <class Result, class Work, class Deliver>
void runInOrder(size_t count, unsigned threads, Work work, Deliver deliver)
{
    threads = static_cast<unsigned>(std::min<size_t>(std::max(threads, 1u), count));
    if (threads <= 1) {
        for (size_t i = 0; i < count; ++i)
            deliver(i, work(i));
        return;
    }
    const size_t window = 4u * threads;
    std::vector<std::optional<Result>> results(count);
    std::mutex mutex;
    std::condition_variable changed;
    size_t taken = 0;
    size_t delivered = 0;
    bool stop = false;

    auto worker = [&] {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock,
                         [&] { return stop || taken == count || taken < delivered + window; });
            if (stop || taken == count)
                return;
            const size_t i = taken++;
            lock.unlock();
            Result result = work(i);
            lock.lock();
            results[i] = std::move(result);
            changed.notify_all();
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t)
        pool.emplace_back(worker);

    auto finish = [&] {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stop = true;
        }
        changed.notify_all();
        for (std::thread &thread : pool)
            thread.join();
    };
    try {
        for (size_t i = 0; i < count; ++i) {
            std::optional<Result> result;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return results[i].has_value(); });
                result.swap(results[i]);
            }
            deliver(i, std::move(*result));
            {
                std::lock_guard<std::mutex> lock(mutex);
                delivered = i + 1;
            }
            changed.notify_all();
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

} // namespace vokid

#endif
