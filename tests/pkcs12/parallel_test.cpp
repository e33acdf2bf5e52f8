#include "pkcs12/parallel.h"

#include <gtest/gtest.h>
#include <openssl/crypto.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "pkcs12/openssl_context.h"
#include "tests/support/engine_switches.h"

namespace {

using engine_switches::ScopedThreadCount;

// Tasks that each wait until `count` of them have begun: only as many threads at once get
// through, and each thread takes one. Where fewer run at once the wait does not end, and the
// test's timeout tells; no time waited decides.
class Meeting {
public:
    explicit Meeting(int count) : m_count(count) {}

    void Attend() {
        std::unique_lock lock(m_mutex);
        ++m_begun;
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return m_begun >= m_count; });
    }

private:
    const int m_count;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_begun = 0;
};

TEST(ParallelForEach, RunsEveryTaskExactlyOnce) {
    for (const unsigned threads : {1u, 2u, 8u}) {
        const ScopedThreadCount forced(threads);
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
    const ScopedThreadCount forced(1);
    std::vector<std::size_t> order;
    std::vector<std::thread::id> where;
    parallel::ForEach(4, [&](std::size_t index) {
        order.push_back(index);
        where.push_back(std::this_thread::get_id());
    });
    EXPECT_EQ(order, (std::vector<std::size_t>{0, 1, 2, 3}));
    EXPECT_EQ(where, std::vector<std::thread::id>(4, std::this_thread::get_id()));
}

TEST(ParallelForEach, RunsTasksAtTheSameTime) {
    const ScopedThreadCount forced(2);
    Meeting meeting(2);
    std::atomic<int> met{0};
    parallel::ForEach(2, [&](std::size_t) {
        meeting.Attend();
        ++met;
    });
    EXPECT_EQ(met, 2);
}

// Counts the threads that ended after running a share of a batch, as they end.
std::atomic<int> g_helpersGone{0};
struct EndWatch {
    bool armed = false;
    ~EndWatch() {
        if (armed) {
            ++g_helpersGone;
        }
    }
};
thread_local EndWatch t_endWatch;

// The extra threads are the batch's own: every one has ended when it returns.
TEST(ParallelForEach, EndsItsThreadsWithTheBatch) {
    const ScopedThreadCount forced(3);
    const std::thread::id caller = std::this_thread::get_id();
    for (int batch = 0; batch < 3; ++batch) {
        Meeting meeting(3);
        std::atomic<int> helpers{0};
        parallel::ForEach(3, [&](std::size_t) {
            if (std::this_thread::get_id() != caller) {
                t_endWatch.armed = true;
                ++helpers;
            }
            meeting.Attend();
        });
        EXPECT_EQ(helpers, 2);
        EXPECT_EQ(g_helpersGone, 2 * (batch + 1)) << "batch " << batch;
    }
}

// Batches begun on several threads at once, and inside a task: every task runs exactly once and
// each call returns.
TEST(ParallelForEach, CallsAtTheSameTimeAndWithinATaskEachRunEveryTask) {
    const ScopedThreadCount forced(3);
    constexpr std::size_t kCallers = 4, kRounds = 50, kTasks = 20;
    std::vector<std::atomic<int>> runs(kCallers * kRounds * kTasks);
    std::vector<std::thread> callers;
    for (std::size_t caller = 0; caller < kCallers; ++caller) {
        callers.emplace_back([&, caller] {
            for (std::size_t round = 0; round < kRounds; ++round) {
                parallel::ForEach(kTasks, [&](std::size_t task) {
                    ++runs[(caller * kRounds + round) * kTasks + task];
                });
            }
        });
    }
    for (std::thread& caller : callers) {
        caller.join();
    }
    EXPECT_EQ(std::count(runs.begin(), runs.end(), 1), static_cast<long>(runs.size()));

    std::vector<std::atomic<int>> inner(kTasks * kTasks);
    parallel::ForEach(kTasks, [&](std::size_t outer) {
        parallel::ForEach(kTasks, [&](std::size_t task) { ++inner[outer * kTasks + task]; });
    });
    EXPECT_EQ(std::count(inner.begin(), inner.end(), 1), static_cast<long>(inner.size()));
}

// Tasks 3, 10, 17, ... of 40 throw: every task still runs, and task 3's exception comes back.
void ExpectTheFirstFailureRethrownAfterAllHaveRun() {
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

TEST(ParallelForEach, RethrowsTheFirstFailureByIndexAfterAllHaveRun) {
    for (const unsigned threads : {1u, 4u}) {
        const ScopedThreadCount forced(threads);
        ExpectTheFirstFailureRethrownAfterAllHaveRun();
    }
}

TEST(ParallelForEach, WorksInTheToolsLibraryContextOnEveryThread) {
    const ossl::ScopedContext context;
    ASSERT_TRUE(context.ok());
    OSSL_LIB_CTX* const tool = OSSL_LIB_CTX_set0_default(nullptr);  // null only asks
    const ScopedThreadCount forced(4);
    std::vector<OSSL_LIB_CTX*> seen(16);
    parallel::ForEach(seen.size(), [&](std::size_t index) {
        seen[index] = OSSL_LIB_CTX_set0_default(nullptr);
        std::this_thread::yield();
    });
    EXPECT_EQ(seen, std::vector<OSSL_LIB_CTX*>(seen.size(), tool));
}

// A batch begun in OpenSSL's own context (the check of a written file) runs there on every
// thread, helpers included, and one begun in the tool's there; each task meets the others, so
// that every helper takes one.
TEST(ParallelForEach, WorksInTheCallersLibraryContextOnEveryThread) {
    const ScopedThreadCount forced(4);
    std::vector<OSSL_LIB_CTX*> callers;
    for (const ossl::Library library : {ossl::Library::OpenSsl, ossl::Library::Tool}) {
        const ossl::ScopedContext context(library);
        ASSERT_TRUE(context.ok());
        OSSL_LIB_CTX* const caller = OSSL_LIB_CTX_set0_default(nullptr);  // null only asks
        callers.push_back(caller);
        Meeting meeting(4);
        std::vector<OSSL_LIB_CTX*> seen(4);
        std::vector<ossl::Library> libraries(4);
        parallel::ForEach(seen.size(), [&](std::size_t index) {
            meeting.Attend();
            seen[index] = OSSL_LIB_CTX_set0_default(nullptr);
            libraries[index] = ossl::CurrentLibrary();
        });
        EXPECT_EQ(seen, std::vector<OSSL_LIB_CTX*>(seen.size(), caller));
        EXPECT_EQ(libraries, std::vector<ossl::Library>(libraries.size(), library));
    }
    EXPECT_NE(callers[0], callers[1]);
    EXPECT_EQ(ossl::CurrentLibrary(), ossl::Library::Tool);
}

TEST(ParallelRunCostliestFirst, StartsTheCostliestJobFirst) {
    const ScopedThreadCount forced(1);
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

std::atomic<int> g_sharesEnded{0};

// A batch whose jobs besides the costliest come to less than a thread is worth runs on the
// caller alone; one of more takes a second thread.
TEST(ParallelRunCostliestFirst, StartsThreadsOnlyForWorkWorthThem) {
    const ScopedThreadCount forced(4);
    engine_switches::SetWorkEndObserver([] { ++g_sharesEnded; });
    constexpr std::int64_t kWorth = parallel::kWorthAnotherThread;
    for (const std::vector<std::int64_t>& costs :
         {std::vector<std::int64_t>{0, 0, 0}, std::vector<std::int64_t>{kWorth * 10, kWorth - 1},
          std::vector<std::int64_t>{2048, 2048, 2048}}) {
        g_sharesEnded = 0;
        std::vector<std::thread::id> where(costs.size());
        std::vector<parallel::Job> jobs;
        for (size_t i = 0; i < costs.size(); ++i) {
            jobs.push_back({costs[i], [&where, i] { where[i] = std::this_thread::get_id(); }});
        }
        parallel::RunCostliestFirst(jobs);
        EXPECT_EQ(where, std::vector<std::thread::id>(costs.size(), std::this_thread::get_id()));
        EXPECT_EQ(g_sharesEnded, 0);
    }
    g_sharesEnded = 0;
    Meeting meeting(2);
    const auto attend = [&meeting] { meeting.Attend(); };
    std::vector<parallel::Job> jobs{{kWorth, attend}, {kWorth, attend}};
    parallel::RunCostliestFirst(jobs);
    EXPECT_GE(g_sharesEnded, 1);
    engine_switches::SetWorkEndObserver(nullptr);
}

// When the system gives no further thread, a batch runs on the threads there are, the caller's
// at least: every task once, the same results, the first failure rethrown. Once it gives
// threads again, batches have them.
TEST(ParallelForEach, ThreadsThatCannotStartLeaveTheWorkToThoseThereAre) {
    const ScopedThreadCount forced(12);  // more than any other test starts
    {
        const engine_switches::ScopedThreadStartRefusal refused;
        std::vector<std::size_t> squares(300);
        std::mutex mutex;
        std::set<std::thread::id> threads;
        parallel::ForEach(squares.size(), [&](std::size_t index) {
            squares[index] = index * index;
            const std::lock_guard lock(mutex);
            threads.insert(std::this_thread::get_id());
        });
        for (std::size_t i = 0; i < squares.size(); ++i) {
            ASSERT_EQ(squares[i], i * i) << i;
        }
        EXPECT_LT(threads.size(), 12u);

        ExpectTheFirstFailureRethrownAfterAllHaveRun();

        std::vector<int> order;
        std::vector<parallel::Job> jobs;
        for (const int work : {5, 900, 0, 70}) {
            jobs.push_back({work, [&order, &mutex, work] {
                                const std::lock_guard lock(mutex);
                                order.push_back(work);
                            }});
        }
        parallel::RunCostliestFirst(jobs);
        std::sort(order.begin(), order.end());
        EXPECT_EQ(order, (std::vector<int>{0, 5, 70, 900}));
    }
    Meeting meeting(12);
    std::atomic<int> met{0};
    parallel::ForEach(12, [&](std::size_t) {
        meeting.Attend();
        ++met;
    });
    EXPECT_EQ(met, 12);
}

TEST(ParallelThreadCount, IsTheMachinesCoresAtLeastOne) {
    EXPECT_EQ(parallel::ThreadCount(), std::max(1u, std::thread::hardware_concurrency()));
    {
        const ScopedThreadCount forced(3);
        EXPECT_EQ(parallel::ThreadCount(), 3u);
    }
    EXPECT_EQ(parallel::ThreadCount(), std::max(1u, std::thread::hardware_concurrency()));
}

}  // namespace
