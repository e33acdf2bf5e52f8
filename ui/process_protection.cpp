#include "ui/process_protection.h"

#include "pkcs12/openssl_memory.h"
#include "platform/process_api.h"

bool ProtectProcess() noexcept {
    if (!LoadLibrariesFromSystemFolderOnly() || !ShutOutOtherProcesses() || !ForbidCoreDumps() ||
        !WipeOpensslMemoryOnRelease()) {
        return false;
    }
    // Without locked memory the secrets are still wiped; only paging could write them out.
    static_cast<void>(KeepSecretsInLockedMemory());
    return true;
}
