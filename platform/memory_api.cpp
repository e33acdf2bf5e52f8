#include "platform/memory_api.h"

#include <array>

// Not inlined, so that the region lies below the caller's frame; SecureZeroMemory may not be
// optimised away, so the writes stay.
[[gnu::noinline]] void WipeStackBelowCaller() noexcept {
    std::array<unsigned char, kWipedStackBytes> region;
    SecureZeroMemory(region.data(), region.size());
}

// Every byte is read, through volatile so that none is skipped, and the differences are gathered
// without a branch.
bool SameBytes(const void* first, const void* second, std::size_t size) noexcept {
    const auto* const a = static_cast<const volatile unsigned char*>(first);
    const auto* const b = static_cast<const volatile unsigned char*>(second);
    unsigned char differences = 0;
    for (std::size_t i = 0; i < size; ++i) {
        differences |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return differences == 0;
}
