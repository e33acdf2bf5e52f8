#include "pkcs12/parallel.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "pkcs12/openssl_context.h"
#include "pkcs12/parallel_process.h"
#include "pkcs12/seams.h"
#include "platform/memory_api.h"

namespace parallel {
namespace {

// The tasks of one ForEach, handed out by index to whichever thread is free.
class Batch {
public:
    Batch(std::size_t count, const std::function<void(std::size_t)>& task)
        : m_count(count), m_task(task), m_errors(count) {}

    void Work() noexcept {
        for (std::size_t index = m_next++; index < m_count; index = m_next++) {
            try {
                m_task(index);
            } catch (...) {
                m_errors[index] = std::current_exception();
            }
        }
    }

    ossl::Library library() const noexcept { return m_library; }

    void RethrowFirst() const {
        for (const std::exception_ptr& error : m_errors) {
            if (error) {
                std::rethrow_exception(error);
            }
        }
    }

private:
    const std::size_t m_count;
    const std::function<void(std::size_t)>& m_task;
    std::vector<std::exception_ptr> m_errors;  // each slot written by the one thread that ran it
    std::atomic<std::size_t> m_next{0};
    const ossl::Library m_library = ossl::CurrentLibrary();  // the caller's, for its helpers
};

// A helper's share of one batch. The library context is the calling thread's default only, so
// a helper sets the caller's for the batch; the OpenSSL calls left key material in dead frames
// below this one: wiped before the helper waits for the next batch.
[[gnu::noinline]] void WorkOnOwnThread(Batch& batch) noexcept {
    {
        const ossl::ScopedContext context(batch.library());  // its end clears the error queue
        batch.Work();
    }
    WipeStackBelowCaller();
    engine_seams::WorkEnded();
}

// Threads kept from one batch to the next: starting a thread costs more than most derivations
// of a typical file (its stack is mapped afresh, the C library and OpenSSL set it up), and a
// change runs several batches. One batch at a time has the helpers; a batch that finds them
// busy runs on its caller's thread alone.
//
// The helpers, their mutex and condition variables belong to the process that made the pool. A
// child of fork has none of those threads, but it may have the mutex locked by one of them and
// the condition variables with their waiters: joining, notifying or even destroying any of these
// could hang or crash the child. So a child never touches them, nor starts threads of its own
// (little is safe in a child of a threaded process): its batches run on their callers' threads.
class Pool {
public:
    static Pool& Get();

    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    ~Pool() {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_work.notify_all();
        m_threads.clear();  // joins them
    }

    // Whether this process made the pool, and not a parent it was forked from.
    bool OwnedHere() const noexcept { return ThisProcess() == m_owner; }

    // Runs the batch on the caller's thread and up to `helpers` others; returns when each that
    // took part has finished its share. Once the caller has run out of tasks, helpers not there
    // yet are not waited for: they would find nothing left.
    void Run(Batch& batch, std::size_t helpers) noexcept {
        if (!OwnedHere() || !Take(batch, helpers)) {
            batch.Work();  // a child of fork, or the helpers are busy: this batch runs alone
            return;
        }
        m_work.notify_all();
        batch.Work();
        std::unique_lock lock(m_mutex);
        m_seats = 0;
        m_done.wait(lock, [this] { return m_running == 0; });
        m_batch = nullptr;
    }

private:
    // OpenSSL and the tool's library context set up first, on the caller's thread: so OpenSSL's
    // clean-up at exit, registered then, runs after the pool has ended and its threads' OpenSSL
    // state has gone with them.
    Pool() { const ossl::ScopedContext context; }
    friend class ProcessPool;

    // Gives the helpers to `batch` unless another batch has them.
    bool Take(Batch& batch, std::size_t helpers) noexcept {
        const std::lock_guard lock(m_mutex);
        if (m_batch != nullptr) {
            return false;
        }
        m_batch = &batch;
        m_seats = Grow(helpers);
        ++m_generation;
        return true;
    }

