#include "ui/framework/worker_thread.h"

#include <exception>
#include <thread>

#include "ui/framework/busy_wait.h"

void RunOnWorkerThread(CWnd& window, const std::function<void()>& work) {
    const CWaitCursor cursor;
    CBusyWait wait(window);
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        wait.Finish();
    });
    wait.Run();
    // Run returns once Finish has begun; the wait lives until Finish is through.
    worker.join();
    if (failure) {
        std::rethrow_exception(failure);
    }
}
