#pragma once
// OpenSSL's memory functions, set to the tool's own, and its secure heap for the tool's secrets.

#include <cstddef>

// Makes OpenSSL wipe every block it gives back. Some of its frees are not wiped otherwise:
// the PKCS#12 key derivation frees the salt and password (as BMPString) and the derived key
// as they were. Takes effect only before OpenSSL's first allocation; false after it.
bool WipeOpensslMemoryOnRelease() noexcept;

// How much of what keeps secrets is locked against paging.
enum class SecretMemoryLock {
    Locked,    // the arena is locked and left out of core dumps
    Unlocked,  // the arena exists, but the system refused to lock it (RLIMIT_MEMLOCK)
    None,      // no arena: secrets live in wiped ordinary memory
};

// OpenSSL's secure heap: room for the PINs, derived keys and decrypted keys and values of a
// change of a soft certificate many times over, and half of the 8 MiB Linux lets a user lock by
// default. What does not fit lives in wiped ordinary memory.
inline constexpr std::size_t kSecretArenaBytes = 4u * 1024 * 1024;

// Sets up OpenSSL's secure heap, which OpenSSL then uses for private keys' numbers, and makes it
// where the secret type's blocks come from. Called once at start-up, after
// WipeOpensslMemoryOnRelease and before any secret exists. The tool works whatever it returns.
SecretMemoryLock KeepSecretsInLockedMemory() noexcept;
