#pragma once
// The one type for secrets: passwords, PINs, and bytes that may hold a key. Its units live in a
// block of their own, never inside the object (no small-string storage), and every block it ever
// owned is wiped when it is given back: on growth, on assignment, on clearing and at the end. Moves
// hand the block over; copies are not made behind its back, only by Assign.

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

#include "platform/memory_api.h"
#include "platform/win32_types.h"

// An allocator that wipes each block before releasing it.
template <typename T>
struct WipingAllocator {
    using value_type = T;

    WipingAllocator() noexcept = default;
    template <typename U>
    WipingAllocator(const WipingAllocator<U>&) noexcept {}  // NOLINT: rebinding converts

    T* allocate(std::size_t count) { return std::allocator<T>().allocate(count); }
    void deallocate(T* block, std::size_t count) noexcept {
        SecureZeroMemory(block, count * sizeof(T));
        std::allocator<T>().deallocate(block, count);
    }

    friend bool operator==(const WipingAllocator&, const WipingAllocator&) noexcept { return true; }
};

// A zero-terminated secret of code units: char for UTF-8, WCHAR for UTF-16, unsigned char for
// bytes (the zero then is not part of them).
template <typename Char>
class BasicSecret {
public:
    BasicSecret() noexcept = default;
    BasicSecret(const Char* text, std::size_t length) { Append(text, length); }
    // `length` zero units to be written through data(), e.g. by a conversion.
    static BasicSecret Zeroed(std::size_t length) {
        BasicSecret secret;
        secret.m_units.resize(length + 1);
        return secret;
    }

    BasicSecret(const BasicSecret&) = delete;
    BasicSecret& operator=(const BasicSecret&) = delete;
    BasicSecret(BasicSecret&& other) noexcept = default;  // the block moves, `other` is left empty
    BasicSecret& operator=(BasicSecret&& other) noexcept {
        BasicSecret taken(std::move(other));
        m_units.swap(taken.m_units);  // the old block goes, wiped, with `taken`
        return *this;
    }
    ~BasicSecret() = default;  // the allocator wipes

    const Char* c_str() const noexcept { return m_units.empty() ? &kEmpty : m_units.data(); }
    const Char* data() const noexcept { return c_str(); }
    Char* data() noexcept { return m_units.empty() ? nullptr : m_units.data(); }
    std::size_t size() const noexcept { return m_units.empty() ? 0 : m_units.size() - 1; }
    bool empty() const noexcept { return size() == 0; }

    // Replaces the contents; `text` may point into them.
    void Assign(const Char* text, std::size_t length) { *this = BasicSecret(text, length); }
    void Reserve(std::size_t length) { m_units.reserve(length + 1); }
    void Append(const Char* text, std::size_t length) {
        if (length == 0) {
            return;
        }
        if (m_units.empty()) {
            m_units.push_back(0);
        }
        m_units.insert(m_units.end() - 1, text, text + length);
    }
    void Append(Char unit) { Append(&unit, 1); }
    // Gives the block back, wiped.
    void Clear() noexcept { BasicSecret().m_units.swap(m_units); }

    friend bool operator==(const BasicSecret& first, const BasicSecret& second) noexcept {
        return first.size() == second.size() &&
               std::equal(first.c_str(), first.c_str() + first.size(), second.c_str());
    }

private:
    static constexpr Char kEmpty = 0;
    std::vector<Char, WipingAllocator<Char>> m_units;  // the units and a terminating zero, or none
};

using Secret = BasicSecret<char>;
using WideSecret = BasicSecret<WCHAR>;
using SecretBytes = BasicSecret<unsigned char>;
