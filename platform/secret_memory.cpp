#include "platform/secret_memory.h"

#include <new>

#include "platform/memory_api.h"

namespace {

// Set once at start-up, before the threads that read it exist.
LockedArena g_arena{};

}  // namespace

void KeepSecretsIn(const LockedArena& arena) noexcept {
    g_arena = arena;
}

void* AllocateSecretBlock(std::size_t bytes) {
    if (g_arena.allocate != nullptr) {
        if (void* const block = g_arena.allocate(bytes)) {
            return block;
        }
    }
    // A file whose secrets outgrow the arena still works, in wiped ordinary memory.
    return ::operator new(bytes);
}

void ReleaseSecretBlock(void* block, std::size_t bytes) noexcept {
    if (block == nullptr) {
        return;
    }
    SecureZeroMemory(block, bytes);
    if (g_arena.holds != nullptr && g_arena.holds(block)) {
        g_arena.release(block, bytes);
    } else {
        ::operator delete(block);
    }
}
