// runInOrder: every result delivered once, in input order, whatever the
// threads; workers stay within their window of the output; an exception in
// delivery stops them and goes on to the caller.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "vokid/cli/ordered_parallel.h"

namespace {

TEST(RunInOrder, DeliversEveryResultInInputOrder)
{
    struct Row {
        size_t count;
        unsigned threads;
    };
    const std::vector<Row> rows = {{0, 4}, {1, 1}, {1, 8}, {5, 1}, {7, 0}, {100, 3}, {500, 16}};
    for (const Row &row : rows) {
        std::vector<size_t> delivered;
        std::vector<std::string> results;
        std::atomic<size_t> calls{0};
        vokid::runInOrder<std::string>(
            row.count, row.threads,
            [&](size_t i) {
                ++calls;
                // Later inputs finish first where threads allow.
                if (i % 7 == 0)
                    std::this_thread::yield();
                return "r" + std::to_string(i);
            },
            [&](size_t i, std::string result) {
                delivered.push_back(i);
                results.push_back(std::move(result));
            });
        ASSERT_EQ(row.count, delivered.size()) << row.count << "/" << row.threads;
        EXPECT_EQ(row.count, calls.load());
        for (size_t i = 0; i < row.count; ++i) {
            EXPECT_EQ(i, delivered[i]);
            EXPECT_EQ("r" + std::to_string(i), results[i]);
        }
    }
}

// Workers never run further ahead of the delivery than four inputs per
// thread, so a failed delivery leaves the rest untouched.
TEST(RunInOrder, AnExceptionInDeliveryStopsTheWorkers)
{
    for (unsigned threads : {1u, 2u, 4u}) {
        const size_t count = 10000, failing = 3;
        std::atomic<size_t> calls{0};
        std::atomic<size_t> highest{0};
        std::vector<size_t> delivered;
        try {
            vokid::runInOrder<size_t>(
                count, threads,
                [&](size_t i) {
                    ++calls;
                    size_t seen = highest.load();
                    while (i > seen && !highest.compare_exchange_weak(seen, i)) {
                    }
                    return i * i;
                },
                [&](size_t i, size_t result) {
                    EXPECT_EQ(i * i, result);
                    if (i == failing)
                        throw std::runtime_error("output closed");
                    delivered.push_back(i);
                });
            ADD_FAILURE() << "the exception was lost";
        } catch (const std::runtime_error &error) {
            EXPECT_STREQ("output closed", error.what());
        }
        EXPECT_EQ((std::vector<size_t>{0, 1, 2}), delivered) << threads;
        const size_t window = threads > 1 ? 4 * threads : 0;
        EXPECT_LE(highest.load(), failing + window) << threads;
        EXPECT_LE(calls.load(), failing + 1 + window) << threads;
    }
}

} // namespace
