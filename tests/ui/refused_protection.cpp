// Stands in for the program's protections in a test build of it: they cannot be set, as when
// the system refuses them.
#include "ui/process_protection.h"

bool ProtectProcess() noexcept {
    return false;
}
