#include "platform/process_api.h"

#include <sys/prctl.h>
#include <sys/resource.h>

#include <algorithm>

namespace {

// Not dumpable: no core file, and other processes of the same user may neither ptrace the
// process nor read /proc/PID/mem.
bool NotDumpable() noexcept {
    return prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
}

}  // namespace

bool LoadLibrariesFromSystemFolderOnly() noexcept {
    // The dynamic linker never searches the program's or the current folder, only the system's
    // and the paths set at build time.
    return true;
}

bool ShutOutOtherProcesses() noexcept {
    return NotDumpable();
}

bool ShutOutOtherProcessesFromThisThread() noexcept {
    return true;  // the process's flag holds for all its threads
}

bool ForbidCoreDumps() noexcept {
    // Both: a core pattern that pipes to a program ignores RLIMIT_CORE, and the limit also
    // holds after an exec, which resets the dumpable flag.
    const rlimit none{0, 0};
    const bool notDumpable = NotDumpable();
    return setrlimit(RLIMIT_CORE, &none) == 0 && notDumpable;
}

void AllowLockingMemory(std::size_t bytes) noexcept {
    rlimit limit{};
    if (getrlimit(RLIMIT_MEMLOCK, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        limit.rlim_cur < bytes) {
        limit.rlim_cur = std::min<rlim_t>(bytes, limit.rlim_max);
        setrlimit(RLIMIT_MEMLOCK, &limit);
    }
}
