#include "platform/memory_api.h"

#include <array>

// Not inlined, so that the region lies below the caller's frame; SecureZeroMemory may not be
// optimised away, so the writes stay.
[[gnu::noinline]] void WipeStackBelowCaller() noexcept {
    std::array<unsigned char, kWipedStackBytes> region;
    SecureZeroMemory(region.data(), region.size());
}
