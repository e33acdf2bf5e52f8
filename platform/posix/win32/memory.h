#pragma once
// The Windows function that wipes memory, for systems other than Windows.

#include <cstddef>

// Wipes memory that held a secret; the compiler may not optimise it away.
void SecureZeroMemory(void* destination, std::size_t length) noexcept;
