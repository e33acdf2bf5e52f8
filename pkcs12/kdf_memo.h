#pragma once
// Key derivations made ahead of time, kept by their inputs. While a recording lives on a thread,
// the tool's provider (kdf_provider.h) keeps there what each derivation on that thread gave;
// while a memo is served, a derivation of exactly the inputs of one kept (password, salt,
// iterations, digest, id, length, every parameter) gets that result instead. A memo can thus
// only make a derivation faster, never give another result. Everything kept is wiped when it
// goes.

#include <cstddef>
#include <vector>

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

// For the provider, at each derivation whose inputs it knows. Serve writes the `length` bytes
// kept for `inputs` to `key` where a memo served holds them, and says whether it did; Record
// keeps what was derived where the calling thread records.
bool Serve(const Secret& inputs, unsigned char* key, std::size_t length);
void Record(Secret inputs, const unsigned char* key, std::size_t length);

// For tests: how many derivations memos have served so far, and how many results memos hold.
std::size_t ServedForTesting() noexcept;
std::size_t KeptForTesting() noexcept;

}  // namespace kdfmemo
