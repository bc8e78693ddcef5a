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
#include <utility>
#include <vector>

namespace vokid {

namespace ordered_parallel {

// What the workers and the delivering thread share: the results not yet
// handed on, and how far each side has gone.
template <class Result, class Work>
class Shared {
public:
    // Workers take input i only while i < delivered + window.
    Shared(size_t inputs, size_t ahead, Work &worker)
        : results(inputs), count(inputs), window(ahead), work(worker)
    {
    }

    // A worker's loop: the next input, until every one is taken or the run
    // stops.
    void runWorker()
    {
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
    }

    // Waits for result i and takes it out.
    Result take(size_t i)
    {
        std::optional<Result> result;
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return results[i].has_value(); });
        result.swap(results[i]);
        return std::move(*result);
    }

    // Result i has been handed on: the workers may go one input further.
    void handedOn(size_t i)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            delivered = i + 1;
        }
        changed.notify_all();
    }

    // The workers stop after their current input.
    void stopWorkers()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stop = true;
        }
        changed.notify_all();
    }

private:
    std::vector<std::optional<Result>> results;
    std::mutex mutex;
    std::condition_variable changed;
    const size_t count;
    const size_t window;
    Work &work;
    size_t taken = 0;
    size_t delivered = 0;
    bool stop = false;
};

} // namespace ordered_parallel

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
    ordered_parallel::Shared<Result, Work> shared(count, 4u * threads, work);
    std::vector<std::thread> pool;
    auto finish = [&] {
        shared.stopWorkers();
        for (std::thread &thread : pool)
            thread.join();
    };
    try {
        for (unsigned t = 0; t < threads; ++t)
            pool.emplace_back([&] { shared.runWorker(); });
        for (size_t i = 0; i < count; ++i) {
            deliver(i, shared.take(i));
            shared.handedOn(i);
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

} // namespace vokid

#endif
