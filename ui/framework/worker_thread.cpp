#include "ui/framework/worker_thread.h"

#include <exception>
#include <thread>

#include "platform/process_api.h"
#include "ui/framework/busy_wait.h"
#include "ui/framework/seams.h"

bool RunOnWorkerThread(CWnd& window, const std::function<void()>& work) {
    const CWaitCursor cursor;
    CBusyWait wait(window);
    std::exception_ptr failure;
    bool started = true;
    std::thread worker;
    try {
        framework_seams::RunThreadStartHook();
        worker = std::thread([&] {
            try {
                // A thread other processes could read is as good as none.
                if (ShutOutOtherProcessesFromThisThread()) {
                    work();
                } else {
                    started = false;
                }
            } catch (...) {
                failure = std::current_exception();
            }
            wait.Finish();
        });
    } catch (const std::exception&) {
        // The system gave no thread (std::system_error), or no memory to start one with. Run
        // here, the work would stop the windows; the caller tells the user.
        return false;
    }
    wait.Run();
    // Run returns once Finish has begun; the wait lives until Finish is through.
    worker.join();
    if (failure) {
        std::rethrow_exception(failure);
    }
    return started;
}
