// The file replacement's seam as test programs have it.
#include <atomic>

#include "buffer/seams.h"
#include "tests/support/buffer_switches.h"

namespace {

std::atomic<void (*)()> g_pauseObserver{nullptr};

}  // namespace

namespace buffer_seams {

void Pausing() noexcept {
    if (const auto observer = g_pauseObserver.load()) {
        observer();
    }
}

}  // namespace buffer_seams

namespace buffer_switches {

void SetPauseObserver(void (*observer)()) noexcept {
    g_pauseObserver = observer;
}

}  // namespace buffer_switches
