#pragma once
// The one type for secrets: passwords, PINs, and bytes that may hold a key. Its units live in a
// block of their own, never inside the object (no small-string storage), and every block it ever
// owned is wiped when it is given back: on growth, on assignment, on clearing and at the end. Moves
// hand the block over; copies are not made behind its back, only by Assign.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "platform/memory_api.h"
#include "platform/secret_memory.h"
#include "platform/win32_types.h"

// A block of units from the locked arena (or the heap, see secret_memory.h), wiped before it is
// released.
template <typename Char>
class WipedBlock {
public:
    WipedBlock() noexcept = default;
    explicit WipedBlock(std::size_t count)
        : m_units(static_cast<Char*>(AllocateSecretBlock(count * sizeof(Char)))), m_count(count) {}
    WipedBlock(const WipedBlock&) = delete;
    WipedBlock& operator=(const WipedBlock&) = delete;
    WipedBlock(WipedBlock&& other) noexcept
        : m_units(std::exchange(other.m_units, nullptr)),
          m_count(std::exchange(other.m_count, 0)) {}
    WipedBlock& operator=(WipedBlock&& other) noexcept {
        WipedBlock taken(std::move(other));
        std::swap(m_units, taken.m_units);  // the old block goes, wiped, with `taken`
        std::swap(m_count, taken.m_count);
        return *this;
    }
    ~WipedBlock() { ReleaseSecretBlock(m_units, m_count * sizeof(Char)); }

    Char* data() const noexcept { return m_units; }
    std::size_t count() const noexcept { return m_count; }

private:
    Char* m_units = nullptr;
    std::size_t m_count = 0;
};

// A zero-terminated secret of code units: char for UTF-8, WCHAR for UTF-16, unsigned char for
// bytes (the zero then is not part of them). The units are copied as bytes.
template <typename Char>
class BasicSecret {
    static_assert(std::is_trivially_copyable_v<Char>);

public:
    BasicSecret() noexcept = default;
    BasicSecret(const Char* text, std::size_t length) { Append(text, length); }
    // `length` zero units to be written through data(), e.g. by a conversion.
    static BasicSecret Zeroed(std::size_t length) {
        BasicSecret secret;
        secret.m_block = WipedBlock<Char>(length + 1);
        std::memset(secret.m_block.data(), 0, (length + 1) * sizeof(Char));
        secret.m_size = length;
        return secret;
    }

    BasicSecret(const BasicSecret&) = delete;
    BasicSecret& operator=(const BasicSecret&) = delete;
    // The block moves, `other` is left empty.
    BasicSecret(BasicSecret&& other) noexcept
        : m_block(std::move(other.m_block)), m_size(std::exchange(other.m_size, 0)) {}
    BasicSecret& operator=(BasicSecret&& other) noexcept {
        BasicSecret taken(std::move(other));
        std::swap(m_block, taken.m_block);  // the old block goes, wiped, with `taken`
        std::swap(m_size, taken.m_size);
        return *this;
    }
    ~BasicSecret() = default;  // the block wipes itself

    const Char* c_str() const noexcept {
        return m_block.data() != nullptr ? m_block.data() : &kEmpty;
    }
    const Char* data() const noexcept { return c_str(); }
    Char* data() noexcept { return m_block.data(); }
    std::size_t size() const noexcept { return m_size; }
    bool empty() const noexcept { return m_size == 0; }

    // Replaces the contents; `text` may point into them.
    void Assign(const Char* text, std::size_t length) { *this = BasicSecret(text, length); }
    void Reserve(std::size_t length) {
        if (length > kMaxUnits) {
            throw std::bad_alloc();
        }
        if (length + 1 > m_block.count()) {
            MoveTo(WipedBlock<Char>(length + 1));
            m_block.data()[m_size] = 0;
        }
    }
    void Append(const Char* text, std::size_t length) {
        if (length == 0) {
            return;
        }
        if (length > kMaxUnits - m_size) {
            throw std::bad_alloc();
        }
        if (m_size + length + 1 > m_block.count()) {
            // The old block, `text` perhaps within it, is released only after the copy.
            WipedBlock<Char> grown(std::max(m_size + length + 1, 2 * m_block.count()));
            std::memcpy(grown.data() + m_size, text, length * sizeof(Char));
            MoveTo(std::move(grown));
        } else {
            std::memmove(m_block.data() + m_size, text, length * sizeof(Char));
        }
        m_size += length;
        m_block.data()[m_size] = 0;
    }
    void Append(Char unit) { Append(&unit, 1); }
    // Cuts the units to the first `length`, wiping the rest in place.
    void Truncate(std::size_t length) noexcept {
        if (length < m_size) {
            SecureZeroMemory(m_block.data() + length, (m_size - length) * sizeof(Char));
            m_size = length;
        }
    }
    // Gives the block back, wiped.
    void Clear() noexcept { *this = BasicSecret(); }

    // Secrets are compared with SameSecret only.
    friend bool operator==(const BasicSecret& first, const BasicSecret& second) = delete;

private:
    // Copies the units into `block`, which then holds them; the caller terminates them.
    void MoveTo(WipedBlock<Char> block) noexcept {
        if (m_size > 0) {
            std::memcpy(block.data(), m_block.data(), m_size * sizeof(Char));
        }
        m_block = std::move(block);
    }

    static constexpr Char kEmpty = 0;
    // Room for the terminating zero and for doubling, in bytes.
    static constexpr std::size_t kMaxUnits = PTRDIFF_MAX / sizeof(Char) / 2 - 1;
    WipedBlock<Char> m_block;  // the units and a terminating zero, or none
    std::size_t m_size = 0;
};

using Secret = BasicSecret<char>;
using WideSecret = BasicSecret<WCHAR>;
using SecretBytes = BasicSecret<unsigned char>;

// Whether two secrets hold the same units, in a time that depends on their lengths only (which
// are not secret), not on where they differ.
template <typename Char>
bool SameSecret(const BasicSecret<Char>& first, const BasicSecret<Char>& second) noexcept {
    return first.size() == second.size() &&
           SameBytes(first.c_str(), second.c_str(), first.size() * sizeof(Char));
}
