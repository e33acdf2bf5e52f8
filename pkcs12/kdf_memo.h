#pragma once
// Key derivations made ahead of time. The tool's library context prefers a small provider of its
// own for PBKDF2 and the PKCS#12 KDF: it derives with hmac_kdf where that has the digest and
// takes every parameter given, hands every other derivation to OpenSSL's default provider, and
// while a recording lives on the thread keeps what came out; while a memo is served, a derivation
// of exactly the inputs of one kept (password, salt, iterations, digest, id, length, every
// parameter) gets that result instead. A memo can thus only make a derivation faster, never
// give another result. Everything kept is wiped when it goes.

#include <cstddef>
#include <vector>

#include <openssl/types.h>

#include "platform/secret.h"

namespace kdfmemo {

// The derivations one piece of work made: their inputs and their results.
class Memo {
public:
    struct Entry {
        Secret inputs;  // the algorithm, every parameter and the length, as one string
        Secret output;
    };

    Memo() noexcept;
    Memo(const Memo&) = delete;
    Memo& operator=(const Memo&) = delete;
    Memo(Memo&& other) noexcept;
    Memo& operator=(Memo&& other) noexcept;
    ~Memo();

    // Takes over the entries of `other`.
    void Absorb(Memo&& other);
    // The result kept for `inputs`, or null.
    const Secret* Find(const Secret& inputs) const noexcept;
    void Add(Entry entry);
    std::size_t size() const noexcept { return m_entries.size(); }

private:
    std::vector<Entry> m_entries;
};

// Keeps in `into` every derivation the calling thread makes while it lives.
class ScopedRecording {
public:
    explicit ScopedRecording(Memo& into) noexcept;
    ScopedRecording(const ScopedRecording&) = delete;
    ScopedRecording& operator=(const ScopedRecording&) = delete;
    ~ScopedRecording();

private:
    Memo* m_previous;
};

// While one lives, derivations on any thread whose inputs `memo` holds get its results. Only
// one at a time; `memo` must outlive it and not change meanwhile.
class ScopedServing {
public:
    explicit ScopedServing(const Memo& memo) noexcept;
    ScopedServing(const ScopedServing&) = delete;
    ScopedServing& operator=(const ScopedServing&) = delete;
    ~ScopedServing();
};

// Adds the provider to `context` and makes the context prefer it; null when it could not be
// loaded: derivations then run as they would without it, and nothing is kept. The caller
// unloads it before the context goes.
OSSL_PROVIDER* Install(OSSL_LIB_CTX* context) noexcept;

// Whether the provider is in use, so that deriving ahead can pay off.
bool Available() noexcept;

// For tests: how many derivations memos have served so far, how many were made by hmac_kdf,
// and how many results memos hold.
std::size_t ServedForTesting() noexcept;
std::size_t DerivedDirectlyForTesting() noexcept;
std::size_t KeptForTesting() noexcept;

}  // namespace kdfmemo
