// The derivation threads across fork: a child has none of its parent's threads.

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pkcs12/parallel.h"
#include "tests/support/engine_switches.h"

// LeakSanitizer's hook, called only where it is linked in. A child of fork that exits still
// has what its parent's threads held (their OpenSSL error queues) but not the threads, so
// nothing it scans points there any more and every child would report it: this program checks
// no leaks.
extern "C" int __lsan_is_turned_off() {
    return 1;
}

namespace {

using engine_switches::ScopedThreadCount;

constexpr std::size_t kTasks = 40;

// A pass that runs every task once; its first `meet` tasks must run at the same time (where
// they do not, the pass does not end, and the test's timeout tells).
bool RunsAPass(int meet) {
    std::mutex mutex;
    std::condition_variable changed;
    int begun = 0;
    std::vector<std::atomic<int>> runs(kTasks);
    parallel::ForEach(kTasks, [&](std::size_t index) {
        ++runs[index];
        if (index >= static_cast<std::size_t>(meet)) {
            return;
        }
        std::unique_lock lock(mutex);
        ++begun;
        changed.notify_all();
        changed.wait(lock, [&] { return begun >= meet; });
    });
    return std::all_of(runs.begin(), runs.end(),
                       [](const std::atomic<int>& ran) { return ran == 1; });
}

// In a child: a pass of every task once, each on the calling thread, since the parent's
// threads are not there.
bool RunsAPassAlone() {
    const std::thread::id caller = std::this_thread::get_id();
    std::vector<std::atomic<int>> runs(kTasks);
    std::atomic<bool> alone{true};
    parallel::ForEach(kTasks, [&](std::size_t index) {
        ++runs[index];
        alone = alone && std::this_thread::get_id() == caller;
    });
    return alone && std::all_of(runs.begin(), runs.end(),
                                [](const std::atomic<int>& ran) { return ran == 1; });
}

// How a forked child ended: "exit N" or "signal N".
std::string Ended(pid_t child) {
    int status = 0;
    if (waitpid(child, &status, 0) != child) {
        return "not waited for";
    }
    return WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status))
                             : "signal " + std::to_string(WTERMSIG(status));
}

// Forks; the child runs `body` and ends through std::exit, so that every static destructor
// runs, the pool's among them. A child that hangs is ended by an alarm.
template <typename Body>
pid_t ForkExiting(Body body) {
    std::fflush(nullptr);  // the child would write the parent's buffered output again
    const pid_t child = fork();
    if (child == 0) {
        alarm(60);
        std::exit(body() ? 0 : 1);
    }
    return child;
}

TEST(ParallelAfterFork, AChildRunsPassesOnItsOwnAndExitsNormally) {
    const ScopedThreadCount forced(3);
    parallel::WarmUp();
    ASSERT_TRUE(RunsAPass(3));
    const pid_t child = ForkExiting([] {
        parallel::WarmUp();
        return RunsAPassAlone() && RunsAPassAlone();
    });
    ASSERT_GT(child, 0);
    EXPECT_EQ(Ended(child), "exit 0");
    EXPECT_TRUE(RunsAPass(3)) << "the parent's threads after the fork";
}

// Forked by the caller in the middle of a batch, while the parent's helpers are at work on it:
// the child does not wait for them, nor meet their lock.
TEST(ParallelAfterFork, AChildForkedDuringABatchRunsPassesAndExitsNormally) {
    const ScopedThreadCount forced(3);
    const std::thread::id caller = std::this_thread::get_id();
    std::mutex mutex;
    std::condition_variable changed;
    int begun = 0;
    pid_t child = -1;
    parallel::ForEach(3, [&](std::size_t) {
        std::unique_lock lock(mutex);
        ++begun;
        changed.notify_all();
        changed.wait(lock, [&] { return begun >= 3; });
        if (std::this_thread::get_id() == caller) {
            child = ForkExiting([] { return RunsAPassAlone(); });
        }
    });
    ASSERT_GT(child, 0);
    EXPECT_EQ(Ended(child), "exit 0");
    EXPECT_TRUE(RunsAPass(3)) << "the parent's threads after the fork";
}

}  // namespace
