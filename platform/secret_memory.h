#pragma once
// Where the blocks of the secret type come from: a locked arena, once the program has one, and
// otherwise the heap. The arena's pages are never paged out and are left out of core dumps, so
// a PIN or key in it reaches the disk neither through swap nor through a crash.

#include <cstddef>

// The arena the program sets up at start-up (pkcs12/openssl_memory.h).
struct LockedArena {
    void* (*allocate)(std::size_t bytes) noexcept;  // null when the arena is full
    bool (*holds)(const void* block) noexcept;
    void (*release)(void* block, std::size_t bytes) noexcept;
};

// From now on, secrets' blocks come from `arena` where it has room. Blocks made before stay in
// the heap and go back there. Called before any thread that handles secrets starts.
void KeepSecretsIn(const LockedArena& arena) noexcept;

// A block of `bytes` for a secret; throws std::bad_alloc when there is none.
void* AllocateSecretBlock(std::size_t bytes);
// Wipes the block and gives it back to where it came from.
void ReleaseSecretBlock(void* block, std::size_t bytes) noexcept;
