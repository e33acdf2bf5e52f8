#include "platform/parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>
#include <vector>

#include "platform/memory_api.h"
#include "platform/openssl_context.h"

namespace parallel {
namespace {

std::atomic<unsigned> g_forcedThreads{0};
std::atomic<void (*)()> g_threadEndObserver{nullptr};

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
};

// The library context is the calling thread's default only, so a thread of its own sets it.
// Its OpenSSL calls left key material in dead frames below this one: wiped before it ends.
[[gnu::noinline]] void WorkOnOwnThread(Batch& batch) noexcept {
    {
        const ossl::ScopedContext context;  // its end clears this thread's error queue
        batch.Work();
    }
    WipeStackBelowCaller();
    if (const auto observer = g_threadEndObserver.load()) {
        observer();
    }
}

}  // namespace

unsigned ThreadCount() noexcept {
    const unsigned forced = g_forcedThreads.load();
    // The C library reads the count from the system at every call: once is enough.
    static const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return forced != 0 ? forced : cores;
}

void WarmUp() noexcept {
    try {
        ForEach(ThreadCount(), [](std::size_t) {});
    } catch (const std::exception&) {
        // nothing was set up ahead; the first batch does it
    }
}

void ForEach(std::size_t count, const std::function<void(std::size_t)>& task) {
    if (count == 0) {
        return;
    }
    Batch batch(count, task);
    {
        const std::size_t helpers = std::min<std::size_t>(ThreadCount(), count) - 1;
        std::vector<std::jthread> threads;  // each joined when the vector goes
        threads.reserve(helpers);
        for (std::size_t i = 0; i < helpers; ++i) {
            try {
                threads.emplace_back(WorkOnOwnThread, std::ref(batch));
            } catch (const std::exception&) {
                break;  // no thread to be had: those there are, the caller at least, do it all
            }
        }
        batch.Work();
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

ScopedThreadCountForTesting::ScopedThreadCountForTesting(unsigned threads) noexcept
    : m_previous(g_forcedThreads.exchange(std::max(1u, threads))) {}

ScopedThreadCountForTesting::~ScopedThreadCountForTesting() {
    g_forcedThreads = m_previous;
}

void SetThreadEndObserverForTesting(void (*observer)()) noexcept {
    g_threadEndObserver = observer;
}

}  // namespace parallel
