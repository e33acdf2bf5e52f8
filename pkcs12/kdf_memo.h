#pragma once
// Key derivations made ahead of time, kept by their inputs. While a recording lives on a thread,
// the tool's provider (kdf_provider.h) keeps there what each derivation on that thread gave;
// while a thread serves a memo, a derivation there of exactly the inputs of one kept (password,
// salt, iterations, digest, id, length, every parameter) gets that result instead, once. A memo
// can thus only make a derivation faster, never give another result. Recording and serving are
// the calling thread's alone: what one export derived ahead is never served to another that runs
// at the same time. Everything kept is wiped when it goes.

#include <cstddef>
#include <mutex>
#include <optional>
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
    // Takes the result kept for `inputs` out of the memo, so that it serves it once; none where it
    // holds none.
    std::optional<Secret> Take(const Secret& inputs);
    void Add(Entry entry);
    std::size_t size() const;

private:
    // The threads of one export take from it at once. Not moved: a memo is not moved while served.
    mutable std::mutex m_mutex;
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

// While one lives, derivations on the calling thread whose inputs `memo` holds get its results,
// each once; `memo` must outlive it. The work that owns `memo` has one on each thread it derives
// on.
class ScopedServing {
public:
    explicit ScopedServing(Memo& memo) noexcept;
    ScopedServing(const ScopedServing&) = delete;
    ScopedServing& operator=(const ScopedServing&) = delete;
    ~ScopedServing();

private:
    Memo* m_previous;
};

// For the provider, at each derivation whose inputs it knows. Serve writes the `length` bytes
// kept for `inputs` to `key` where the calling thread serves a memo that holds them, and says
// whether it did; Record keeps what was derived where the calling thread records.
bool Serve(const Secret& inputs, unsigned char* key, std::size_t length);
void Record(Secret inputs, const unsigned char* key, std::size_t length);

}  // namespace kdfmemo
