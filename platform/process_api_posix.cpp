#include "platform/process_api.h"

#include <sys/prctl.h>
#include <sys/resource.h>

bool ForbidCoreDumps() noexcept {
    // Both: a core pattern that pipes to a program ignores RLIMIT_CORE, and the limit also
    // holds after an exec, which resets the dumpable flag.
    const rlimit none{0, 0};
    const bool notDumpable = prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
    return setrlimit(RLIMIT_CORE, &none) == 0 && notDumpable;
}
