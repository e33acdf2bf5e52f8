#include <windows.h>

#include "pkcs12/parallel_process.h"

namespace parallel {

ProcessId ThisProcess() noexcept {
    return GetCurrentProcessId();
}

}  // namespace parallel
