#include <gtest/gtest.h>
#include <linux/capability.h>
#include <openssl/crypto.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>

#include "pkcs12/openssl_memory.h"
#include "platform/secret.h"

namespace {

// Where the user may lock nothing, secrets still have their arena, only unlocked.
// A fresh process that may lock nothing: 0 when the arena is there, unlocked, and holds secrets.
// (root's CAP_IPC_LOCK would lock beyond any limit, so it goes too).
[[noreturn]] void SetUpWithoutLocking() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct capabilities[2]{};
    syscall(SYS_capget, &header, capabilities);
    capabilities[CAP_IPC_LOCK / 32].effective &= ~(1u << (CAP_IPC_LOCK % 32));
    syscall(SYS_capset, &header, capabilities);
    const rlimit none{0, 0};
    setrlimit(RLIMIT_MEMLOCK, &none);
    const bool unlocked = KeepSecretsInLockedMemory() == SecretMemoryLock::Unlocked;
    const Secret pin("1234", 4);
    std::exit(unlocked && CRYPTO_secure_allocated(pin.data()) == 1 ? 0 : 1);
}

// Where the user may lock nothing, secrets still have their arena, only unlocked.
TEST(KeepSecretsInLockedMemory, WorksUnlockedWhereLockingIsRefused) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // a process whose arena is not yet set up
    EXPECT_EXIT(SetUpWithoutLocking(), testing::ExitedWithCode(0), "");
}

}  // namespace
