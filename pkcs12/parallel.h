#pragma once
// Runs independent pieces of work, such as the key derivations of one pass over a PKCS#12 file,
// on the machine's cores: each piece whole on one thread, every one finished before returning.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace parallel {

// How many threads a batch uses at most, the caller's among them: one for each core the
// machine reports, at least one.
unsigned ThreadCount() noexcept;

// Runs task(0) ... task(count - 1), each exactly once, on up to ThreadCount() threads, taking
// them in order of their index; returns when every one has ended. The extra threads are kept
// for the next call; for each call they work in the caller's OpenSSL library context, then clear
// their OpenSSL error queue and wipe their stack below the work before this returns. When a
// thread cannot be started, or another call has the extra threads, the others (at least the
// caller) do its share; in a child of fork the caller does all. An exception a task throws is
// rethrown after all have ended: that of the lowest index.
void ForEach(std::size_t count, const std::function<void(std::size_t)>& task);

// A piece of work and what it costs, in any unit common to a batch (for key derivations: their
// iterations times the blocks they make).
struct Job {
    std::int64_t work = 0;
    std::function<void()> run;
};

// Starts the extra threads a batch uses and runs an empty batch on them, ahead of the first
// real one: starting a thread and its first work (its stack, heap arena and OpenSSL state) cost
// more than a typical file's derivations, and the change should not pay for that.
void WarmUp() noexcept;

// Runs the jobs with ForEach, the costliest first, so that no long one starts last while the
// other threads have nothing left to do. Jobs of no cost (work 0: a key derived ahead) are run
// on the caller's thread after the others; another thread takes part only for a second costly
// one.
void RunCostliestFirst(std::vector<Job>& jobs);

// For tests only: while one lives, batches use exactly `threads` threads (1: one after another
// on the caller's), whatever the machine has.
class ScopedThreadCountForTesting {
public:
    explicit ScopedThreadCountForTesting(unsigned threads) noexcept;
    ScopedThreadCountForTesting(const ScopedThreadCountForTesting&) = delete;
    ScopedThreadCountForTesting& operator=(const ScopedThreadCountForTesting&) = delete;
    ~ScopedThreadCountForTesting();

private:
    unsigned m_previous;
};

// For tests only: while one lives, no further thread can be started for batches, as when the
// system refuses one (starting it throws std::system_error); those already there go on working.
class ScopedThreadStartRefusalForTesting {
public:
    ScopedThreadStartRefusalForTesting() noexcept;
    ScopedThreadStartRefusalForTesting(const ScopedThreadStartRefusalForTesting&) = delete;
    ScopedThreadStartRefusalForTesting& operator=(const ScopedThreadStartRefusalForTesting&) =
        delete;
    ~ScopedThreadStartRefusalForTesting();

private:
    bool m_previous;
};

// For tests only: `observer` (null: none) is called on each extra thread as the last thing it
// does for a batch, after its stack was wiped, so that a test can look at what is left there.
void SetWorkEndObserverForTesting(void (*observer)()) noexcept;

// For tests only: how many of the warm-up's tasks have so far waited for the others in vain.
std::size_t WarmUpWaitsInVainForTesting() noexcept;

}  // namespace parallel
