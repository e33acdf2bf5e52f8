#include "platform/parallel.h"

#include <gtest/gtest.h>
#include <openssl/crypto.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/openssl_context.h"

namespace {

using parallel::ScopedThreadCountForTesting;

TEST(ParallelForEach, RunsEveryTaskExactlyOnce) {
    for (const unsigned threads : {1u, 2u, 8u}) {
        const ScopedThreadCountForTesting forced(threads);
        for (const std::size_t count : {0u, 1u, 5u, 300u}) {
            std::vector<std::atomic<int>> runs(count);
            parallel::ForEach(count, [&](std::size_t index) { ++runs[index]; });
            for (std::size_t i = 0; i < count; ++i) {
                EXPECT_EQ(runs[i], 1) << "task " << i << " of " << count << ", " << threads;
            }
        }
    }
}

TEST(ParallelForEach, OneThreadRunsTheTasksInOrderOnTheCaller) {
    const ScopedThreadCountForTesting forced(1);
    std::vector<std::size_t> order;
    std::vector<std::thread::id> where;
    parallel::ForEach(4, [&](std::size_t index) {
        order.push_back(index);
        where.push_back(std::this_thread::get_id());
    });
    EXPECT_EQ(order, (std::vector<std::size_t>{0, 1, 2, 3}));
    EXPECT_EQ(where, std::vector<std::thread::id>(4, std::this_thread::get_id()));
}

// Each of two tasks waits for the other to have begun: only two threads at once get through.
TEST(ParallelForEach, RunsTasksAtTheSameTime) {
    const ScopedThreadCountForTesting forced(2);
    std::mutex mutex;
    std::condition_variable changed;
    int begun = 0;
    std::atomic<int> met{0};
    parallel::ForEach(2, [&](std::size_t) {
        std::unique_lock lock(mutex);
        ++begun;
        changed.notify_all();
        if (changed.wait_for(lock, std::chrono::seconds(30), [&] { return begun == 2; })) {
            ++met;
        }
    });
    EXPECT_EQ(met, 2);
}

TEST(ParallelForEach, RethrowsTheFirstFailureByIndexAfterAllHaveRun) {
    for (const unsigned threads : {1u, 4u}) {
        const ScopedThreadCountForTesting forced(threads);
        std::atomic<int> ran{0};
        try {
            parallel::ForEach(40, [&](std::size_t index) {
                ++ran;
                if (index % 7 == 3) {
                    throw std::runtime_error("task " + std::to_string(index));
                }
            });
            ADD_FAILURE() << "nothing thrown";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "task 3");
        }
        EXPECT_EQ(ran, 40);
    }
}

TEST(ParallelForEach, WorksInTheToolsLibraryContextOnEveryThread) {
    const ossl::ScopedContext context;
    ASSERT_TRUE(context.ok());
    OSSL_LIB_CTX* const tool = OSSL_LIB_CTX_set0_default(nullptr);  // null only asks
    const ScopedThreadCountForTesting forced(4);
    std::vector<OSSL_LIB_CTX*> seen(16);
    parallel::ForEach(seen.size(), [&](std::size_t index) {
        seen[index] = OSSL_LIB_CTX_set0_default(nullptr);
        std::this_thread::yield();
    });
    EXPECT_EQ(seen, std::vector<OSSL_LIB_CTX*>(seen.size(), tool));
}

TEST(ParallelRunCostliestFirst, StartsTheCostliestJobFirst) {
    const ScopedThreadCountForTesting forced(1);
    std::vector<int> order;
    std::vector<parallel::Job> jobs;
    for (const int work : {5, 900, 5, 70}) {
        jobs.push_back({work, [&order, work, n = jobs.size()] {
                            order.push_back(work * 10 + static_cast<int>(n));
                        }});
    }
    parallel::RunCostliestFirst(jobs);
    // Equal costs keep their order.
    EXPECT_EQ(order, (std::vector<int>{9001, 703, 50, 52}));
}

std::atomic<int> g_threadsEnded{0};

// Keys derived ahead cost nothing: no thread is started for them, nor for a single costly job.
TEST(ParallelRunCostliestFirst, RunsJobsOfNoCostOnTheCaller) {
    const ScopedThreadCountForTesting forced(4);
    parallel::SetThreadEndObserverForTesting([] { ++g_threadsEnded; });
    for (const std::vector<std::int64_t>& costs :
         {std::vector<std::int64_t>{0, 0, 0}, std::vector<std::int64_t>{0, 700, 0, 0}}) {
        g_threadsEnded = 0;
        std::vector<std::thread::id> where(costs.size());
        std::vector<parallel::Job> jobs;
        for (size_t i = 0; i < costs.size(); ++i) {
            jobs.push_back({costs[i], [&where, i] { where[i] = std::this_thread::get_id(); }});
        }
        parallel::RunCostliestFirst(jobs);
        EXPECT_EQ(where, std::vector<std::thread::id>(costs.size(), std::this_thread::get_id()));
        EXPECT_EQ(g_threadsEnded, 0);
    }
    // Two costly ones do take a second thread.
    g_threadsEnded = 0;
    std::vector<parallel::Job> jobs{{5, [] {}}, {5, [] {}}, {0, [] {}}};
    parallel::RunCostliestFirst(jobs);
    EXPECT_EQ(g_threadsEnded, 1);
    parallel::SetThreadEndObserverForTesting(nullptr);
}

TEST(ParallelWarmUp, StartsAndEndsTheThreadsOfABatch) {
    const ScopedThreadCountForTesting forced(3);
    g_threadsEnded = 0;
    parallel::SetThreadEndObserverForTesting([] { ++g_threadsEnded; });
    parallel::WarmUp();
    parallel::SetThreadEndObserverForTesting(nullptr);
    EXPECT_EQ(g_threadsEnded, 2);
}

TEST(ParallelThreadCount, IsTheMachinesCoresAtLeastOne) {
    EXPECT_EQ(parallel::ThreadCount(), std::max(1u, std::thread::hardware_concurrency()));
    {
        const ScopedThreadCountForTesting forced(3);
        EXPECT_EQ(parallel::ThreadCount(), 3u);
    }
    EXPECT_EQ(parallel::ThreadCount(), std::max(1u, std::thread::hardware_concurrency()));
}

}  // namespace
