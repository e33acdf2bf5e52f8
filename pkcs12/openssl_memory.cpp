#include "pkcs12/openssl_memory.h"

#include <openssl/crypto.h>

#include <cstdlib>
#include <cstring>

#include "platform/memory_api.h"
#include "platform/process_api.h"
#include "platform/secret_memory.h"

namespace {

void* Allocate(std::size_t size, const char* /*file*/, int /*line*/) {
    return std::malloc(size);
}

void Release(void* block, const char* /*file*/, int /*line*/) {
    if (block != nullptr) {
        SecureZeroMemory(block, HeapBlockSize(block));
        std::free(block);
    }
}

// Never the C library's realloc, which would give the old block back unwiped when it moves.
void* Reallocate(void* block, std::size_t size, const char* file, int line) {
    if (block == nullptr) {
        return Allocate(size, file, line);
    }
    if (size == 0) {
        Release(block, file, line);
        return nullptr;
    }
    const std::size_t usable = HeapBlockSize(block);
    if (size <= usable) {
        return block;
    }
    void* const moved = Allocate(size, file, line);
    if (moved != nullptr) {
        std::memcpy(moved, block, usable);
        Release(block, file, line);
    }
    return moved;
}

void* AllocateLocked(std::size_t bytes) noexcept {
    return CRYPTO_secure_malloc(bytes, nullptr, 0);  // null when full, no error queued
}

bool HoldsLocked(const void* block) noexcept {
    return CRYPTO_secure_allocated(block) == 1;
}

void ReleaseLocked(void* block, std::size_t bytes) noexcept {
    CRYPTO_secure_clear_free(block, bytes, nullptr, 0);
}

// The smallest block the arena hands out; most secrets (PINs, derived keys) fit in one.
constexpr std::size_t kSmallestSecretBlock = 32;

}  // namespace

bool WipeOpensslMemoryOnRelease() noexcept {
    return CRYPTO_set_mem_functions(Allocate, Reallocate, Release) == 1;
}

SecretMemoryLock KeepSecretsInLockedMemory() noexcept {
    AllowLockingMemory(kSecretArenaBytes);
    const int initialised = CRYPTO_secure_malloc_init(kSecretArenaBytes, kSmallestSecretBlock);
    if (initialised == 0) {
        return SecretMemoryLock::None;
    }
    KeepSecretsIn(LockedArena{AllocateLocked, HoldsLocked, ReleaseLocked});
    return initialised == 1 ? SecretMemoryLock::Locked : SecretMemoryLock::Unlocked;
}