    // Starts threads until there are `wanted`, as far as the system gives them; how many there
    // are for the batch.
    std::size_t Grow(std::size_t wanted) noexcept {
        while (m_threads.size() < wanted) {
            try {
                engine_seams::BeforeThreadStart();
                m_threads.emplace_back([this] { Serve(); });
            } catch (const std::exception&) {
                break;  // those there are, the caller at least, do it all
            }
        }
        return std::min(wanted, m_threads.size());
    }

    // A helper: one share of each batch that has a seat left, until the pool ends.
    void Serve() noexcept {
        std::uint64_t served = 0;
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_work.wait(lock,
                        [&] { return m_stopping || (m_generation != served && m_seats > 0); });
            if (m_stopping) {
                return;
            }
            served = m_generation;
            --m_seats;
            ++m_running;
            Batch& batch = *m_batch;
            lock.unlock();
            WorkOnOwnThread(batch);
            lock.lock();
            if (--m_running == 0) {
                m_done.notify_one();
            }
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_work, m_done;
    Batch* m_batch = nullptr;   // the batch that has the helpers, if any
    std::size_t m_seats = 0;    // helpers the batch still takes
    std::size_t m_running = 0;  // helpers at work on it
    std::uint64_t m_generation = 0;
    bool m_stopping = false;
    const ProcessId m_owner = ThisProcess();
    std::vector<std::jthread> m_threads;  // last, so that they are joined first
};

// The pool, made at the first batch and ended at exit, but only by the process that made it: in
// a child of fork it is left as it is, not destroyed (see Pool).
class ProcessPool {
public:
    ProcessPool() : m_pool() {}
    ProcessPool(const ProcessPool&) = delete;
    ProcessPool& operator=(const ProcessPool&) = delete;
    ~ProcessPool() {
        if (m_pool.OwnedHere()) {
            std::destroy_at(&m_pool);
        }
    }

    Pool& Get() noexcept { return m_pool; }

private:
    union {
        Pool m_pool;  // a member of a union, so that only the destructor above ends it
    };
};

Pool& Pool::Get() {
    static ProcessPool pool;
    return pool.Get();
}

}  // namespace

unsigned ThreadCount() noexcept {
    // The C library reads the count from the system at every call: once is enough.
    static const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return std::max(1u, engine_seams::ThreadCount(cores));
}

void WarmUp() noexcept {
    // As many tasks as threads, each waiting a little for all to have begun: so every helper
    // takes one, not the caller all of them. A little, and only until one has waited in vain:
    // this runs as the PIN dialog opens, and where threads are missing (the system gave none, or
    // this is a child of fork) their tasks come one after another on the threads there are.
    const std::size_t count = ThreadCount();
    std::atomic<std::size_t> begun{0};
    std::atomic<bool> late{false};
    try {
        ForEach(count, [&](std::size_t) {
            ++begun;
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
            while (begun < count && !late) {
                if (std::chrono::steady_clock::now() >= until) {
                    late = true;
                    engine_seams::WarmUpWaitedInVain();
                    break;
                }
                std::this_thread::yield();
            }
        });
    } catch (const std::exception&) {
        // nothing was set up ahead; the first batch does it
    }
}

void ForEach(std::size_t count, const std::function<void(std::size_t)>& task) {
    if (count == 0) {
        return;
    }
    Batch batch(count, task);
    const std::size_t helpers = std::min<std::size_t>(ThreadCount(), count) - 1;
    if (helpers == 0) {
        batch.Work();
    } else {
        Pool::Get().Run(batch, helpers);
    }
    batch.RethrowFirst();
}

void RunCostliestFirst(std::vector<Job>& jobs) {
    std::stable_sort(jobs.begin(), jobs.end(),
                     [](const Job& first, const Job& second) { return first.work > second.work; });
    const auto free =
        std::find_if(jobs.begin(), jobs.end(), [](const Job& job) { return job.work <= 0; });
    const auto costly = static_cast<std::size_t>(free - jobs.begin());
    std::exception_ptr failed;
    try {
        ForEach(costly, [&jobs](std::size_t index) { jobs[index].run(); });
    } catch (...) {
        failed = std::current_exception();  // the cheap ones still run, as every job does
    }
    for (auto job = free; job != jobs.end(); ++job) {
        job->run();
    }
    if (failed) {
        std::rethrow_exception(failed);
    }
}

}  // namespace parallel
