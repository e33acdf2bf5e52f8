#include <unistd.h>

#include "pkcs12/parallel_process.h"

namespace parallel {

ProcessId ThisProcess() noexcept {
    return static_cast<ProcessId>(getpid());
}

}  // namespace parallel
