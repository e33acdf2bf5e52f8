#include "pkcs12/parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>
#include <vector>

#include "pkcs12/openssl_context.h"
#include "pkcs12/seams.h"
#include "platform/memory_api.h"
#include "platform/process_api.h"

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
// a helper sets the caller's; the OpenSSL calls left key material in dead frames below this
// one, and the C library keeps an ended thread's stack for the next: wiped before it ends.
[[gnu::noinline]] void WorkOnOwnThread(Batch& batch) noexcept {
    {
        const ossl::ScopedContext context(batch.library());  // its end clears the error queue
        batch.Work();
    }
    WipeStackBelowCaller();
    engine_seams::WorkEnded();
}

// Starts up to `helpers` threads on `batch`, as far as the system gives them.
std::vector<std::jthread> StartHelpers(Batch& batch, std::size_t helpers) noexcept {
    std::vector<std::jthread> threads;
    try {
        threads.reserve(helpers);
        while (threads.size() < helpers) {
            engine_seams::BeforeThreadStart();
            threads.emplace_back([&batch] {
                // A thread other processes could read leaves the work to the others.
                if (ShutOutOtherProcessesFromThisThread()) {
                    WorkOnOwnThread(batch);
                }
            });
        }
    } catch (const std::exception&) {
        // those there are, the caller at least, do it all
    }
    return threads;
}

// ForEach on at most `threads` threads.
void RunOn(std::size_t threads, std::size_t count, const std::function<void(std::size_t)>& task) {
    if (count == 0) {
        return;
    }
    Batch batch(count, task);
    {
        const std::vector<std::jthread> helpers = StartHelpers(batch, std::min(threads, count) - 1);
        batch.Work();
    }  // joins the helpers
    batch.RethrowFirst();
}

}  // namespace

unsigned ThreadCount() noexcept {
    // The C library reads the count from the system at every call: once is enough.
    static const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return std::max(1u, engine_seams::ThreadCount(cores));
}

void ForEach(std::size_t count, const std::function<void(std::size_t)>& task) {
    RunOn(ThreadCount(), count, task);
}

void RunCostliestFirst(std::vector<Job>& jobs) {
    std::stable_sort(jobs.begin(), jobs.end(),
                     [](const Job& first, const Job& second) { return first.work > second.work; });
    std::int64_t besides = 0;
    for (std::size_t i = 1; i < jobs.size(); ++i) {
        besides += std::max<std::int64_t>(jobs[i].work, 0);
    }
    RunOn(besides < kWorthAnotherThread ? 1 : ThreadCount(), jobs.size(),
          [&jobs](std::size_t index) { jobs[index].run(); });
}

}  // namespace parallel
