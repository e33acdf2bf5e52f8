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
// them in order of their index; returns when every one has ended. The extra threads are started
// for the call and end with it; they work in the caller's OpenSSL library context, then clear
// their OpenSSL error queue and wipe their stack below the work. When a thread cannot be
// started, the others (at least the caller) do its share. An exception a task throws is
// rethrown after all have ended: that of the lowest index.
void ForEach(std::size_t count, const std::function<void(std::size_t)>& task);

// A piece of work and what it costs, in any unit common to a batch (for key derivations: their
// iterations times the blocks they make).
struct Job {
    std::int64_t work = 0;
    std::function<void()> run;
};

// Below this much work beside the costliest job, a batch runs on the caller's thread alone:
// starting a thread costs as much CPU as a few thousand iterations of a key derivation, more
// than it saves a typical file, whose passes ask a few thousand in all.
inline constexpr std::int64_t kWorthAnotherThread = 20'000;

// Runs the jobs, the costliest first, so that no long one starts last while the other threads
// have nothing left to do: with ForEach where the jobs besides the costliest come to
// kWorthAnotherThread or more, otherwise one after another on the caller's thread.
void RunCostliestFirst(std::vector<Job>& jobs);

}  // namespace parallel
